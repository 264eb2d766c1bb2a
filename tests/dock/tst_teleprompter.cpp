#include "dock/dock.h"
#include "editor/editor.h"
#include "fake_frontend.h"
#include "module/hotkeys.h"
#include "module/module.h"
#include "module/text.h"
#include "obs_test_env.h"

#include <QAction>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMainWindow>
#include <QScrollBar>
#include <QSlider>
#include <QToolButton>

#include <thread>

using namespace quillmar;

namespace {

qint64 g_now = 0;

QString paragraphs(int count)
{
	QString html;
	for (int i = 0; i < count; ++i)
		html += QStringLiteral("<p>line %1</p>").arg(i);
	return html;
}

// As the host does it: from a thread of its own.
void pressHotkey(HotkeyAction action, bool pressed = true)
{
	std::thread([=] { obs_hotkey_trigger_routed_callback(hotkeyTable()[action].id, pressed); }).join();
	QCoreApplication::processEvents();
}

} // namespace

class TeleprompterTest : public QObject {
	Q_OBJECT

	std::unique_ptr<test::Scene> m_scene;

	Dock *dock() const { return module::dock(); }
	template <typename T> T *child(const char *name) const { return dock()->findChild<T *>(QLatin1String(name)); }
	QScrollBar *bar() const { return child<Editor>("noteEditor")->verticalScrollBar(); }
	QString status() const { return child<QLabel>("saveStatus")->toolTip(); }
	QToolButton *play() const { return child<QToolButton>("scrollPlay"); }
	QWidget *band() const { return child<QWidget>("readingBand"); }

	void showNote(const QString &html)
	{
		QVERIFY(dock()->applyRemoteNote(m_scene->source(), html));
		QTRY_VERIFY(bar()->maximum() > 0 || html.size() < 200);
	}
	// Lets the time pass at once, as a change of speed applies it.
	void advance(qint64 ms)
	{
		g_now += ms;
		dock()->setScrollSpeed(dock()->scrollSpeed());
	}

private Q_SLOTS:
	void initTestCase() { obs_hotkey_enable_callback_rerouting(true); }

	void init()
	{
		test::resetHost();
		QVERIFY(module::load());
		m_scene = std::make_unique<test::Scene>("Show");
		fake::setProgramScene(m_scene->source());
		fake::mainWindow()->resize(800, 600);
		fake::mainWindow()->show();
		dock()->resize(700, 400);
		dock()->show();
		g_now = 0;
		dock()->setScrollClock([] { return g_now; });
		showNote(paragraphs(300));
	}

	void cleanup()
	{
		module::unload();
		fake::reset();
		m_scene.reset();
	}

	void scrollsAtTheChosenSpeedToTheEnd()
	{
		QTest::mouseClick(play(), Qt::LeftButton);
		QVERIFY(dock()->isScrolling() && dock()->isLocked());
		QCOMPARE(status(), text("Scrolling"));
		QVERIFY(band()->isVisible());
		advance(1000);
		QCOMPARE(bar()->value(), 10);
		child<QSlider>("scrollSlider")->setValue(25);
		QCOMPARE(child<QDoubleSpinBox>("scrollSpeed")->value(), 2.5);
		advance(1000);
		QCOMPARE(bar()->value(), 35);
		bar()->setValue(bar()->maximum() - 3); // the reader jumps near the end
		advance(999);
		QCOMPARE(bar()->value(), bar()->maximum() - 3);
		advance(1000);
		QCOMPARE(bar()->value(), bar()->maximum());
		QVERIFY(!dock()->isScrolling() && !band()->isVisible());
		QCOMPARE(status(), text("ReachedEnd"));
		QCOMPARE(play()->toolTip(), text("ScrollTip"));
		QTest::mouseClick(play(), Qt::LeftButton);
		QCOMPARE(status(), text("AtEnd"));
	}

	void countdown_data()
	{
		QTest::addColumn<int>("interruption"); // 0 none, 1 play again, 2 untick "3s"
		QTest::newRow("runs out") << 0;
		QTest::newRow("play cancels") << 1;
		QTest::newRow("unticking cancels") << 2;
	}
	void countdown()
	{
		QFETCH(int, interruption);
		child<QCheckBox>("startCountdown")->setChecked(true);
		QTest::mouseClick(play(), Qt::LeftButton);
		QCOMPARE(play()->text(), QStringLiteral("3"));
		QCOMPARE(status(), text("CountdownRemaining").arg(3));
		g_now = 1000;
		QTRY_COMPARE(play()->text(), QStringLiteral("2"));
		if (interruption == 1)
			QTest::mouseClick(play(), Qt::LeftButton);
		if (interruption == 2)
			child<QCheckBox>("startCountdown")->setChecked(false);
		g_now = 2999;
		QTRY_COMPARE(play()->text(), interruption ? text("Scroll") : QStringLiteral("1"));
		QVERIFY(!dock()->isScrolling());
		g_now = 3000;
		QTRY_COMPARE(dock()->isScrolling(), !interruption);
		QCOMPARE(dock()->isCountingDown(), false);
	}

	void noteThatFitsLeavesReadModeAlone()
	{
		showNote(QStringLiteral("<p>short</p>"));
		QTest::keyClick(child<Editor>("noteEditor"), Qt::Key_Space, Qt::NoModifier); // types a space
		QVERIFY(!dock()->isLocked());
		QTest::mouseClick(play(), Qt::LeftButton);
		QCOMPARE(status(), text("NoScrollNeeded"));
		QVERIFY(!dock()->isLocked() && !dock()->isScrolling());
	}

	void readingBandFollowsTheGuideAndTheViewport()
	{
		QTest::mouseClick(play(), Qt::LeftButton);
		const QWidget *viewport = band()->parentWidget();
		for (int height : {700, 300}) {
			dock()->resize(700, height);
			QTRY_COMPARE(dock()->height(), height);
			QTRY_VERIFY(viewport->rect().contains(band()->geometry()));
			QVERIFY(band()->isVisible());
			QVERIFY(qAbs(band()->geometry().center().y() - viewport->height() * 0.382) <= 1.5);
		}
		child<QToolButton>("readingGuide")->defaultAction()->trigger();
		QVERIFY(!band()->isVisible() && dock()->isScrolling());
	}

	void keysInReadMode_data()
	{
		QTest::addColumn<int>("key");
		QTest::addColumn<bool>("scrolling");
		QTest::addColumn<double>("speed");
		QTest::newRow("Space stops") << int(Qt::Key_Space) << false << 1.0;
		QTest::newRow("+ faster") << int(Qt::Key_Plus) << true << 1.1;
		QTest::newRow("= faster") << int(Qt::Key_Equal) << true << 1.1;
		QTest::newRow("- slower at 1.0") << int(Qt::Key_Minus) << true << 1.0;
		QTest::newRow("Home stops") << int(Qt::Key_Home) << false << 1.0;
		QTest::newRow("Down stops") << int(Qt::Key_Down) << false << 1.0;
	}
	void keysInReadMode()
	{
		QFETCH(int, key);
		QFETCH(bool, scrolling);
		QFETCH(double, speed);
		QTest::keyClick(child<Editor>("noteEditor"), Qt::Key_Space); // read mode is off: types
		QVERIFY(!dock()->isScrolling());
		QTest::mouseClick(child<Editor>("noteEditor")->viewport(), Qt::LeftButton, Qt::AltModifier);
		QVERIFY(dock()->isLocked());
		bar()->setValue(100);
		QTest::keyClick(child<Editor>("noteEditor"), Qt::Key_Space);
		QVERIFY(dock()->isScrolling());
		QTest::keyClick(child<Editor>("noteEditor"), Qt::Key(key));
		QCOMPARE(dock()->isScrolling(), scrolling);
		QCOMPARE(dock()->scrollSpeed(), speed);
		if (key == Qt::Key_Home)
			QCOMPARE(bar()->value(), 0);
		if (key == Qt::Key_Down)
			QVERIFY(bar()->value() > 100);
	}

	void hotkeysActOncePerPressAndOnlyWhenTheDockMay()
	{
		pressHotkey(HotkeyFaster);
		pressHotkey(HotkeyFaster, false);
		QCOMPARE(dock()->scrollSpeed(), 1.1);
		pressHotkey(HotkeyStart);
		QVERIFY(dock()->isScrolling());
		advance(2000);
		pressHotkey(HotkeyTop);
		QVERIFY(!dock()->isScrolling() && bar()->value() == 0);
		QCOMPARE(status(), text("AtTop"));
		pressHotkey(HotkeyToggleLock);
		QVERIFY(!dock()->isLocked());

		dock()->beginRestore();
		pressHotkey(HotkeyFaster);
		dock()->endRestore();
		QCoreApplication::processEvents();
		QCOMPARE(dock()->scrollSpeed(), 1.1);

		fake::emitEvent(OBS_FRONTEND_EVENT_EXIT);
		pressHotkey(HotkeyToggleLock);
		QVERIFY(!dock()->isLocked());
	}

	void positionBeyondAShorterNoteShowsItsEnd()
	{
		bar()->setValue(bar()->maximum());
		test::Scene other("Other");
		fake::setProgramScene(other.source());
		dock()->applyRemoteNote(m_scene->source(), paragraphs(60));
		fake::setProgramScene(m_scene->source());
		QTRY_COMPARE(bar()->value(), bar()->maximum());
		QTest::mouseClick(play(), Qt::LeftButton);
		QCOMPARE(status(), text("AtEnd"));
	}
};

QUILLMAR_OBS_TEST_MAIN(TeleprompterTest)
#include "tst_teleprompter.moc"
