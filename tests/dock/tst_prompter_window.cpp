#include "dock/prompter_window.h"
#include "dock/reading_band.h"
#include "json_rows.h"
#include "note_dock.h"

using namespace quillmar;

namespace {

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

} // namespace

class PrompterWindowTest : public QObject {
	Q_OBJECT

	QTemporaryDir m_dir;
	QString iniPath() const { return m_dir.filePath(QStringLiteral("settings.ini")); }

private Q_SLOTS:
	void settingsReadBack_data() { test::jsonRows("dock/prompter_settings"); }
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

	void textTop_data() { test::jsonRows("dock/prompter_text_top"); }
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
		qint64 now = 0;
		test::NoteDock note(QString(), true);
		note.dock->setScrollClock([&now] { return now; });
		note.editor()->setPlainText(QStringLiteral("line of the script\n").repeated(300));
		QScrollBar *bar = note.bar();
		QTRY_VERIFY(bar->maximum() > 500);

		note.triggerMenuEntry(text("PrompterWindow"));
		QPointer<PrompterWindow> window = note.dock->prompterWindow();
		QVERIFY(window && window->isVisible() && window->isWindow() && !window->parent() && window->fraction() == 0.0);

		bar->setValue(bar->maximum() / 2);
		QCOMPARE(window->fraction(), double(bar->value()) / bar->maximum());
		QVERIFY(window->scrollOffset() > 0);

		// Typing reaches the window once the typist pauses; before that the copy stays.
		QTest::keyClick(note.editor(), Qt::Key_End, Qt::ControlModifier);
		QTest::keyClicks(note.editor(), QStringLiteral("x"));
		QVERIFY(!window->shownText().endsWith(QLatin1Char('x')));
		QTRY_COMPARE(window->shownText(), note.plain());

		bar->setValue(100);
		note.dock->setScrollSpeed(1.0);
		note.dock->runHotkeyAction(2); // toggle: start
		now += 250; // 2.5 px at 1.0x: the window shows the half pixel the dock cannot
		note.dock->setScrollSpeed(1.0);
		QVERIFY(bar->value() == 102 && window->fraction() == 102.5 / bar->maximum());

		window->close();
		QTRY_VERIFY(window.isNull());
		QVERIFY(note.dock->isScrolling() && bar->value() == 102);

		// Reopened, it comes back with its settings; the dock's end takes it along.
		note.triggerMenuEntry(text("PrompterWindow"));
		window = note.dock->prompterWindow();
		QVERIFY(window);
		delete note.dock;
		note.dock = nullptr;
		QVERIFY(window.isNull());
	}
};

QUILLMAR_OBS_TEST_MAIN(PrompterWindowTest)
#include "tst_prompter_window.moc"
