#include "module/module.h"

#include "dock/dock.h"
#include "module/hotkeys.h"
#include "module/text.h"

#include <obs-frontend-api.h>
#include <obs.hpp>
#include <util/text-lookup.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMainWindow>
#include <QPointer>

#include <atomic>
#include <memory>

namespace quillmar {
namespace module {

namespace {

obs_module_t *g_module = nullptr;
// QPointer's shared count is atomic, so a copy taken on a host thread can be tested later
// on the dock's thread.
QPointer<Dock> g_dock;
std::atomic<bool> g_exitSeen{false};
bool g_renameConnected = false;

void onFrontendEvent(enum obs_frontend_event event, void *)
{
	Dock *d = g_dock.data();
	if (!d)
		return;
	if (event == OBS_FRONTEND_EVENT_EXIT) {
		d->shutdown();
		g_exitSeen = true;
		return;
	}
	if (g_exitSeen)
		return;
	d->onFrontendEvent(event);
}

void onFrontendSave(obs_data_t *saveData, bool saving, void *)
{
	Dock *d = g_dock.data();
	if (!d || g_exitSeen)
		return;
	if (saving) {
		d->saveNote(false, true);
		d->scheduleCollectionSave();
		saveHotkeys(saveData);
	} else {
		loadHotkeys(saveData);
	}
}

// Any host thread: carries only a weak reference over to the dock's thread.
void onSourceRename(void *, calldata_t *data)
{
	obs_source_t *source = static_cast<obs_source_t *>(calldata_ptr(data, "source"));
	if (!source || !obs_scene_from_source(source))
		return;
	QPointer<Dock> guard = g_dock;
	if (!guard)
		return;
	// Shared so that the reference is released however the posted call ends (run or dropped).
	const auto weak = std::make_shared<OBSWeakSourceAutoRelease>(obs_source_get_weak_source(source));
	QMetaObject::invokeMethod(
		qApp,
		[guard, weak]() {
			const OBSSourceAutoRelease alive = obs_weak_source_get_source(*weak);
			if (alive && guard && !g_exitSeen)
				guard->onSceneRenamed(alive);
		},
		Qt::QueuedConnection);
}

} // namespace

void setPointer(obs_module_t *module)
{
	g_module = module;
}

obs_module_t *pointer()
{
	return g_module;
}

void setLocale(const char *locale)
{
	freeLocale();
	setTextLookup(obs_module_load_locale(g_module, "en-US", locale));
}

void freeLocale()
{
	text_lookup_destroy(textLookup());
	setTextLookup(nullptr);
}

Dock *dock()
{
	return g_dock.data();
}

bool exitSeen()
{
	return g_exitSeen;
}

bool load()
{
	g_exitSeen = false;
	auto *mainWindow = static_cast<QMainWindow *>(obs_frontend_get_main_window());
	char *configPath = g_module ? obs_module_get_config_path(g_module, "settings.ini") : nullptr;
	if (!mainWindow || !configPath) {
		bfree(configPath);
		return false;
	}
	const QString settingsPath = QString::fromUtf8(configPath);
	bfree(configPath);

	if (!QDir().mkpath(QFileInfo(settingsPath).absolutePath())) {
		blog(LOG_ERROR, "[Quillmar] Could not create settings directory");
		return false;
	}

	auto *d = new Dock(settingsPath, mainWindow);
	g_dock = d;
	const QByteArray title = text("Quillmar").toUtf8();
	if (!obs_frontend_add_dock_by_id(DockId, title.constData(), d)) {
		delete d;
		return false;
	}

	registerHotkeys();
	obs_frontend_add_event_callback(onFrontendEvent, nullptr);
	signal_handler_connect(obs_get_signal_handler(), "source_rename", onSourceRename, nullptr);
	g_renameConnected = true;
	obs_frontend_add_save_callback(onFrontendSave, nullptr);
	blog(LOG_INFO, "[Quillmar] Loaded %s", Version);
	return true;
}

void postLoad()
{
	if (Dock *d = g_dock.data())
		d->postLoad();
}

void unload()
{
	if (g_renameConnected) {
		signal_handler_disconnect(obs_get_signal_handler(), "source_rename", onSourceRename, nullptr);
		g_renameConnected = false;
	}
	if (Dock *d = g_dock.data())
		d->shutdown();
	if (!g_exitSeen) {
		obs_frontend_remove_event_callback(onFrontendEvent, nullptr);
		obs_frontend_remove_save_callback(onFrontendSave, nullptr);
		obs_frontend_remove_dock(DockId);
	}
	unregisterHotkeys();
}

} // namespace module

void postHotkeyAction(int action)
{
	QPointer<Dock> guard = module::g_dock;
	if (!guard)
		return;
	QMetaObject::invokeMethod(
		qApp,
		[guard, action]() {
			if (guard && !module::exitSeen())
				guard->runHotkeyAction(action);
		},
		Qt::QueuedConnection);
}

} // namespace quillmar
