#pragma once

#include <obs-frontend-api.h>
#include <obs.h>

#include <QPointer>
#include <QWidget>

class QSettings;

namespace quillmar {

// The one panel the module adds to the host's main window.
class Dock : public QWidget {
	Q_OBJECT

public:
	Dock(const QString &settingsPath, QWidget *parent = nullptr);
	~Dock() override;

	QSettings *settings() const { return m_settings; }
	bool isClosing() const { return m_closing; }

	// Host integration.
	void onFrontendEvent(enum obs_frontend_event event);
	void onSceneRenamed(obs_source_t *scene);
	bool saveNote(bool reportResult, bool skipCollectionSave);
	void runHotkeyAction(int action);
	void postLoad();

	// Runs once: later calls do nothing.
	void shutdown();

Q_SIGNALS:
	void sceneRenamed(const QString &uuid);
	void shutDown();

private:
	void storeReadingPositions();

	QSettings *m_settings = nullptr;
	bool m_closing = false;
	bool m_shutdownDone = false;
};

} // namespace quillmar
