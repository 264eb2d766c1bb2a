#include "dock/dock_theme.h"

#include <QTest>

using namespace quillmar;

class ThemeTest : public QObject {
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
		QFETCH(bool, dark);
		QCOMPARE(theme::isDark(background), dark);
	}

	void sheetsFillEveryPlaceholder()
	{
		QPalette p;
		p.setColor(QPalette::Window, QColor(0xf0, 0xf0, 0xf0));
		p.setColor(QPalette::WindowText, QColor(0x10, 0x20, 0x30));
		// A colour name with a percent sign must not be taken for a placeholder.
		const QString editor = theme::editorSheet(p, QStringLiteral("%1"), QString());
		QVERIFY(editor.contains(QStringLiteral("selection-color: %1;")));
		for (const QString &sheet : {theme::editorSheet(p, QString(), QString()), theme::sliderSheet(p),
					     theme::toolBarSheet(p), theme::searchFieldSheet(p), theme::separatorSheet(p)})
			QVERIFY2(!sheet.contains(QLatin1Char('%')), qPrintable(sheet));
	}
};

QTEST_MAIN(ThemeTest)
#include "tst_theme.moc"
