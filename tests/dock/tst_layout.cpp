#include "dock/dock_theme.h"
#include "json_rows.h"
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
	void darknessFollowsLightness_data() { test::jsonRows("dock/dark_colours"); }
	void darknessFollowsLightness()
	{
		QFETCH(QJsonObject, row);
		QCOMPARE(theme::isDark(QColor(row["background"].toString())), row["dark"].toBool());
	}

	// The dock's own palette repaints its icons; after the host changed themes its way (a new
	// application palette and style sheet), a wide dock keeps every tool on its bar.
	void themeFollowsPalette()
	{
		test::NoteDock note(QString(), true);
		note.dock->setPalette(Dark);
		for (const QIcon &icon : {note.buttonAction("readMode")->icon(), note.action("formatBold")->icon(),
					  note.widget<QToolButton>("findNext")->icon()})
			QCOMPARE(inkColour(icon), 0xe6e7eaU);
		note.dock->setPalette(Light);
		QCOMPARE(inkColour(note.buttonAction("readMode")->icon()), 0x232629U);
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

	void settingsAndDefaults_data() { test::jsonRows("dock/auto_clear_days"); }
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

QUILLMAR_OBS_TEST_MAIN(DockLayoutTest)
#include "tst_layout.moc"
