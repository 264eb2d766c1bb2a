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
#include <QStyleOptionButton>
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
	Editor *editor() const { return child<Editor>("noteEditor"); }
	QScrollBar *bar() const { return editor()->verticalScrollBar(); }
	QString status() const { return child<QLabel>("saveStatus")->toolTip(); }
	QToolButton *play() const { return child<QToolButton>("scrollPlay"); }
	QWidget *band() const { return child<QWidget>("readingBand"); }
	void clickPlay() const { QTest::mouseClick(play(), Qt::LeftButton); }

	void showNote(const QString &html)
	{
		QVERIFY(dock()->applyRemoteNote(m_scene->source(), html));
		QTRY_VERIFY(bar()->maximum() > 0 || html.size() < 100);
	}
	// The time passes at once, as a change of speed applies it.
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

	void scrollsByTimeHoldsForTheReaderAndStopsAtTheEnd()
	{
		clickPlay();
		QVERIFY(dock()->isScrolling() && dock()->isLocked() && band()->isVisible());
		QVERIFY(editor()->viewport()->rect().contains(band()->geometry()));
		advance(1000);
		QCOMPARE(bar()->value(), 10);
		child<QSlider>("scrollSlider")->setValue(25);
		QCOMPARE(child<QDoubleSpinBox>("scrollSpeed")->value(), 2.5);
		advance(1000);
		QCOMPARE(bar()->value(), 35);
		// The reader drags the text near the end and lets go.
		bar()->setSliderDown(true);
		bar()->setValue(bar()->maximum() - 3);
		advance(5000);
		bar()->setSliderDown(false);
		advance(999);
		QCOMPARE(bar()->value(), bar()->maximum() - 3);
		advance(1000);
		QCOMPARE(bar()->value(), bar()->maximum());
		QVERIFY(!dock()->isScrolling() && !band()->isVisible());
		QCOMPARE(status(), text("ReachedEnd"));
		QCOMPARE(play()->toolTip(), text("ScrollTip"));
		clickPlay();
		QCOMPARE(status(), text("AtEnd"));
		QVERIFY(!dock()->isScrolling());
	}

	void countdown_data()
	{
		QTest::addColumn<int>("interruption");
		QTest::newRow("runs out") << 0;
		QTest::newRow("play cancels") << 1;
		QTest::newRow("unticking cancels") << 2;
	}
	void countdown()
	{
		QFETCH(int, interruption);
		child<QCheckBox>("startCountdown")->setChecked(true);
		clickPlay();
		QCOMPARE(play()->text(), QStringLiteral("3"));
		QCOMPARE(status(), text("CountdownRemaining").arg(3));
		g_now = 1000;
		QTRY_COMPARE(play()->text(), QStringLiteral("2"));
		if (interruption == 1)
			clickPlay();
		if (interruption == 2)
			child<QCheckBox>("startCountdown")->setChecked(false);
		g_now = 2999;
		QTRY_COMPARE(play()->text(), interruption ? text("Scroll") : QStringLiteral("1"));
		QVERIFY(!dock()->isScrolling());
		g_now = 3000;
		QTRY_COMPARE(dock()->isScrolling(), !interruption);
		QVERIFY(!dock()->isCountingDown());
	}

	void readModeGesturesAndKeys()
	{
		QTest::keyClick(editor(), Qt::Key_Space); // types while editable
		QVERIFY(!dock()->isScrolling());
		QTest::mouseClick(editor()->viewport(), Qt::LeftButton, Qt::AltModifier);
		QVERIFY(dock()->isLocked());
		bar()->setValue(100);
		// {key, scrolling after it, speed after it}
		const QList<std::tuple<Qt::Key, bool, double>> keys = {
			{Qt::Key_Space, true, 1.0}, {Qt::Key_Plus, true, 1.1}, {Qt::Key_Equal, true, 1.2},
			{Qt::Key_Minus, true, 1.1}, {Qt::Key_Down, false, 1.1}, {Qt::Key_Space, true, 1.1},
			{Qt::Key_Home, false, 1.1}};
		for (const auto &[key, scrolling, speed] : keys) {
			const int before = bar()->value();
			QTest::keyClick(editor(), key);
			QCOMPARE(dock()->isScrolling(), scrolling);
			QCOMPARE(dock()->scrollSpeed(), speed);
			if (key == Qt::Key_Down)
				QVERIFY(bar()->value() > before);
		}
		QCOMPARE(bar()->value(), 0);
		QCOMPARE(status(), text("AtTop"));
		child<QToolButton>("readingGuide")->defaultAction()->trigger();
		QTest::keyClick(editor(), Qt::Key_Space);
		QVERIFY(dock()->isScrolling() && !band()->isVisible());
	}

	void hotkeysActOncePerPressAndOnlyWhenTheDockMay()
	{
		pressHotkey(HotkeyFaster);
		pressHotkey(HotkeyFaster, false);
		QCOMPARE(dock()->scrollSpeed(), 1.1);
		pressHotkey(HotkeyStart);
		advance(2000);
		QCOMPARE(bar()->value(), 22);
		pressHotkey(HotkeyTop);
		QVERIFY(!dock()->isScrolling() && bar()->value() == 0);
		pressHotkey(HotkeyToggleLock);
		QVERIFY(!dock()->isLocked());

		pressHotkey(HotkeyStart);
		dock()->beginRestore(); // a restore stops the scrolling and drops presses
		QVERIFY(!dock()->isScrolling());
		pressHotkey(HotkeyFaster);
		dock()->endRestore();
		QCoreApplication::processEvents();
		QCOMPARE(dock()->scrollSpeed(), 1.1);

		fake::emitEvent(OBS_FRONTEND_EVENT_EXIT);
		pressHotkey(HotkeyToggleLock);
		QVERIFY(dock()->isLocked());
	}

	void notesThatCannotScroll()
	{
		// A reading position beyond a note that became shorter shows its end.
		bar()->setValue(bar()->maximum());
		test::Scene other("Other");
		fake::setProgramScene(other.source());
		dock()->applyRemoteNote(m_scene->source(), paragraphs(60));
		fake::setProgramScene(m_scene->source());
		QTRY_COMPARE(bar()->value(), bar()->maximum());
		clickPlay();
		QCOMPARE(status(), text("AtEnd"));
		QVERIFY(!dock()->isLocked());

		showNote(QStringLiteral("<p>short</p>"));
		clickPlay();
		QCOMPARE(status(), text("NoScrollNeeded"));
		QVERIFY(!dock()->isLocked() && !dock()->isScrolling());
	}

	// Whatever the host's theme paints, the "3s" box stands out from the bar it sits on.
	void countdownBoxIsLegible()
	{
		auto *box = child<QCheckBox>("startCountdown");
		for (const QColor &window : {QColor(0x1d, 0x1f, 0x26), QColor(0xf0, 0xf0, 0xf0)}) {
			QPalette palette(window.lightness() < 128 ? Qt::white : Qt::black, window);
			palette.setColor(QPalette::Base, window.lightness() < 128 ? window.darker(120) : Qt::white);
			dock()->setPalette(palette);
			for (bool checked : {false, true}) {
				box->setChecked(checked);
				QStyleOptionButton option;
				option.initFrom(box);
				const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
				const QImage image = box->grab().toImage();
				int contrast = 0;
				for (int y = indicator.top(); y <= indicator.bottom(); ++y)
					for (int x = indicator.left(); x <= indicator.right(); ++x)
						contrast = qMax(contrast, qAbs(QColor(image.pixel(x, y)).lightness() - window.lightness()));
				QVERIFY2(contrast >= 80, qPrintable(window.name()));
			}
		}
	}
};

QUILLMAR_OBS_TEST_MAIN(TeleprompterTest)
#include "tst_teleprompter.moc"
