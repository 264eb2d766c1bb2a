// Export side of the block document (documentToBlocks, run formats, editability, plain text, the
// conversion to basic formatting) and exported documents sent back unchanged.

#include "blocks_vectors.h"
#include "documents/blocks.h"
#include "documents/blocks_model.h"

#include <QFont>
#include <QLinearGradient>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextDocument>

using namespace quillmar;

namespace {

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
	// What a client receives for a note; sent back exactly (through JSON text), it stores the very
	// same HTML, while a note that cannot be edited remotely refuses every save.
	void exportAndSendBack_data()
	{
		QTest::addColumn<QJsonObject>("vector");
		const QJsonArray cases = blocktest::loadCases(QStringLiteral("export.json"));
		QVERIFY(cases.size() > 10);
		for (const QJsonValue c : cases)
			QTest::newRow(qPrintable(c[QLatin1String("name")].toString())) << c.toObject();
		QTextDocument doc;
		QTextCursor cursor(&doc);
		QTextCharFormat spaced;
		spaced.setFontWordSpacing(18);
		cursor.insertText(QStringLiteral("spaced "), spaced);
		cursor.insertText(QStringLiteral("and not"));
		QTest::newRow("written by Qt, with word spacing")
			<< QJsonObject{{QStringLiteral("html"), doc.toHtml()}, {QStringLiteral("editable"), true}};
	}

	void exportAndSendBack()
	{
		QFETCH(QJsonObject, vector);
		const QString html = vector.value(QLatin1String("html")).toString();
		const QJsonObject blocks = htmlToBlocks(html);
		const bool editable = vector.value(QLatin1String("editable")).toBool();
		QVERIFY(!blocks.isEmpty());
		QCOMPARE(blocks.value(QLatin1String("editable")).toBool(), editable);
		QTextDocument doc;
		doc.setHtml(html);
		QCOMPARE(isRemoteEditable(doc), editable);
		QString why;
		if (vector.contains(QLatin1String("blocks")))
			QVERIFY2(blocktest::sameBlocks(blocks[QLatin1String("blocks")].toArray(),
						       vector[QLatin1String("blocks")].toArray(), {}, &why),
				 qPrintable(why));

		const QJsonObject exported = QJsonDocument::fromJson(QJsonDocument(blocks).toJson()).object();
		// "editable" means nothing on input.
		QJsonObject other = exported;
		other.insert(QLatin1String("editable"), !editable);
		if (!editable)
			other = htmlToBlocks(QStringLiteral("<p>plain</p>"));
		for (const QJsonObject &sent : {exported, other}) {
			QString out = QStringLiteral("untouched"), error;
			bool limit = true;
			QCOMPARE(applyBlocks(html, sent, out, &limit, &error), editable);
			QVERIFY(!limit);
			QCOMPARE(out, editable ? html : QStringLiteral("untouched"));
			QVERIFY(editable || error.startsWith(QLatin1String("BlocksNotEditable")));
		}
	}

	// Over any note limit, or over the run limit, there is no block document at all.
	void exportLimits_data()
	{
		QTest::addColumn<QString>("plain");
		QTest::addColumn<int>("runs"); // with runs: that many paragraphs of 10000 one-letter runs
		QTest::addColumn<bool>("fits");
		// Both sides of each limit are the note limit checks' business; one case over each does here.
		QTest::newRow("10001 in a paragraph") << paragraphs(2, 1, 10001) << 0 << false;
		QTest::newRow("20001 paragraphs") << paragraphs(20001, 1, 1) << 0 << false;
		QTest::newRow("200001 characters") << paragraphs(20, 10000, 9982) << 0 << false;
		// The last paragraph is the extra run, within every other limit, or empty.
		QTest::newRow("100000 runs") << QString() << 10 << true;
		QTest::newRow("100001 runs") << QStringLiteral("y") << 10 << false;
	}

	void exportLimits()
	{
		QFETCH(QString, plain);
		QFETCH(int, runs);
		QFETCH(bool, fits);
		QTextDocument doc;
		doc.setLayoutEnabled(false);
		doc.setUndoRedoEnabled(false);
		if (runs) {
			doc.setHtml(QStringLiteral("x<b>x</b>").repeated(5000));
			const QTextDocumentFragment paragraph(&doc);
			QTextCursor end(&doc);
			end.movePosition(QTextCursor::End);
			for (int i = 1; i < runs; ++i) {
				end.insertBlock();
				end.insertFragment(paragraph);
			}
			QTextCharFormat italic;
			italic.setFontItalic(true);
			end.insertBlock();
			end.insertText(plain, italic);
		} else {
			doc.setPlainText(plain);
		}
		const QJsonObject blocks = documentToBlocks(doc, false);
		QCOMPARE(blocks.isEmpty(), !fits);
		if (fits)
			QCOMPARE(blocks[QLatin1String("blocks")].toArray().size(), doc.blockCount());
		else // the resolved export stops as early
			QVERIFY(documentToBlocks(doc, true).isEmpty());
	}

	// A pair whose halves carry different formats travels whole with its first half, so that
	// every run holds valid text and the note stays editable.
	void surrogatePairOverTwoFormats()
	{
		const QString pair = QStringLiteral("\U0001F600");
		QTextDocument doc;
		QTextCursor cursor(&doc);
		QTextCharFormat bold, light, italic;
		bold.setFontWeight(700);
		light.setFontWeight(300);
		italic.setFontItalic(true);
		// The second half with more text after it, then the second half alone.
		cursor.insertText(QStringLiteral("x") + pair.front(), bold);
		cursor.insertText(pair.back() + QStringLiteral("y"), light);
		cursor.insertText(QStringLiteral("z") + pair.front(), bold);
		cursor.insertText(pair.back(), light);
		cursor.insertText(QStringLiteral("w"), italic);
		QVERIFY(isRemoteEditable(doc));
		const QJsonObject blocks = documentToBlocks(doc, false);
		QVERIFY(blocks[QLatin1String("editable")].toBool());
		QStringList runTexts;
		for (const QJsonValue run : blocks[QLatin1String("blocks")][0][QLatin1String("runs")].toArray())
			runTexts << run[QLatin1String("text")].toString();
		QCOMPARE(runTexts, (QStringList{QStringLiteral("x") + pair, QStringLiteral("y"),
						QStringLiteral("z") + pair, QStringLiteral("w")}));
	}

	// A family name too long for a run is cut for the resolved export, never inside a pair.
	void longFamilyCutWhole()
	{
		const QString kept(blocks::kMaxFamily - 1, QLatin1Char('f'));
		QTextDocument doc;
		QTextCharFormat format;
		format.setFontFamilies({kept + QStringLiteral("\U0001F600")});
		QTextCursor(&doc).insertText(QStringLiteral("x"), format);
		const QJsonObject exported = documentToBlocks(doc, true);
		QCOMPARE(exported[QLatin1String("blocks")][0][QLatin1String("runs")][0][QLatin1String("family")].toString(), kept);
	}

	// Reading a run merges into what the format holds; a refused run changes nothing.
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
		QCOMPARE(format.fontWordSpacing(), 3.0);
		const QTextCharFormat before = format;
		for (double size : {qQNaN(), qInf(), -1.0, 500.01}) {
			QJsonObject bad = styled;
			bad.insert(QStringLiteral("size"), size);
			bad.insert(QStringLiteral("weight"), 400);
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

	// Everything the model cannot express goes and every value is brought into range; the
	// text stays, in reading order, with the family and size it is shown with.
	void convertToBasic()
	{
		QTextDocument doc;
		doc.setDefaultFont(QFont(QStringLiteral("Serif"), 15));
		doc.setHtml(QStringLiteral(
			"<p>plain <a href=\"https://example.org/\">link</a> x<sup>2</sup>"
			"<span style=\"font-size:16px\">px</span><span style=\"color:rgba(255,0,0,128)\">half</span>"
			"<img src=\"none.png\" /><span style=\"font-size:600pt; font-family:Mono\">big</span></p>"
			"<table><tr><td>one</td><td>two</td></tr><tr><td>three</td><td>four</td></tr></table>"
			"<p style=\"-qt-block-indent:15\">far</p><ol start=\"0\"><li>zero</li></ol>"
			"<ul style=\"list-style-type:none\"><li>bare</li></ul><p>a&#0;b&#xD800;c</p>"));
		QTextCharFormat patterned;
		patterned.setForeground(QBrush(Qt::red, Qt::Dense4Pattern));
		patterned.setBackground(QBrush(Qt::green, Qt::Dense3Pattern));
		patterned.setFontWeight(0);
		QTextCursor end(&doc);
		end.movePosition(QTextCursor::End);
		end.insertText(QStringLiteral("dots"), patterned);
		QVERIFY(!isRemoteEditable(doc));

		QString html, error, why;
		QVERIFY2(quillmar::convertToBasic(doc, html, &error), qPrintable(error));
		QTextDocument basic;
		basic.setHtml(html);
		QVERIFY(isRemoteEditable(basic));
		QStringList texts;
		for (QTextBlock b = basic.begin(); b.isValid(); b = b.next())
			if (!b.text().isEmpty())
				texts << b.text();
		QCOMPARE(texts.join(QLatin1Char('|')), QStringLiteral("plain link x2pxhalfbig|one|two|three|four|far|zero|bare|abcdots"));
		// The basic note holds just what the resolved export showed.
		const QJsonObject resolved = documentToBlocks(doc, true);
		QVERIFY(!resolved[QLatin1String("editable")].toBool());
		const QJsonArray blocks = resolved[QLatin1String("blocks")].toArray();
		QVERIFY2(blocktest::sameBlocks(htmlToBlocks(html)[QLatin1String("blocks")].toArray(), blocks, {}, &why),
			 qPrintable(why));
		auto run = [&](int block, const QString &text) {
			for (const QJsonValue r : blocks.at(block)[QLatin1String("runs")].toArray())
				if (r[QLatin1String("text")].toString() == text)
					return r.toObject();
			return QJsonObject();
		};
		const int last = int(blocks.size()) - 1;
		const struct {
			QJsonObject owner;
			const char *key;
			QJsonValue value;
		} expected[] = {{run(0, QStringLiteral("plain ")), "family", QStringLiteral("Serif")},
				{run(0, QStringLiteral("plain ")), "size", 15},
				{run(0, QStringLiteral("px")), "size", 12}, // 16 px
				{run(0, QStringLiteral("half")), "color", QString()},
				{run(0, QStringLiteral("big")), "size", 500},
				{run(0, QStringLiteral("big")), "family", QStringLiteral("Mono")},
				{blocks.at(last - 3).toObject(), "indent", 12},
				{blocks.at(last - 2).toObject(), "list", -4},
				{blocks.at(last - 2).toObject(), "listStart", 1},
				{blocks.at(last - 1).toObject(), "list", 0},
				{blocks.at(last - 1).toObject(), "listGroup", 0},
				{run(last, QStringLiteral("dots")), "color", QString()},
				{run(last, QStringLiteral("dots")), "background", QString()},
				{run(last, QStringLiteral("dots")), "weight", 1}};
		for (const auto &e : expected)
			QVERIFY2(e.owner.value(QLatin1String(e.key)) == e.value,
				 qPrintable(QStringLiteral("%1 of %2").arg(QLatin1String(e.key), blocktest::compact(e.owner))));

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
