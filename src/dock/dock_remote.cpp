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

} // namespace quillmar
