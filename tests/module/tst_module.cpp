#include "dock/dock.h"
#include "fake_frontend.h"
#include "module/hotkeys.h"
#include "module/module.h"
#include "module/text.h"
#include "obs_test_env.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include <obs.hpp>
#include <util/base.h>

#include <cstdarg>

using namespace quillmar;

namespace {

QStringList g_log;

void captureLog(int level, const char *format, va_list args, void *)
{
	char buffer[1024];
	vsnprintf(buffer, sizeof buffer, format, args);
	g_log.append(QStringLiteral("%1 %2").arg(level).arg(QString::fromUtf8(buffer)));
}

int registeredHotkeys()
{
	int n = 0;
	obs_enum_hotkeys(
		[](void *count, obs_hotkey_id, obs_hotkey_t *key) {
			*static_cast<int *>(count) += QByteArray(obs_hotkey_get_name(key)).startsWith("Quillmar.");
			return true;
		},
		&n);
	return n;
}

} // namespace

class ModuleTest : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void initTestCase() { base_set_log_handler(captureLog, nullptr); }
	void init()
	{
		test::resetHost();
		g_log.clear();
		QFile::remove(test::moduleConfigDir());
	}
	void cleanup()
	{
		module::unload();
		fake::reset();
	}

	// "folder": a file where the module's folder belongs, so that the folder cannot be made.
	void failedLoadLeavesNothingRegistered_data()
	{
		QTest::addColumn<QString>("cause");
		for (const char *cause : {"dock refused", "no main window", "folder"})
			QTest::newRow(cause) << QString::fromLatin1(cause);
	}
	void failedLoadLeavesNothingRegistered()
	{
		QFETCH(QString, cause);
		const bool folder = cause == QLatin1String("folder"), refused = cause == QLatin1String("dock refused");
		fake::setRefuseDocks(refused);
		fake::setMainWindowAvailable(cause != QLatin1String("no main window"));
		QFile blocker(test::moduleConfigDir());
		QVERIFY(!folder || blocker.open(QIODevice::WriteOnly));
		QVERIFY(!module::load() && !module::dock());
		QCOMPARE(fake::eventCallbackCount() + fake::saveCallbackCount() + registeredHotkeys(), 0);
		const QString logged = QStringLiteral("%1 [Quillmar] Could not create settings directory").arg(LOG_ERROR);
		QCOMPARE(g_log.join(u'\n'), folder ? logged : QString());
		QCOMPARE(fake::calls().contains(QStringLiteral("add_dock_by_id:Quillmar")), refused);
	}

	// Loading registers everything; after the exit the host tears its side down itself, so the
	// unload must not touch it again. First exit then unload, then an unload without exit.
	void loadThenShutDownOnce()
	{
		for (const bool exitFirst : {true, false}) {
			init();
			QVERIFY(module::load());
			const QPointer<Dock> dock = module::dock();
			QVERIFY(dock && fake::dock(QStringLiteral("Quillmar")) == dock);
			QVERIFY(fake::eventCallbackCount() == 1 && fake::saveCallbackCount() == 1);
			QVERIFY(registeredHotkeys() == HotkeyCount && QDir(test::moduleConfigDir()).exists());
			QVERIFY(g_log.contains(QStringLiteral("%1 [Quillmar] Loaded " QUILLMAR_VERSION).arg(LOG_INFO)));
			QSignalSpy spy(dock.data(), &Dock::shutDown);
			fake::clearCalls();
			if (exitFirst) {
				fake::emitEvent(OBS_FRONTEND_EVENT_EXIT);
				QVERIFY(spy.count() == 1 && dock->isClosing());
			}
			module::unload();
			QVERIFY(spy.count() == 1 && (exitFirst || dock.isNull())); // after the exit the host deletes it
			const QStringList all{"remove_event_callback", "remove_save_callback", "remove_dock:Quillmar"};
			QCOMPARE(fake::calls().filter(QStringLiteral("remove_")), exitFirst ? QStringList() : all);
			QCOMPARE(registeredHotkeys(), 0);
			for (int i = 0; i < HotkeyCount; ++i)
				QCOMPARE(hotkeyTable()[i].id, OBS_INVALID_HOTKEY_ID);
			cleanup();
		}
	}

	void renamesReachTheDockOnlyForLiveScenes()
	{
		QVERIFY(module::load());
		QSignalSpy spy(module::dock(), &Dock::sceneRenamed);
		test::Scene scene("Intro");
		obs_source_set_name(scene.source(), "Opening");
		QCOMPARE(spy.count(), 0); // posted, not direct
		QTRY_COMPARE(spy.count(), 1);
		QCOMPARE(spy.at(0).at(0).toString(), scene.uuid());

		// Groups and other sources are not scenes; a scene destroyed before the posted call
		// runs is dropped, and so is every rename after the exit.
		obs_sceneitem_t *groupItem = obs_scene_add_group(scene.scene(), "Group");
		obs_source_set_name(obs_sceneitem_get_source(groupItem), "Group 2");
		const OBSSourceAutoRelease color = obs_source_create("color_source_v3", "Colour", nullptr, nullptr);
		obs_source_set_name(color, "Colour 2");
		{
			test::Scene doomed("Doomed");
			obs_source_set_name(doomed.source(), "Doomed 2");
		}
		QCoreApplication::processEvents();
		QCOMPARE(spy.count(), 1);
		obs_source_set_name(scene.source(), "Later");
		fake::emitEvent(OBS_FRONTEND_EVENT_EXIT);
		QCoreApplication::processEvents();
		QCOMPARE(spy.count(), 1);
	}

	void hotkeyBindingsRoundTripThroughSaveData()
	{
		QVERIFY(module::load());
		obs_key_combination_t combo = {INTERACT_CONTROL_KEY, OBS_KEY_F5};
		obs_hotkey_load_bindings(hotkeyTable()[HotkeyFaster].id, &combo, 1);
		// The bindings of Quillmar.Faster in what the host saves next.
		const auto saveFaster = [](const OBSDataAutoRelease &into) {
			fake::emitSave(into, true);
			const OBSDataAutoRelease bindings = obs_data_get_obj(into, "quillmar_hotkeys");
			for (int i = 0; i < HotkeyCount; ++i)
				if (!obs_data_has_user_value(bindings, hotkeyTable()[i].name))
					return size_t(99);
			const OBSDataArrayAutoRelease faster = obs_data_get_array(bindings, "Quillmar.Faster");
			return obs_data_array_count(faster);
		};
		const OBSDataAutoRelease saved = obs_data_create(), empty = obs_data_create();
		QCOMPARE(saveFaster(saved), size_t(1));
		// A collection saved without bindings leaves every hotkey unbound; loading the first
		// save brings the binding back.
		fake::emitSave(empty, false);
		QCOMPARE(saveFaster(OBSDataAutoRelease(obs_data_create())), size_t(0));
		fake::emitSave(saved, false);
		QCOMPARE(saveFaster(OBSDataAutoRelease(obs_data_create())), size_t(1));
	}

	void textLookupFallsBackToTheKey()
	{
		QVERIFY(text("HotkeyStart") != QStringLiteral("HotkeyStart") && text("NoSuch") == QStringLiteral("NoSuch"));
		module::freeLocale();
		QCOMPARE(text("HotkeyStart"), QStringLiteral("HotkeyStart"));
		module::setLocale("de-DE"); // falls back to en-US
		QVERIFY(text("HotkeyStart") != QStringLiteral("HotkeyStart"));
	}
};

QUILLMAR_OBS_TEST_MAIN(ModuleTest)
#include "tst_module.moc"
