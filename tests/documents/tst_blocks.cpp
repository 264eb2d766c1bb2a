// Export side of the block document: documentToBlocks, run formats, editability, plain text and
// the conversion to basic formatting.

#include "blocks_vectors.h"
#include "documents/blocks.h"

#include <QFont>
#include <QLinearGradient>
#include <QTest>
#include <QTextDocumentFragment>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

using namespace quillmar;

namespace {

QStringList blockTexts(const QTextDocument &doc)
{
	QStringList out;
	for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
		out << b.text();
	return out;
}

// count paragraphs of `length` characters, the last one `lastLength` long.
QString paragraphs(int count, int length, int lastLength)
{
	QStringList list(count - 1, QString(length, QLatin1Char('a')));
	list << QString(lastLength, QLatin1Char('b'));
	return list.join(QLatin1Char('\n'));
}

} // namespace

class TestBlocks : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void exportVectors_data()
	{
		QTest::addColumn<QJsonObject>("vector");
		const QJsonArray cases = blocktest::loadCases(QStringLiteral("export.json"));
		QVERIFY(cases.size() > 10);
		for (const QJsonValue c : cases)
			QTest::newRow(qPrintable(c[QLatin1String("name")].toString())) << c.toObject();
	}

	void exportVectors()
	{
		QFETCH(QJsonObject, vector);
		const QString html = vector.value(QLatin1String("html")).toString();
		const QJsonObject blocks = htmlToBlocks(html);
		QVERIFY(!blocks.isEmpty());
		const bool editable = vector.value(QLatin1String("editable")).toBool();
		QCOMPARE(blocks.value(QLatin1String("editable")).toBool(), editable);
		QTextDocument doc;
		doc.setHtml(html);
		QCOMPARE(isRemoteEditable(doc), editable);
		if (vector.contains(QLatin1String("blocks"))) {
			QString why;
			QVERIFY2(blocktest::sameBlocks(blocks.value(QLatin1String("blocks")).toArray(),
						       vector.value(QLatin1String("blocks")).toArray(), {},
						       &why),
				 qPrintable(why));
		}
	}

	// Over any note limit, or over the run limit, there is no block document at all.
	void exportLimits_data()
	{
		QTest::addColumn<QString>("plain");
		QTest::addColumn<bool>("fits");
		QTest::newRow("200000 characters") << paragraphs(20, 10000, 9981) << true;
		QTest::newRow("200001 characters") << paragraphs(20, 10000, 9982) << false;
		QTest::newRow("20000 paragraphs") << paragraphs(20000, 1, 1) << true;
		QTest::newRow("20001 paragraphs") << paragraphs(20001, 1, 1) << false;
		QTest::newRow("10000 in a paragraph") << paragraphs(2, 1, 10000) << true;
		QTest::newRow("10001 in a paragraph") << paragraphs(2, 1, 10001) << false;
	}

	void exportLimits()
	{
		QFETCH(QString, plain);
		QFETCH(bool, fits);
		QTextDocument doc;
		doc.setLayoutEnabled(false);
		doc.setUndoRedoEnabled(false);
		doc.setPlainText(plain);
		const QJsonObject blocks = documentToBlocks(doc, false);
		QCOMPARE(blocks.isEmpty(), !fits);
		if (fits)
			QCOMPARE(blocks.value(QLatin1String("blocks")).toArray().size(), doc.blockCount());
	}

	// 100000 fragments pass, the next one is too many.
	void fragmentLimit()
	{
		QTextDocument doc;
		doc.setLayoutEnabled(false);
		doc.setUndoRedoEnabled(false);
		QString html;
		for (int i = 0; i < 10000; ++i)
			html += QLatin1String(i % 2 ? "<b>x</b>" : "x");
		doc.setHtml(html);
		// Ten paragraphs of 10000 fragments each.
		const QTextDocumentFragment paragraph(&doc);
		QTextCursor end(&doc);
		end.movePosition(QTextCursor::End);
		for (int i = 1; i < 10; ++i) {
			end.insertBlock();
			end.insertFragment(paragraph);
		}
		QCOMPARE(documentToBlocks(doc, false).value(QLatin1String("blocks")).toArray().size(), 10);
		QTextCharFormat italic;
		italic.setFontItalic(true);
		end.insertText(QStringLiteral("y"), italic);
		for (bool resolved : {false, true})
			QVERIFY(documentToBlocks(doc, resolved).isEmpty());
	}

	// Resolved export: what the text is shown with, inside the ranges a client may send.
	void resolvedExport()
	{
		QTextDocument doc;
		doc.setDefaultFont(QFont(QStringLiteral("Serif"), 15));
		doc.setHtml(QStringLiteral(
			"<p>plain<span style=\"font-size:16px\">px</span><span style=\"color:rgba(255,0,0,128)\">"
			"half</span><img src=\"none.png\" />"
			"<span style=\"font-size:600pt; font-family:Mono\">big</span></p>"
			"<p style=\"-qt-block-indent:15\">far</p><ol start=\"0\"><li>zero</li></ol>"
			"<ul style=\"list-style-type:none\"><li>bare</li></ul><p>a&#0;b&#xD800;c</p>"));
		QTextCharFormat patterned;
		patterned.setForeground(QBrush(Qt::red, Qt::Dense4Pattern));
		patterned.setFontWeight(0);
		QTextCursor end(&doc);
		end.movePosition(QTextCursor::End);
		end.insertText(QStringLiteral("dots"), patterned);

		const QJsonObject unresolved = documentToBlocks(doc, false);
		QCOMPARE(unresolved.value(QLatin1String("editable")).toBool(), false);
		const QJsonObject resolved = documentToBlocks(doc, true);
		QCOMPARE(resolved.value(QLatin1String("editable")).toBool(), false);

		auto run = [&](int block, int index) {
			return resolved[QLatin1String("blocks")][block][QLatin1String("runs")][index].toObject();
		};
		auto block = [&](int index) {
			return resolved[QLatin1String("blocks")][index].toObject();
		};
		QCOMPARE(run(0, 0).value(QLatin1String("family")).toString(), QStringLiteral("Serif"));
		QCOMPARE(run(0, 0).value(QLatin1String("size")).toDouble(), 15.0);
		QCOMPARE(run(0, 1).value(QLatin1String("size")).toDouble(), 12.0); // 16 px
		QCOMPARE(run(0, 2).value(QLatin1String("color")).toString(), QString());
		// The image leaves no run of its own; the clamped size and the family follow.
		QCOMPARE(run(0, 3).value(QLatin1String("text")).toString(), QStringLiteral("big"));
		QCOMPARE(run(0, 3).value(QLatin1String("size")).toDouble(), 500.0);
		QCOMPARE(run(0, 3).value(QLatin1String("family")).toString(), QStringLiteral("Mono"));
		QCOMPARE(block(1).value(QLatin1String("indent")).toInt(), 12);
		QCOMPARE(block(2).value(QLatin1String("list")).toInt(), -4);
		QCOMPARE(block(2).value(QLatin1String("listStart")).toInt(), 1);
		QCOMPARE(block(3).value(QLatin1String("list")).toInt(), 0);
		QCOMPARE(block(3).value(QLatin1String("listGroup")).toInt(), 0);
		QCOMPARE(run(4, 0).value(QLatin1String("text")).toString(), QStringLiteral("abc"));
		const QJsonObject dots = run(4, 1);
		QCOMPARE(dots.value(QLatin1String("text")).toString(), QStringLiteral("dots"));
		QCOMPARE(dots.value(QLatin1String("color")).toString(), QString());
		QCOMPARE(dots.value(QLatin1String("weight")).toInt(), 1);
	}

	// A pair whose halves carry different formats travels whole with its first half, so that
	// every run holds valid text and the note stays editable.
	void surrogatePairOverTwoFormats_data()
	{
		QTest::addColumn<QString>("after");
		QTest::addColumn<QStringList>("texts");
		const QString pair = QStringLiteral("\U0001F600");
		QTest::newRow("second half and more")
			<< QStringLiteral("y") << QStringList{QLatin1String("x") + pair, QStringLiteral("y")};
		QTest::newRow("second half alone")
			<< QString() << QStringList{QLatin1String("x") + pair, QStringLiteral("z")};
	}

	void surrogatePairOverTwoFormats()
	{
		QFETCH(QString, after);
		QFETCH(QStringList, texts);
		const QString pair = QStringLiteral("\U0001F600");
		QTextDocument doc;
		QTextCursor cursor(&doc);
		QTextCharFormat bold, light, italic;
		bold.setFontWeight(700);
		light.setFontWeight(300);
		italic.setFontItalic(true);
		cursor.insertText(QStringLiteral("x") + pair.front(), bold);
		cursor.insertText(pair.back() + after, light);
		if (after.isEmpty())
			cursor.insertText(QStringLiteral("z"), italic);
		QVERIFY(isRemoteEditable(doc));
		const QJsonObject blocks = documentToBlocks(doc, false);
		QVERIFY(blocks[QLatin1String("editable")].toBool());
		QStringList runTexts;
		for (const QJsonValue run : blocks[QLatin1String("blocks")][0][QLatin1String("runs")].toArray())
			runTexts << run[QLatin1String("text")].toString();
		QCOMPARE(runTexts, texts);
	}

	// The JSON form of a character format both ways: merged into what the format holds, and a
	// refused run changes nothing.
	void runFormats()
	{
		const QJsonObject styled{{QStringLiteral("weight"), 700},
					 {QStringLiteral("italic"), true},
					 {QStringLiteral("underline"), true},
					 {QStringLiteral("strike"), true},
					 {QStringLiteral("size"), 14.5},
					 {QStringLiteral("family"), QStringLiteral("Serif")},
					 {QStringLiteral("color"), QStringLiteral("#102030")},
					 {QStringLiteral("background"), QStringLiteral("#ffeedd")}};
		QTextCharFormat format;
		format.setFontWordSpacing(3);
		QVERIFY(runFormatFromJson(styled, format));
		QCOMPARE(runFormatToJson(format), styled);
		// Size 0 and no family keep the text's; everything else is set.
		QJsonObject plain{{QStringLiteral("weight"), 400}, {QStringLiteral("size"), 0}};
		QVERIFY(runFormatFromJson(plain, format));
		plain = styled;
		for (const char *key : {"italic", "underline", "strike"})
			plain.insert(QLatin1String(key), false);
		plain.insert(QStringLiteral("weight"), 400);
		plain.insert(QStringLiteral("color"), QString());
		plain.insert(QStringLiteral("background"), QString());
		QCOMPARE(runFormatToJson(format), plain);
		QCOMPARE(format.fontWordSpacing(), 3.0);

		const QTextCharFormat before = format;
		for (double size : {qQNaN(), qInf(), -1.0, 500.01}) {
			QJsonObject bad = styled;
			bad.insert(QStringLiteral("size"), size);
			QVERIFY(!runFormatFromJson(bad, format));
		}
		QCOMPARE(format, before);
	}

	// Only plain, fully opaque colours belong to the model.
	void brushes_data()
	{
		QTest::addColumn<QBrush>("brush");
		QTest::addColumn<bool>("editable");
		QTest::newRow("opaque") << QBrush(QColor(250, 251, 252)) << true;
		QTest::newRow("alpha 254") << QBrush(QColor(1, 2, 3, 254)) << false;
		QTest::newRow("pattern") << QBrush(Qt::blue, Qt::CrossPattern) << false;
		QTest::newRow("gradient") << QBrush(QLinearGradient(0, 0, 1, 1)) << false;
	}

	void brushes()
	{
		QFETCH(QBrush, brush);
		QFETCH(bool, editable);
		for (bool background : {false, true}) {
			QTextDocument doc;
			QTextCharFormat format;
			background ? format.setBackground(brush) : format.setForeground(brush);
			QTextCursor(&doc).insertText(QStringLiteral("text"), format);
			QCOMPARE(isRemoteEditable(doc), editable);
			QCOMPARE(documentToBlocks(doc, false)[QLatin1String("editable")].toBool(), editable);
		}
	}

	void plainText()
	{
		QCOMPARE(htmlToPlainText(QStringLiteral(
				 "<p>a<img src=\"x.png\" />b</p><p>c<br />d&nbsp;e</p>"
				 "<table><tr><td>f</td><td>g</td></tr></table>")),
			 QStringLiteral("ab\nc\nd e\nf\ng\n"));
		QCOMPARE(htmlToPlainText(QString()), QString());
	}

	// Everything the model cannot express goes; the text stays, in reading order.
	void convertToBasic()
	{
		QTextDocument doc;
		doc.setDefaultFont(QFont(QStringLiteral("Serif"), 11));
		doc.setHtml(QStringLiteral(
			"<p>before <a href=\"https://example.org/\">link</a> x<sup>2</sup>"
			"<span style=\"font-size:16px\">px</span><img src=\"none.png\" /></p>"
			"<table><tr><td>one</td><td>two</td></tr><tr><td>three</td><td>four</td></tr></table>"
			"<p style=\"-qt-block-indent:20\"><span style=\"color:rgba(0,0,255,100)\">after</span></p>"));
		QTextCharFormat patterned;
		patterned.setBackground(QBrush(Qt::green, Qt::Dense3Pattern));
		QTextCursor end(&doc);
		end.movePosition(QTextCursor::End);
		end.insertText(QStringLiteral(" dotted"), patterned);
		QVERIFY(!isRemoteEditable(doc));

		QString html = QStringLiteral("unchanged");
		QString error;
		QVERIFY2(quillmar::convertToBasic(doc, html, &error), qPrintable(error));
		QTextDocument basic;
		basic.setHtml(html);
		QVERIFY(isRemoteEditable(basic));
		QStringList texts = blockTexts(basic);
		texts.removeAll(QString());
		QCOMPARE(texts, (QStringList{QStringLiteral("before link x2px"), QStringLiteral("one"),
					     QStringLiteral("two"), QStringLiteral("three"), QStringLiteral("four"),
					     QStringLiteral("after dotted")}));
		const QJsonArray blocks = htmlToBlocks(html).value(QLatin1String("blocks")).toArray();
		const QJsonArray first = blocks.at(0)[QLatin1String("runs")].toArray();
		QCOMPARE(first.at(0)[QLatin1String("family")].toString(), QStringLiteral("Serif"));
		QCOMPARE(first.at(0)[QLatin1String("size")].toDouble(), 11.0);
		bool sawPixelText = false;
		for (const QJsonValue run : first) {
			if (run[QLatin1String("text")].toString() == QLatin1String("px")) {
				sawPixelText = true;
				QCOMPARE(run[QLatin1String("size")].toDouble(), 12.0);
			}
		}
		QVERIFY(sawPixelText);
		QCOMPARE(blocks.last()[QLatin1String("indent")].toInt(), 12);

		QTextDocument tooLong;
		tooLong.setLayoutEnabled(false);
		tooLong.setPlainText(paragraphs(20001, 1, 1));
		html = QStringLiteral("unchanged");
		QVERIFY(!quillmar::convertToBasic(tooLong, html, &error));
		QCOMPARE(html, QStringLiteral("unchanged"));
		QVERIFY(error.startsWith(QLatin1String("TextLimit")));
	}
};

QTEST_MAIN(TestBlocks)
#include "tst_blocks.moc"
