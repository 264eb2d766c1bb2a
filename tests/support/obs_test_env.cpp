#include "obs_test_env.h"

#include "fake_frontend.h"
#include "module/module.h"

#include <obs.hpp>

#include <QDir>
#include <QMainWindow>
#include <QTemporaryDir>

#include <cstdio>

namespace quillmar::test {

namespace {
obs_module_t *g_module = nullptr;
QTemporaryDir *g_configRoot = nullptr;
} // namespace

QString moduleConfigDir() { return g_configRoot->filePath(QStringLiteral("quillmar")); }

QString settingsPath() { return moduleConfigDir() + QStringLiteral("/settings.ini"); }

QString notesDir() { return moduleConfigDir() + QStringLiteral("/notes"); }

QString notePath(const QString &file) { return notesDir() + QLatin1Char('/') + file; }

void hostSave() { fake::emitSave(OBSDataAutoRelease(obs_data_create()), true); }

Scene::Scene(const char *name) : m_scene(obs_scene_create(name)) {}

Scene::~Scene()
{
	obs_source_remove(obs_scene_get_source(m_scene));
	obs_scene_release(m_scene);
}

obs_source_t *Scene::source() const { return obs_scene_get_source(m_scene); }

QString Scene::uuid() const { return QString::fromUtf8(obs_source_get_uuid(source())); }

void resetHost()
{
	fake::reset();
	QDir(moduleConfigDir()).removeRecursively();
}

int runWithObs(QObject *testObject, int argc, char **argv)
{
	QTemporaryDir configRoot;
	g_configRoot = &configRoot;
	if (!obs_startup("en-US", configRoot.path().toUtf8().constData(), nullptr)) {
		std::fprintf(stderr, "obs_startup failed (is DISPLAY set to an X server?)\n");
		return 2;
	}
	const QByteArray data = QUILLMAR_SOURCE_DIR "/data";
	if (obs_open_module(&g_module, QUILLMAR_TEST_MODULE, data.constData()) != MODULE_SUCCESS) {
		std::fprintf(stderr, "could not open the stand-in module %s\n", QUILLMAR_TEST_MODULE);
		obs_shutdown();
		return 2;
	}
	module::setPointer(g_module);
	module::setLocale("en-US");
	const int result = QTest::qExec(testObject, argc, argv);
	module::freeLocale();
	fake::reset();
	delete fake::mainWindow();
	obs_shutdown();
	g_configRoot = nullptr;
	return result;
}

} // namespace quillmar::test
