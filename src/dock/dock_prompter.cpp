// The prompter window: opening it, and keeping it on the dock's note and position.
#include "dock/dock.h"

#include "dock/prompter_window.h"
#include "editor/editor.h"

#include <QAction>
#include <QScrollBar>

namespace quillmar {

void Dock::openPrompterWindow()
{
	if (m_closing)
		return;
	if (!m_prompterWindow) {
		m_prompterWindow = new PrompterWindow(m_settings);
		m_prompterWindow->setSource(m_editor->document());
	}
	syncPrompterWindow();
	m_prompterWindow->present();
}

PrompterWindow *Dock::prompterWindow() const
{
	return m_prompterWindow.data();
}

void Dock::syncPrompterWindow()
{
	if (!m_prompterWindow)
		return;
	const QScrollBar *bar = m_editor->verticalScrollBar();
	const double range = bar->maximum() - bar->minimum();
	const double position = isScrolling() ? m_motion.position() : double(bar->value());
	m_prompterWindow->setFraction(range >= 1 ? (position - bar->minimum()) / range : 0.0);
	m_prompterWindow->setReadingBand(m_readingGuideAction->isChecked());
}

void Dock::closePrompterWindow()
{
	delete m_prompterWindow.data();
}

} // namespace quillmar
