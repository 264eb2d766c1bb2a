#pragma once

// Starts the real libobs once per test executable (it needs an X display) with a temporary
// module configuration folder, and opens a stand-in module file named "quillmar" whose data
// folder is the project's data/, so that config paths and locale lookups go through libobs.

#include <obs-module.h>

#include <QApplication>
#include <QString>
#include <QTest>

namespace quillmar::test {

// The module's own folder under libobs' configuration root.
QString moduleConfigDir();
// The module's settings.ini, its notes folder and a file in it.
QString settingsPath();
QString notesDir();
QString notePath(const QString &file);

// A scene that releases itself.
class Scene {
public:
	explicit Scene(const char *name);
	~Scene();
	Scene(const Scene &) = delete;
	Scene &operator=(const Scene &) = delete;
	obs_source_t *source() const;
	obs_scene_t *scene() const { return m_scene; }
	QString uuid() const;

private:
	obs_scene_t *m_scene;
};

// The host saving its scene collection (the save callbacks with saving set).
void hostSave();

// A host with no callbacks, docks or scenes of the fake front-end, and an empty module folder.
void resetHost();

// Starts libobs, opens the stand-in module, points the module state at it with the en-US
// locale, runs the tests and shuts everything down.
int runWithObs(QObject *testObject, int argc, char **argv);

} // namespace quillmar::test

#define QUILLMAR_OBS_TEST_MAIN(TestClass)                                     \
	int main(int argc, char **argv)                                       \
	{                                                                     \
		QApplication app(argc, argv);                                 \
		TestClass tc;                                                 \
		return quillmar::test::runWithObs(&tc, argc, argv);           \
	}
