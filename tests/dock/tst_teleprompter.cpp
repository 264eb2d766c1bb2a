#include "note_dock.h"
#include "module/hotkeys.h"

#include <thread>

using namespace quillmar;

namespace {

qint64 g_now = 0;

// As the host does it: from a thread of its own.
void pressHotkey(HotkeyAction action, bool pressed = true)
{
	std::thread([=] { obs_hotkey_trigger_routed_callback(hotkeyTable()[action].id, pressed); }).join();
	QCoreApplication::processEvents();
}

// A dock showing 300 lines, on a clock the test moves.
struct Prompter : test::NoteDock {
	Prompter() : NoteDock(test::numberedLines(300), true)
	{
		dock->resize(700, 400);
		g_now = 0;
		dock->setScrollClock([] { return g_now; });
		QTRY_VERIFY(bar()->maximum() > 0);
	}
	QToolButton *play() const { return widget<QToolButton>("scrollPlay"); }
	void clickPlay() const { QTest::mouseClick(play(), Qt::LeftButton); }
	bool bandShown() const { return widget("readingBand")->isVisible(); }
	// The time passes at once, as a change of speed applies it.
	void advance(qint64 ms)
	{
		g_now += ms;
		dock->setScrollSpeed(dock->scrollSpeed());
	}
};

} // namespace

class TeleprompterTest : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void initTestCase() { obs_hotkey_enable_callback_rerouting(true); }

	void scrollsByTimeHoldsForTheReaderAndStopsAtTheEnd()
	{
		Prompter p;
		p.clickPlay();
		QVERIFY(p.dock->isScrolling() && p.dock->isLocked() && p.bandShown() &&
			p.editor()->viewport()->rect().contains(p.widget("readingBand")->geometry()));
		p.advance(1000);
		QCOMPARE(p.bar()->value(), 10);
		p.widget<QSlider>("scrollSlider")->setValue(25);
		p.advance(1000);
		QVERIFY(p.bar()->value() == 35 && p.widget<QDoubleSpinBox>("scrollSpeed")->value() == 2.5);
		// The reader drags the text near the end and lets go.
		p.bar()->setSliderDown(true);
		p.bar()->setValue(p.bar()->maximum() - 3);
		p.advance(5000);
		p.bar()->setSliderDown(false);
		p.advance(999);
		QCOMPARE(p.bar()->value(), p.bar()->maximum() - 3);
		p.advance(1000);
		QVERIFY(p.bar()->value() == p.bar()->maximum() && !p.dock->isScrolling() && !p.bandShown());
		QCOMPARE(p.status(), text("ReachedEnd"));
		p.clickPlay();
		QVERIFY(p.status() == text("AtEnd") && !p.dock->isScrolling());
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
		Prompter p;
		auto *box = p.widget<QCheckBox>("startCountdown");
		box->setChecked(true);
		p.clickPlay();
		QVERIFY(p.play()->text() == QStringLiteral("3") && p.status() == text("CountdownRemaining").arg(3));
		g_now = 1000;
		QTRY_COMPARE(p.play()->text(), QStringLiteral("2"));
		if (interruption == 1)
			p.clickPlay();
		if (interruption == 2)
			box->setChecked(false);
		g_now = 2999;
		QTRY_COMPARE(p.play()->text(), interruption ? text("Scroll") : QStringLiteral("1"));
		QVERIFY(!p.dock->isScrolling());
		g_now = 3000;
		QTRY_COMPARE(p.dock->isScrolling(), !interruption);
		QVERIFY(!p.dock->isCountingDown());
	}

	void readModeGesturesAndKeys()
	{
		Prompter p;
		QTest::keyClick(p.editor(), Qt::Key_Space); // types while editable
		QVERIFY(!p.dock->isScrolling() && p.plain().startsWith(QLatin1Char(' ')));
		QTest::mouseClick(p.editor()->viewport(), Qt::LeftButton, Qt::AltModifier);
		QVERIFY(p.dock->isLocked());
		p.bar()->setValue(100);
		// {key, scrolling after it, speed after it}
		for (const auto &[key, scrolling, speed] : QList<std::tuple<Qt::Key, bool, double>>{
			     {Qt::Key_Space, true, 1.0}, {Qt::Key_Plus, true, 1.1}, {Qt::Key_Equal, true, 1.2},
			     {Qt::Key_Minus, true, 1.1}, {Qt::Key_Down, false, 1.1}, {Qt::Key_Space, true, 1.1},
			     {Qt::Key_Home, false, 1.1}}) {
			const int before = p.bar()->value();
			QTest::keyClick(p.editor(), key);
			QVERIFY(p.dock->isScrolling() == scrolling && p.dock->scrollSpeed() == speed);
			QVERIFY(key != Qt::Key_Down || p.bar()->value() > before);
		}
		QVERIFY(p.bar()->value() == 0 && p.status() == text("AtTop"));
		p.buttonAction("readingGuide")->trigger();
		QTest::keyClick(p.editor(), Qt::Key_Space);
		QVERIFY(p.dock->isScrolling() && !p.bandShown());
	}

	void hotkeysActOncePerPressAndOnlyWhenTheDockMay()
	{
		Prompter p;
		pressHotkey(HotkeyFaster);
		pressHotkey(HotkeyFaster, false); // a release does nothing
		QCOMPARE(p.dock->scrollSpeed(), 1.1);
		pressHotkey(HotkeyStart);
		p.advance(2000);
		QCOMPARE(p.bar()->value(), 22);
		pressHotkey(HotkeyTop);
		QVERIFY(!p.dock->isScrolling() && p.bar()->value() == 0);
		pressHotkey(HotkeyToggleLock);
		QVERIFY(!p.dock->isLocked());

		pressHotkey(HotkeyStart);
		p.dock->beginRestore(); // a restore stops the scrolling and drops presses
		pressHotkey(HotkeyFaster);
		p.dock->endRestore();
		QCoreApplication::processEvents();
		QVERIFY(!p.dock->isScrolling() && p.dock->scrollSpeed() == 1.1);

		fake::emitEvent(OBS_FRONTEND_EVENT_EXIT);
		pressHotkey(HotkeyToggleLock);
		p.dock->runHotkeyAction(HotkeyToggleLock); // nor does a direct call, whoever makes it
		QVERIFY(p.dock->isLocked());
	}

	void notesThatCannotScroll()
	{
		Prompter p;
		// A reading position beyond a note that became shorter shows its end.
		p.bar()->setValue(p.bar()->maximum());
		p.show("B");
		p.dock->applyRemoteNote(p.scene("A"), test::numberedLines(60));
		p.show("A");
		QTRY_COMPARE(p.bar()->value(), p.bar()->maximum());
		p.clickPlay();
		QVERIFY(p.status() == text("AtEnd") && !p.dock->isLocked());
		p.dock->applyRemoteNote(p.scene("A"), QStringLiteral("<p>short</p>"));
		p.clickPlay();
		QVERIFY(p.status() == text("NoScrollNeeded") && !p.dock->isLocked() && !p.dock->isScrolling());
	}

	// The time left follows the position and the speed, and is gone when the note fits.
	void timeLeft()
	{
		QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
		Prompter p;
		p.editor()->setPlainText(QStringLiteral("word\n").repeated(400));
		QTRY_VERIFY(p.bar()->maximum() > 700);
		auto *label = p.widget<QLabel>("timeLeft");
		const int max = p.bar()->maximum();
		// {position from the end, speed, shown}
		for (const auto &[left, speed, shown] :
		     QList<std::tuple<int, double, const char *>>{{600, 1.0, "1:00"}, {300, 5.0, "0:06"}}) {
			p.bar()->setValue(max - left);
			p.dock->setScrollSpeed(speed);
			QCOMPARE(label->text(), QLatin1String(shown));
		}
		// The words still to read lie below the reading line, so fewer than the note holds.
		QVERIFY(!label->isHidden());
		const QString tip = label->toolTip();
		const int words = QLocale().toInt(tip.section(QLatin1Char(';'), 1).section(QLatin1Char(' '), 1, 1));
		QVERIFY2(words > 0 && words < 400, qPrintable(tip));
		QCOMPARE(tip, text("TimeLeftTip").arg(words));
		p.editor()->setPlainText(QStringLiteral("short"));
		QTRY_VERIFY(p.bar()->maximum() == 0 && label->isHidden());
		QLocale::setDefault(QLocale::c());
	}

	// Whatever the host's theme paints, the "3s" box stands out from the bar it sits on.
	void countdownBoxIsLegible()
	{
		Prompter p;
		auto *box = p.widget<QCheckBox>("startCountdown");
		QStyleOptionButton option;
		option.initFrom(box);
		const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
		for (const QColor &window : {QColor(0x1d, 0x1f, 0x26), QColor(0xf0, 0xf0, 0xf0)}) {
			QPalette palette(window.lightness() < 128 ? Qt::white : Qt::black, window);
			palette.setColor(QPalette::Base, window.lightness() < 128 ? window.darker(120) : Qt::white);
			p.dock->setPalette(palette);
			for (bool checked : {false, true}) {
				box->setChecked(checked);
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
