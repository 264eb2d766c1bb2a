// The dock's side of the remote service.
#include "dock/dock.h"

#include "editor/editor.h"
#include "remote/remote.h"

#include <QScrollBar>
#include <QTextBlock>

#include <cmath>

namespace quillmar {

void Dock::setUpRemote()
{
	m_remote = new Remote(this, m_settings);
}

void Dock::startRemote()
{
	if (m_remote && !m_closing)
		m_remote->start();
}

void Dock::hideRemotePopup() {}
void Dock::openRemotePopup() {}

void Dock::shutdownRemote()
{
	if (m_remote)
		m_remote->shutdown();
}

void Dock::notifyRemoteNoteChanged(const QString &uuid)
{
	if (m_remote)
		m_remote->noteChanged(uuid);
}

void Dock::notifyRemoteStateChanged()
{
	if (m_remote)
		m_remote->stateChanged();
}

void Dock::notifyRemoteCollectionChanging(bool changing)
{
	if (m_remote)
		m_remote->setLoading(changing);
}

void Dock::notifyRemoteLockChanged()
{
	if (m_remote)
		m_remote->lockChanged();
}

void Dock::notifyRemoteReadingPosition()
{
	if (m_remote)
		m_remote->scrollChanged();
}

bool Dock::remoteScrolling() const
{
	return isScrollingOrCountingDown();
}

bool Dock::remoteSeek(const QString &target)
{
	if (m_closing || !m_editor->isEnabled())
		return false;
	QString number = target.trimmed();
	if (number.size() > 10)
		return false;
	const bool percent = number.endsWith(QLatin1Char('%'));
	if (percent)
		number.chop(1);
	bool parsed = false;
	const int n = number.toInt(&parsed, 10);
	const int paragraphs = m_editor->document()->blockCount();
	if (!parsed || n < (percent ? 0 : 1) || n > (percent ? 100 : paragraphs))
		return false;
	if (isScrollingOrCountingDown())
		stopScrolling();
	QScrollBar *bar = m_editor->verticalScrollBar();
	if (percent) {
		bar->setValue(int(qint64(bar->maximum()) * n / 100));
		return true;
	}
	QTextCursor cursor(m_editor->document()->findBlockByNumber(n - 1));
	m_editor->setTextCursor(cursor);
	m_editor->ensureCursorVisible();
	const int readingLine = int(std::lround(m_editor->viewport()->height() * 0.382));
	bar->setValue(m_editor->cursorRect().top() - readingLine + bar->value());
	return true;
}

} // namespace quillmar
