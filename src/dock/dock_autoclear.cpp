// Auto-clear of old notes.
#include "dock/dock.h"

#include <QSettings>
#include <QTimer>

namespace quillmar {

namespace {

constexpr int AutoClearMaxDays = 36500;

} // namespace

void Dock::readAutoClearSettings()
{
	const int days = m_settings->value(QStringLiteral("autoClear/days"), 0).toInt();
	m_autoClearDays = days < 0 || days > AutoClearMaxDays ? 0 : days;
	m_autoClearAll = m_settings->value(QStringLiteral("autoClear/all"), false).toBool();
	const QStringList scenes = m_settings->value(QStringLiteral("autoClear/scenes")).toStringList();
	m_autoClearScenes = QSet<QString>(scenes.begin(), scenes.end());
}

void Dock::rearmAutoClear()
{
	m_autoClearTimer->stop();
	if (m_autoClearDays > 0 && (m_autoClearAll || !m_autoClearScenes.isEmpty()))
		m_autoClearTimer->start(5000);
}

void Dock::stopAutoClear()
{
	m_autoClearTimer->stop();
}

void Dock::autoClearStep() {}

} // namespace quillmar
