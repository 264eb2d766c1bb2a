#include "dock/dock_theme.h"

#include <QTest>

using namespace quillmar;

namespace {

QPalette palette(const QColor &window, const QColor &text)
{
	QPalette p;
	p.setColor(QPalette::Window, window);
	p.setColor(QPalette::WindowText, text);
	p.setColor(QPalette::Highlight, QColor(0x2a, 0x82, 0xda));
	p.setColor(QPalette::Mid, QColor(0x80, 0x80, 0x80));
	p.setColor(QPalette::Button, QColor(0x40, 0x40, 0x40));
	return p;
}

} // namespace

class ThemeTest : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void darknessFollowsWindowLightness_data()
	{
		QTest::addColumn<QColor>("window");
		QTest::addColumn<bool>("dark");
		QTest::addRow("127 grey") << QColor(127, 127, 127) << true;
		QTest::addRow("128 grey") << QColor(128, 128, 128) << false;
		// Lightness is (max + min) / 2, not the average of three channels.
		QTest::addRow("saturated blue, lightness 127") << QColor(0, 0, 254) << true;
		QTest::addRow("saturated yellow, lightness 128") << QColor(255, 255, 1) << false;
	}

	void darknessFollowsWindowLightness()
	{
		QFETCH(QColor, window);
		QFETCH(bool, dark);
		const QPalette p = palette(window, Qt::white);
		QCOMPARE(theme::isDark(p), dark);
		QCOMPARE(theme::saveErrorSheet(dark).contains(QStringLiteral("#4b2525")), dark);
		QCOMPARE(theme::saveErrorSheet(dark).contains(QStringLiteral("#fff0ec")), !dark);
		QCOMPARE(theme::sliderSheet(p).contains(QStringLiteral("background: #d8dce3;")), dark);
		QCOMPARE(theme::sliderSheet(p).contains(QStringLiteral("background: #606975;")), !dark);
	}

	void derivedColours()
	{
		const QPalette p = palette(QColor(0xf0, 0xf0, 0xf0), QColor(0x10, 0x20, 0x30));
		// (text + 3 window) / 4 per channel, truncated.
		QCOMPARE(theme::lineColor(p), QColor(0xb8, 0xbc, 0xc0));
		QCOMPARE(theme::mutedText(p), QStringLiteral("rgba(16, 32, 48, 170)"));
		QCOMPARE(theme::separatorSheet(p), QStringLiteral("QFrame { border: 0px; background: #b8bcc0; }"));
		QVERIFY(theme::searchFieldSheet(p).contains(QStringLiteral("placeholder-text-color: rgba(16, 32, 48, 170);")));
		// Mid for checked buttons; the button colour made 20 % brighter for hover (64 * 1.2, rounded).
		const QString buttons = theme::toolButtonSheet(p);
		QVERIFY(buttons.contains(QStringLiteral("QToolButton:checked { background: #808080; }")));
		QVERIFY(buttons.contains(QStringLiteral("hover { background: #4d4d4d; }")));
		QVERIFY(theme::toolBarSheet(p).endsWith(buttons));
		// Unfilled placeholders would leave a '%' behind.
		for (const QString &sheet : {theme::editorSheet(p, QString(), QString()), theme::sliderSheet(p), buttons,
					     theme::toolBarSheet(p), theme::searchFieldSheet(p)})
			QVERIFY2(!sheet.contains(QLatin1Char('%')), qPrintable(sheet));
	}

	void editorSheetCarriesSelectionOverrides_data()
	{
		QTest::addColumn<QString>("text");
		QTest::addColumn<QString>("background");
		QTest::addColumn<QString>("expected");
		QTest::addRow("none") << QString() << QString() << QString();
		QTest::addRow("both") << QStringLiteral("#ff0000") << QStringLiteral("#00ff00")
				      << QStringLiteral("selection-color: #ff0000;selection-background-color: #00ff00;");
		// A colour name with a percent sign must not be taken for a placeholder.
		QTest::addRow("odd name") << QStringLiteral("%1") << QString() << QStringLiteral("selection-color: %1;");
	}

	void editorSheetCarriesSelectionOverrides()
	{
		QFETCH(QString, text);
		QFETCH(QString, background);
		QFETCH(QString, expected);
		const QString sheet = theme::editorSheet(palette(QColor(0xf0, 0xf0, 0xf0), QColor(0x10, 0x20, 0x30)),
							 text, background);
		QVERIFY2(sheet.startsWith(QStringLiteral("QTextEdit { color: #102030; ") + expected +
					  QStringLiteral(" border: 1px solid palette(highlight); } ")),
			 qPrintable(sheet));
		// #f0f0f0 made darker by 115: brightness 240 / 1.15 = 208.7, rounded.
		QVERIFY(sheet.contains(QStringLiteral("QTextEdit:!focus { background-color: #d1d1d1; }")));
	}
};

QTEST_MAIN(ThemeTest)
#include "tst_theme.moc"
