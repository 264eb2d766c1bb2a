// Saving a client's block document onto the stored note: validation, limits, minimal replacement.

#include "blocks_vectors.h"
#include "documents/blocks.h"

#include <QJsonDocument>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

using namespace quillmar;

namespace {

const QString kUntouched = QStringLiteral("untouched");

QJsonArray blocksOf(const QJsonObject &document)
{
	return document.value(QLatin1String("blocks")).toArray();
}

// A copy of the document with one run's text replaced and, optionally, its weight.
QJsonObject withRun(QJsonObject document, int block, int run, const QString &text, int weight = 0)
{
	QJsonArray blocks = blocksOf(document);
	QJsonObject b = blocks.at(block).toObject();
	QJsonArray runs = b.value(QLatin1String("runs")).toArray();
	QJsonObject r = runs.at(run).toObject();
	r.insert(QLatin1String("text"), text);
	if (weight)
		r.insert(QLatin1String("weight"), weight);
	runs.replace(run, r);
	b.insert(QLatin1String("runs"), runs);
	blocks.replace(block, b);
	document.insert(QLatin1String("blocks"), blocks);
	return document;
}

// Word spacing, which the model does not carry (and which Qt's HTML keeps), of every character.
QList<qreal> spacings(const QString &html)
{
	QTextDocument doc;
	doc.setHtml(html);
	QList<qreal> out;
	for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
		for (auto it = b.begin(); !it.atEnd(); ++it)
			for (int i = 0; i < it.fragment().length(); ++i)
				out << it.fragment().charFormat().fontWordSpacing();
	return out;
}

QTextCharFormat spaced(qreal pixels)
{
	QTextCharFormat f;
	f.setFontWordSpacing(pixels);
	return f;
}

} // namespace

class TestBlocksApply : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void vectors_data()
	{
		QTest::addColumn<QJsonObject>("vector");
		for (const char *file : {"validation.json", "limits.json", "apply.json"}) {
			const QJsonArray cases = blocktest::loadCases(QLatin1String(file));
			QVERIFY2(cases.size() > 10, file);
			for (const QJsonValue c : cases)
				QTest::addRow("%s: %s", file, qPrintable(c[QLatin1String("name")].toString()))
					<< c.toObject();
		}
	}

	void vectors()
	{
		QFETCH(QJsonObject, vector);
		const QString html = vector.value(QLatin1String("html")).toString();
		const QJsonObject document = vector.value(QLatin1String("document")).toObject();
		const QString error = vector.value(QLatin1String("error")).toString();
		QString out = kUntouched;
		bool limit = !error.isEmpty();
		QString why;
		const bool ok = applyBlocks(html, document, out, &limit, &why);
		if (!error.isEmpty()) {
			QVERIFY2(!ok, "accepted");
			QCOMPARE(QLatin1String(limit ? "limit" : "format"), error);
			QCOMPARE(out, kUntouched);
			QVERIFY2(why.startsWith(QLatin1String(limit ? "TextLimit" : "Blocks")), qPrintable(why));
			return;
		}
		QVERIFY2(ok, qPrintable(why));
		QVERIFY(!limit);
		// Notes at the limits only have to be accepted; reading them back is the parse of a
		// huge note, which the random documents and the results below check in small.
		if (!vector.contains(QLatin1String("result")))
			return;
		const QJsonObject stored = htmlToBlocks(out);
		QVERIFY(stored.value(QLatin1String("editable")).toBool());
		QVERIFY2(blocktest::sameBlocks(blocksOf(stored), vector.value(QLatin1String("result")).toArray(),
					       {true, true}, &why),
			 qPrintable(why));
	}

	// A document sent back exactly as exported stores the very same HTML.
	void sentBackUnchanged_data()
	{
		QTest::addColumn<QString>("html");
		for (const QJsonValue c : blocktest::loadCases(QStringLiteral("export.json")))
			if (c[QLatin1String("editable")].toBool())
				QTest::newRow(qPrintable(c[QLatin1String("name")].toString()))
					<< c[QLatin1String("html")].toString();
		QTextDocument doc;
		QTextCursor cursor(&doc);
		cursor.insertText(QStringLiteral("spaced "), spaced(18));
		cursor.insertText(QStringLiteral("and not"));
		QTest::newRow("written by Qt, with word spacing") << doc.toHtml();
	}

	void sentBackUnchanged()
	{
		QFETCH(QString, html);
		// As a client gets it and sends it back: through JSON text.
		QJsonObject blocks = QJsonDocument::fromJson(QJsonDocument(htmlToBlocks(html)).toJson()).object();
		QString out;
		QVERIFY(applyBlocks(html, blocks, out));
		QCOMPARE(out, html);
		// "editable" means nothing on input.
		blocks.insert(QLatin1String("editable"), false);
		QVERIFY(applyBlocks(html, blocks, out));
		QCOMPARE(out, html);
	}

	void notesThatCannotBeEditedRejectEverySave_data()
	{
		QTest::addColumn<QString>("html");
		for (const QJsonValue c : blocktest::loadCases(QStringLiteral("export.json")))
			if (!c[QLatin1String("editable")].toBool())
				QTest::newRow(qPrintable(c[QLatin1String("name")].toString()))
					<< c[QLatin1String("html")].toString();
	}

	void notesThatCannotBeEditedRejectEverySave()
	{
		QFETCH(QString, html);
		const QJsonObject exported = htmlToBlocks(html);
		const QJsonObject plain = htmlToBlocks(QStringLiteral("<p>plain</p>"));
		for (const QJsonObject &sent : {exported, plain}) {
			QString out = kUntouched;
			bool limit = true;
			QString error;
			QVERIFY(!applyBlocks(html, sent, out, &limit, &error));
			QVERIFY(!limit);
			QCOMPARE(out, kUntouched);
			QVERIFY(error.startsWith(QLatin1String("BlocksNotEditable")));
		}
	}

	// One changed letter and one word made bold in a long note: every other character keeps the
	// word spacing, which the model does not carry, and the bold word keeps its own too.
	void minimalReplacement()
	{
		QTextDocument doc;
		QTextCursor cursor(&doc);
		int word = 0;
		for (int p = 0; p < 200; ++p) {
			if (p)
				cursor.insertBlock();
			for (int w = 0; w < 10; ++w, ++word)
				cursor.insertText(QStringLiteral("lorem%1 ").arg(word), spaced(1 + word % 97));
		}
		const QString html = doc.toHtml();
		const QJsonObject exported = htmlToBlocks(html);
		QCOMPARE(blocksOf(exported).at(120)[QLatin1String("runs")].toArray().size(), 10);
		QJsonObject edited = withRun(exported, 120, 4, QStringLiteral("lorum1204 "));
		edited = withRun(edited, 7, 2, QStringLiteral("lorem72 "), 700);
		QString out;
		QString error;
		QVERIFY2(applyBlocks(html, edited, out, nullptr, &error), qPrintable(error));
		QCOMPARE(spacings(out), spacings(html));
		QString why;
		QVERIFY2(blocktest::sameBlocks(blocksOf(htmlToBlocks(out)), blocksOf(edited), {true, true}, &why),
			 qPrintable(why));
	}

	// The stored line separator faces the new paragraph break: the break replaces just the
	// separator and both halves keep what they had.
	void softBreakBecomesParagraphBreak()
	{
		QTextDocument doc;
		QTextCursor cursor(&doc);
		cursor.insertText(QStringLiteral("first"), spaced(12));
		cursor.insertText(QString(QChar::LineSeparator) + QStringLiteral("second"), spaced(14));
		const QString html = doc.toHtml();
		const QJsonObject exported = htmlToBlocks(html);
		QJsonObject split = withRun(exported, 0, 1, QStringLiteral("second"));
		QJsonArray blocks = blocksOf(split);
		QJsonObject secondBlock = blocks.at(0).toObject();
		QJsonArray runs = secondBlock.value(QLatin1String("runs")).toArray();
		QJsonObject firstBlock = secondBlock;
		firstBlock.insert(QLatin1String("runs"), QJsonArray{runs.at(0)});
		secondBlock.insert(QLatin1String("runs"), QJsonArray{runs.at(1)});
		split.insert(QLatin1String("blocks"), QJsonArray{firstBlock, secondBlock});

		QString out;
		QString error;
		QVERIFY2(applyBlocks(html, split, out, nullptr, &error), qPrintable(error));
		QTextDocument result;
		result.setHtml(out);
		QCOMPARE(result.blockCount(), 2);
		QCOMPARE(result.firstBlock().text(), QStringLiteral("first"));
		QCOMPARE(result.lastBlock().text(), QStringLiteral("second"));
		QCOMPARE(spacings(out), QList<qreal>(5, 12) + QList<qreal>(6, 14));
	}

	// The pair is replaced as a whole: both halves take the format found where the new text
	// goes in, never half the old pair's format.
	void surrogatePairsReplacedWhole_data()
	{
		QTest::addColumn<QString>("replacement");
		QTest::newRow("low half differs") << QStringLiteral("\U0001F601");
		QTest::newRow("high half differs") << QStringLiteral("\U0001FA00");
	}

	void surrogatePairsReplacedWhole()
	{
		QFETCH(QString, replacement);
		QTextDocument doc;
		QTextCursor cursor(&doc);
		cursor.insertText(QStringLiteral("x"), spaced(15));
		cursor.insertText(QStringLiteral("\U0001F600"), spaced(30));
		cursor.insertText(QStringLiteral("y"), spaced(20));
		const QString html = doc.toHtml();
		QJsonObject document = htmlToBlocks(html);
		QJsonArray blocks = blocksOf(document);
		QJsonObject block = blocks.at(0).toObject();
		const QJsonObject run = block.value(QLatin1String("runs")).toArray().at(0).toObject();
		QJsonObject merged = run;
		merged.insert(QLatin1String("text"), QStringLiteral("x") + replacement + QStringLiteral("y"));
		block.insert(QLatin1String("runs"), QJsonArray{merged});
		document.insert(QLatin1String("blocks"), QJsonArray{block});
		QString out;
		QVERIFY(applyBlocks(html, document, out));
		QTextDocument result;
		result.setHtml(out);
		QCOMPARE(result.toPlainText(), QStringLiteral("x") + replacement + QStringLiteral("y"));
		QCOMPARE(spacings(out), (QList<qreal>{15, 15, 15, 20}));
	}
};

QTEST_MAIN(TestBlocksApply)
#include "tst_blocks_apply.moc"
