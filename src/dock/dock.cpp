#include "dock/dock.h"

#include "module/text.h"

#include <QSettings>
#include <QVBoxLayout>

namespace quillmar {

Dock::Dock(const QString &settingsPath, QWidget *parent)
	: QWidget(parent), m_settings(new QSettings(settingsPath, QSettings::IniFormat, this))
{
	setObjectName(QStringLiteral("QuillmarContent"));
	setMinimumSize(700, 300);
	auto *layout = new QVBoxLayout(this);
	layout->setContentsMargins(4, 4, 4, 4);
	layout->setSpacing(3);
}

Dock::~Dock()
{
	shutdown();
}

void Dock::onFrontendEvent(enum obs_frontend_event)
{
}

void Dock::onSceneRenamed(obs_source_t *scene)
{
	if (m_closing)
		return;
	Q_EMIT sceneRenamed(QString::fromUtf8(obs_source_get_uuid(scene)));
}

bool Dock::saveNote(bool, bool)
{
	return !m_closing;
}

void Dock::runHotkeyAction(int action)
{
	if (m_closing || action < 0 || action > 9)
		return;
}

void Dock::postLoad()
{
}

void Dock::storeReadingPositions()
{
	m_settings->sync();
}

void Dock::shutdown()
{
	if (m_shutdownDone)
		return;
	m_shutdownDone = true;
	saveNote(true, true);
	storeReadingPositions();
	m_closing = true;
	Q_EMIT shutDown();
}

} // namespace quillmar
