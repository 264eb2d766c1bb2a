#include "dock/dock_theme.h"
#include "note_dock.h"

using namespace quillmar;

namespace {

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

class DockLayoutTest : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void darknessFollowsLightness_data()
	{
		QTest::addColumn<QColor>("background");
		QTest::addColumn<bool>("dark");
		QTest::addRow("127 grey") << QColor(127, 127, 127) << true;
		QTest::addRow("128 grey") << QColor(128, 128, 128) << false;
		// Lightness is (max + min) / 2, not the average of three channels.
		QTest::addRow("saturated blue, lightness 127") << QColor(0, 0, 254) << true;
		QTest::addRow("saturated yellow, lightness 128") << QColor(255, 255, 1) << false;
	}
	void darknessFollowsLightness()
	{
		QFETCH(QColor, background);
		QTEST(theme::isDark(background), "dark");
	}

	void sheetsFillEveryPlaceholder()
	{
		// A colour name with a percent sign must not be taken for a placeholder.
		QVERIFY(theme::editorSheet(Light, QStringLiteral("%1"), QString()).contains(QStringLiteral("selection-color: %1;")));
		for (const QString &sheet : {theme::editorSheet(Light, QString(), QString()), theme::sliderSheet(Light),
					     theme::toolBarSheet(Light), theme::searchFieldSheet(Light), theme::separatorSheet(Light)})
			QVERIFY2(!sheet.contains(QLatin1Char('%')), qPrintable(sheet));
	}

	void themeFollowsPalette()
	{
		test::NoteDock note;
		note.dock->setPalette(Dark);
		const QString darkSheet = note.widget("saveError")->styleSheet();
		for (const QIcon &icon : {note.buttonAction("readMode")->icon(), note.action("formatBold")->icon(),
					  note.widget<QToolButton>("findNext")->icon()})
			QCOMPARE(inkColour(icon), 0xe6e7eaU);
		note.dock->setPalette(Light);
		QVERIFY(note.widget("saveError")->styleSheet() != darkSheet);
		QCOMPARE(inkColour(note.buttonAction("readMode")->icon()), 0x232629U);
	}

	void bottomRowStacksWhenNarrow()
	{
		test::NoteDock note(QString(), true);
		auto *bottom = note.widget("bottomControls");
		auto *reading = note.widget("readingControls");
		auto *metrics = note.widget("readingMetrics");
		const auto stacked = [&] {
			return static_cast<QBoxLayout *>(bottom->layout())->direction() == QBoxLayout::TopToBottom;
		};
		note.dock->resize(1200, 500);
		QTRY_VERIFY(!stacked());
		QCOMPARE(bottom->height(), reading->height());
		// Side by side exactly while both rows fit next to each other; the host never makes the
		// dock narrower than its minimum, the test goes below it to reach the edge.
		note.dock->setMinimumSize(0, 0);
		const int margins = 8;
		const int edge = reading->minimumSizeHint().width() + metrics->sizeHint().width() + 8 + margins;
		note.dock->resize(edge, 500);
		QTRY_COMPARE(bottom->width(), edge - margins);
		QVERIFY(!stacked());
		note.dock->resize(edge - 1, 500);
		QTRY_VERIFY(stacked());
		QTRY_COMPARE(bottom->height(), reading->height() + 8 + metrics->sizeHint().height());
		QTRY_VERIFY(metrics->geometry().top() >= reading->geometry().bottom());
		QVERIFY(bottom->rect().contains(metrics->geometry()));
		note.dock->resize(1400, 500);
		QTRY_VERIFY(!stacked());
		QTRY_COMPARE(bottom->height(), reading->height());
		QVERIFY(!reading->geometry().intersects(metrics->geometry()));
	}

	void settingsAndDefaults_data()
	{
		QTest::addColumn<QVariant>("days");
		QTest::addColumn<int>("expectedDays");
		QTest::addRow("unset") << QVariant() << 0;
		QTest::addRow("negative") << QVariant(-1) << 0;
		QTest::addRow("too many") << QVariant(40000) << 0;
		QTest::addRow("upper bound") << QVariant(36500) << 36500;
		QTest::addRow("garbage") << QVariant(QStringLiteral("soon")) << 0;
	}
	void settingsAndDefaults()
	{
		QFETCH(QVariant, days);
		test::NoteDock note;
		module::unload();
		{
			QSettings settings(test::settingsPath(), QSettings::IniFormat);
			if (days.isValid())
				settings.setValue(QStringLiteral("autoClear/days"), days);
			settings.setValue(QStringLiteral("autoClear/scenes"), QStringList{"a", "b", "a"});
		}
		note.load();
		QTEST(note.dock->autoClearDays(), "expectedDays");
		QCOMPARE(note.dock->autoClearScenes(), (QSet<QString>{QStringLiteral("a"), QStringLiteral("b")}));
		QVERIFY(!note.dock->autoClearAll());
		// No stored flags: the guide is on and the countdown and read mode off.
		QVERIFY(note.buttonAction("readingGuide")->isChecked() && !note.buttonAction("readMode")->isChecked());
		QVERIFY(!note.widget<QCheckBox>("startCountdown")->isChecked());
		// Toggles are stored at once and read back by the next dock.
		note.buttonAction("readingGuide")->toggle();
		note.widget<QCheckBox>("startCountdown")->setChecked(true);
		note.restart();
		QVERIFY(!note.buttonAction("readingGuide")->isChecked());
		QVERIFY(note.widget<QCheckBox>("startCountdown")->isChecked());
	}

	// After the host changed themes its way (a new application palette and style sheet), a
	// wide dock keeps every tool on its bar instead of the overflow menu, in the new colours.
	void hostThemeChange()
	{
		test::NoteDock note(QString(), true);
		note.dock->resize(1200, 360);
		const QPalette original = QApplication::palette();
		QApplication::setPalette(Dark);
		qApp->setStyleSheet(QStringLiteral("QDockWidget { }"));
		QTRY_COMPARE(note.widget("scrollPercent")->palette().color(QPalette::Active, QPalette::WindowText),
			     QColor(0xe6, 0xe7, 0xea, 170));
		auto *bar = note.widget<QToolBar>("paragraphToolbar");
		auto *more = bar->findChild<QToolButton *>(QStringLiteral("qt_toolbar_ext_button"));
		QTRY_VERIFY(!more->isVisible());
		QVERIFY(bar->widgetForAction(note.action("insertTime"))->isVisible());
		QCOMPARE(inkColour(more->icon()), 0xe6e7eaU);
		QApplication::setPalette(original);
		qApp->setStyleSheet(QString());
	}
};

QUILLMAR_OBS_TEST_MAIN(DockLayoutTest)
#include "tst_layout.moc"
