#include "dock/dock.h"

#include "editor/editor.h"
#include "module/text.h"

#include <QLabel>
#include <QToolTip>

namespace quillmar {

QString Dock::statusMessage() const
{
	return m_saveStatus->toolTip();
}

// The label only shows "]"; the message is its tooltip and what screen readers announce.
void Dock::setStatus(const QString &message)
{
	m_saveStatus->setToolTip(message);
	m_saveStatus->setAccessibleName(message);
}

void Dock::showSaveError(const QString &detail)
{
	const QString failed = text("NoteSaveFailed");
	m_saveError->setText(QStringLiteral("! ") + failed);
	m_saveError->setToolTip(detail);
	m_saveError->setAccessibleName(failed + QLatin1Char(' ') + detail);
	m_saveError->show();
}

void Dock::hideSaveError()
{
	m_saveError->hide();
}

void Dock::showLimitMessage()
{
	const QString message = text("TextLimit");
	setStatus(message);
	const QPoint corner = m_editor->viewport()->mapToGlobal(m_editor->cursorRect().bottomRight());
	QToolTip::showText(corner, message, m_editor, QRect());
}

void Dock::applySceneLabelStyle()
{
	const QString sheet = m_locked ? QStringLiteral("font-weight: bold; color: palette(highlight);")
				       : QStringLiteral("font-weight: bold;");
	if (m_sceneLabel->styleSheet() != sheet)
		m_sceneLabel->setStyleSheet(sheet);
}

} // namespace quillmar
