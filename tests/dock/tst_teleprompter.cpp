#include "note_dock.h"
#include "test_util.h"
#include "dock/dock_theme.h"
#include "dock/prompter_window.h"
#include "dock/reading_band.h"
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

// Mean absolute grey difference of two frames of one size, 0 (same) to 1, each first reduced to
// a quarter of its size, so that antialiasing counts for little and a misplaced glyph much.
double meanDifference(const QImage &a, const QImage &b)
{
	const QImage x = a.scaled(a.size() / 4, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
	const QImage y = b.scaled(b.size() / 4, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
	double sum = 0;
	for (int row = 0; row < x.height(); ++row)
		for (int column = 0; column < x.width(); ++column)
			sum += qAbs(qGray(x.pixel(column, row)) - qGray(y.pixel(column, row)));
	return sum / (255.0 * x.width() * x.height());
}

QPalette themePalette(const QColor &window, const QColor &text)
{
	QPalette palette(window);
	for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
		palette.setColor(role, text);
	palette.setColor(QPalette::Base, window);
	return palette;
}

// The first opaque pixel of an icon, that is, its stroke colour.
QRgb inkColour(const QIcon &icon)
{
	const QImage image = icon.pixmap(QSize(48, 48)).toImage().convertToFormat(QImage::Format_ARGB32);
	for (int y = 0; y < image.height(); ++y)
		for (int x = 0; x < image.width(); ++x)
			if (qAlpha(image.pixel(x, y)) == 255)
				return image.pixel(x, y) & 0xffffff;
	return 0xff000000;
}

const QPalette Light = themePalette(QColor(0xef, 0xf0, 0xf1), QColor(0x23, 0x26, 0x29));
const QPalette Dark = themePalette(QColor(0x27, 0x2a, 0x33), QColor(0xe6, 0xe7, 0xea));

} // namespace

// The teleprompter in the dock and in its own window, and the face of the dock around it.
class TeleprompterTest : public QObject {
	Q_OBJECT

	QTemporaryDir m_dir;
	QString iniPath() const { return m_dir.filePath(QStringLiteral("settings.ini")); }

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

		// A reading position beyond a note that became shorter shows its end; play there, or on a
		// note that fits, neither scrolls nor locks.
		p.dock->setLocked(false);
		p.show("B");
		p.dock->applyRemoteNote(p.scene("A"), test::numberedLines(60));
		p.show("A");
		QTRY_COMPARE(p.bar()->value(), p.bar()->maximum());
		p.clickPlay();
		QVERIFY(p.status() == text("AtEnd") && !p.dock->isLocked() && !p.dock->isScrolling());
		p.dock->applyRemoteNote(p.scene("A"), QStringLiteral("<p>short</p>"));
		p.clickPlay();
		QVERIFY(p.status() == text("NoScrollNeeded") && !p.dock->isLocked() && !p.dock->isScrolling());
	}

	// The countdown's arithmetic is tested in dock_scroll_motion; here, what starts and stops it.
	void countdown_data() { test::jsonTable("dock/countdown.json"); }
	void countdown()
	{
		QFETCH(QJsonObject, row);
		const QString cancel = row["cancel"].toString();
		Prompter p;
		auto *box = p.widget<QCheckBox>("startCountdown");
		box->setChecked(true);
		p.clickPlay();
		QVERIFY(p.play()->text() == QStringLiteral("3") && p.status() == text("CountdownRemaining").arg(3));
		g_now = 1000;
		QTRY_COMPARE(p.play()->text(), QStringLiteral("2"));
		if (cancel == QLatin1String("play"))
			p.clickPlay();
		if (cancel == QLatin1String("untick"))
			box->setChecked(false);
		QTRY_COMPARE(p.play()->text(), cancel.isEmpty() ? QStringLiteral("2") : text("Scroll"));
		g_now = 3000;
		QTRY_COMPARE(p.dock->isScrolling(), cancel.isEmpty());
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

	// The time left follows the position and the speed, and is gone when the note fits.
	void timeLeft()
	{
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
		const int words = tip.section(QLatin1Char(';'), 1).section(QLatin1Char(' '), 1, 1).toInt();
		QVERIFY2(words > 0 && words < 400, qPrintable(tip));
		QCOMPARE(tip, text("TimeLeftTip").arg(words));
		p.editor()->setPlainText(QStringLiteral("short"));
		QTRY_VERIFY(p.bar()->maximum() == 0 && label->isHidden());
	}

	void settingsReadBack_data() { test::jsonTable("dock/prompter_settings.json"); }
	void settingsReadBack()
	{
		QFETCH(QJsonObject, row);
		const int size = row["size"].toInt(PrompterSettings::DefaultTypeSize);
		const bool mirrored = row["mirrored"].toBool();
		QFile::remove(iniPath());
		QSettings settings(iniPath(), QSettings::IniFormat);
		settings.setValue(QStringLiteral("prompter/typeSize"), row["typeSize"].toString());
		settings.setValue(QStringLiteral("prompter/mirrorVertical"), row["mirror"].toString());
		settings.setValue(QStringLiteral("locked"), true);
		PrompterSettings prefs = PrompterSettings::read(settings);
		QVERIFY(prefs.typeSize == size && prefs.mirrorVertical == mirrored);
		// Written and read back, with the fields the file did not hold; the dock's own settings stay.
		prefs.mirrorHorizontal = !prefs.mirrorHorizontal;
		prefs.screen = QStringLiteral("HDMI-1");
		prefs.write(settings);
		settings.sync();
		const PrompterSettings back = PrompterSettings::read(QSettings(iniPath(), QSettings::IniFormat));
		QVERIFY(back.typeSize == size && back.mirrorVertical == mirrored && back.mirrorHorizontal);
		QVERIFY(back.screen == QStringLiteral("HDMI-1") && settings.value(QStringLiteral("locked")).toBool());
	}

	void textTop_data() { test::jsonTable("dock/prompter_text_top.json"); }
	void textTop()
	{
		QFETCH(QJsonObject, row);
		// 1000 px of text, glyphs 40 px high in 56 px line boxes, in a view 600 px high, and the
		// content y that must sit on the reading line.
		const double top = prompterTextTop(row["fraction"].toDouble(qQNaN()), 1000, 600, 40);
		QCOMPARE(top + row["lineCentre"].toDouble(), double(readingLineY(600)));
	}

	// A mirrored frame is the plain one flipped, band included; glyphs drawn mirrored may differ
	// from flipped ones only in their antialiasing.
	void mirroring()
	{
		QSettings settings(iniPath(), QSettings::IniFormat);
		settings.clear();
		QTextDocument source;
		source.setHtml(QStringLiteral("<p>FRQ 1 2 3 Lead with the story</p><p>Second line</p>"));
		PrompterWindow window(&settings);
		window.resize(640, 360);
		window.setSource(&source);
		const QImage plain = window.renderFrame();
		bool textOnLine = false;
		for (int x = 0; x < plain.width(); ++x)
			textOnLine = textOnLine || qGray(plain.pixel(x, readingLineY(360))) > 200;
		QVERIFY2(textOnLine, "the first line is not on the reading line");
		for (const auto &[horizontal, vertical] : {std::pair(true, false), std::pair(false, true), std::pair(true, true)}) {
			window.setMirror(horizontal, vertical);
			const QImage mirrored = window.renderFrame();
			QVERIFY(mirrored != plain);
			QVERIFY2(meanDifference(mirrored, plain.mirrored(horizontal, vertical)) < 0.01, "not the plain frame flipped");
			const PrompterSettings stored = PrompterSettings::read(settings);
			QVERIFY(stored.mirrorHorizontal == horizontal && stored.mirrorVertical == vertical);
		}
	}

	// The window shows the dock's note at the dock's place, glides with its scrolling, and
	// closing it changes nothing in the dock.
	void followsTheDock()
	{
		Prompter p;
		QScrollBar *bar = p.bar();
		p.triggerMenuEntry(text("PrompterWindow"));
		QPointer<PrompterWindow> window = p.dock->prompterWindow();
		QVERIFY(window && window->isVisible() && window->isWindow() && !window->parent() && window->fraction() == 0.0);

		bar->setValue(bar->maximum() / 2);
		QCOMPARE(window->fraction(), double(bar->value()) / bar->maximum());
		QVERIFY(window->scrollOffset() > 0);

		// Typing reaches the window once the typist pauses; before that the copy stays.
		QTest::keyClick(p.editor(), Qt::Key_End, Qt::ControlModifier);
		QTest::keyClicks(p.editor(), QStringLiteral("x"));
		QVERIFY(!window->shownText().endsWith(QLatin1Char('x')));
		QTRY_COMPARE(window->shownText(), p.plain());

		bar->setValue(100);
		p.clickPlay();
		p.advance(250); // 2.5 px at 1.0x: the window shows the half pixel the dock cannot
		QVERIFY(bar->value() == 102 && window->fraction() == 102.5 / bar->maximum());

		window->close();
		QTRY_VERIFY(window.isNull());
		QVERIFY(p.dock->isScrolling() && bar->value() == 102);

		// Reopened, it comes back with its settings; the dock's end takes it along.
		p.triggerMenuEntry(text("PrompterWindow"));
		window = p.dock->prompterWindow();
		QVERIFY(window);
		delete p.dock;
		p.dock = nullptr;
		QVERIFY(window.isNull());
	}

	void darknessFollowsLightness_data() { test::jsonTable("dock/dark_colours.json"); }
	void darknessFollowsLightness()
	{
		QFETCH(QJsonObject, row);
		QCOMPARE(theme::isDark(QColor(row["background"].toString())), row["dark"].toBool());
	}

	// The dock's own palette repaints its icons, and whatever it paints, the "3s" box stands out from
	// the bar it sits on. After the host changed themes its way (a new application palette and
	// style sheet), a wide dock keeps every tool on its bar.
	void themeFollowsPalette()
	{
		test::NoteDock note(QString(), true);
		auto *box = note.widget<QCheckBox>("startCountdown");
		QStyleOptionButton option;
		option.initFrom(box);
		const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
		for (const QPalette &palette : {Dark, Light}) {
			note.dock->setPalette(palette);
			for (const QIcon &icon : {note.buttonAction("readMode")->icon(), note.action("formatBold")->icon(),
						  note.widget<QToolButton>("findNext")->icon()})
				QCOMPARE(inkColour(icon), palette.color(QPalette::Text).rgb() & 0xffffff);
			const QColor window = palette.color(QPalette::Window);
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
		note.dock->setPalette(QPalette());
		note.dock->resize(1200, 360);
		const QPalette original = QApplication::palette();
		QApplication::setPalette(Dark);
		qApp->setStyleSheet(QStringLiteral("QDockWidget { }"));
		QTRY_COMPARE(note.widget("scrollPercent")->palette().color(QPalette::Active, QPalette::WindowText),
			     QColor(0xe6, 0xe7, 0xea, 170));
		auto *bar = note.widget<QToolBar>("paragraphToolbar");
		auto *more = bar->findChild<QToolButton *>(QStringLiteral("qt_toolbar_ext_button"));
		QTRY_VERIFY(!more->isVisible());
		QVERIFY(bar->widgetForAction(note.action("insertTime"))->isVisible() && inkColour(more->icon()) == 0xe6e7eaU);
		QApplication::setPalette(original);
		qApp->setStyleSheet(QString());
	}

	// Side by side exactly while both rows fit next to each other; the host never makes the dock
	// narrower than its minimum, the test goes below it to reach the edge.
	void bottomRowStacksWhenNarrow()
	{
		test::NoteDock note(QString(), true);
		auto *bottom = note.widget("bottomControls");
		auto *reading = note.widget("readingControls");
		auto *metrics = note.widget("readingMetrics");
		note.dock->setMinimumSize(0, 0);
		const int edge = reading->minimumSizeHint().width() + metrics->sizeHint().width() + 8 + 8;
		for (int width : {edge, edge - 1, 1400}) {
			note.dock->resize(width, 500);
			const bool stacked = width == edge - 1;
			QTRY_COMPARE(bottom->height(), reading->height() + (stacked ? 8 + metrics->sizeHint().height() : 0));
			QVERIFY(bottom->rect().contains(metrics->geometry()) && (metrics->geometry().top() >= reading->geometry().bottom()) == stacked);
		}
	}

	void settingsAndDefaults_data() { test::jsonTable("dock/auto_clear_days.json"); }
	void settingsAndDefaults()
	{
		QFETCH(QJsonObject, row);
		test::NoteDock note;
		module::unload();
		{
			QSettings settings(test::settingsPath(), QSettings::IniFormat);
			if (row.contains(QLatin1String("days")))
				settings.setValue(QStringLiteral("autoClear/days"), row["days"].toVariant());
			settings.setValue(QStringLiteral("autoClear/scenes"), QStringList{"a", "b", "a"});
		}
		note.load();
		QCOMPARE(note.dock->autoClearDays(), row["expected"].toInt());
		QVERIFY(note.dock->autoClearScenes() == (QSet<QString>{QStringLiteral("a"), QStringLiteral("b")}) && !note.dock->autoClearAll());
		// No stored flags: the guide is on and the countdown off. Toggles are stored at once.
		QAction *guide = note.buttonAction("readingGuide");
		QVERIFY(guide->isChecked() && !note.widget<QCheckBox>("startCountdown")->isChecked());
		guide->toggle();
		note.widget<QCheckBox>("startCountdown")->setChecked(true);
		note.restart();
		QVERIFY(!note.buttonAction("readingGuide")->isChecked() && note.widget<QCheckBox>("startCountdown")->isChecked());
	}
};

QUILLMAR_OBS_TEST_MAIN(TeleprompterTest)
#include "tst_teleprompter.moc"
