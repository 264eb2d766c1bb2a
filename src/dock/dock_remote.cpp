// The dock's side of the remote service.
#include "dock/dock.h"

#include "editor/editor.h"
#include "remote/remote.h"

#include <QClipboard>
#include <QGuiApplication>
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

void Dock::hideRemotePopup()
{
	if (m_remote)
		m_remote->hideQrPopup();
}

void Dock::openRemotePopup()
{
	if (!m_remote)
		return;
	const QString link = m_remote->url();
	if (!link.isEmpty())
		QGuiApplication::clipboard()->setText(link);
	m_remote->toggleQrPopup(m_editor->viewport());
}

void Dock::openRemoteSettings()
{
	if (m_remote)
		m_remote->openSettings(this);
}

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

} // namespace quillmar
