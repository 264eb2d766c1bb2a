// Saving a client's block document onto the stored note: validation, limits, minimal replacement.
// Documents sent back unchanged are checked with the export vectors (tst_blocks.cpp).

#include "blocks_vectors.h"
#include "documents/blocks.h"

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

// Word spacing, which the model does not carry (and which Qt's HTML keeps), of every character.
QList<qreal> spacings(const QString &html)
{
	QTextDocument doc;
	doc.setHtml(html);
	QList<qreal> out;
	for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
		for (auto it = b.begin(); !it.atEnd(); ++it)
			out << QList<qreal>(it.fragment().length(), it.fragment().charFormat().fontWordSpacing());
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
		const QString error = vector.value(QLatin1String("error")).toString();
		QString out = kUntouched, why;
		bool limit = !error.isEmpty();
		const bool ok = applyBlocks(vector[QLatin1String("html")].toString(),
					    vector[QLatin1String("document")].toObject(), out, &limit, &why);
		if (!error.isEmpty()) {
			QVERIFY2(!ok, "accepted");
			QCOMPARE(QLatin1String(limit ? "limit" : "format"), error);
			QCOMPARE(out, kUntouched);
			QVERIFY2(why.startsWith(QLatin1String(limit ? "TextLimit" : "Blocks")), qPrintable(why));
			return;
		}
		QVERIFY2(ok, qPrintable(why));
		QVERIFY(!limit);
		// Notes at the limits only have to be accepted: reading them back is the parse of a huge
		// note, which the random documents and the results below check in small.
		if (!vector.contains(QLatin1String("result")))
			return;
		const QJsonObject stored = htmlToBlocks(out);
		QVERIFY(stored.value(QLatin1String("editable")).toBool());
		QVERIFY2(blocktest::sameBlocks(blocksOf(stored), vector[QLatin1String("result")].toArray(),
					       {true, true}, &why),
			 qPrintable(why));
	}

	// Items of nested lists, one of them sent in another list at each list indent or as a
	// paragraph: every block keeps its list, even where the stored list it was in cannot go on
	// in Qt's HTML and a new one takes its place.
	void listItemMovedToAnotherList_data()
	{
		QTest::addColumn<int>("moved");
		QTest::addColumn<int>("listIndent");
		// A numbered item, then a bullet item holding a numbered list of three items, then a
		// paragraph; listIndent 0 makes the moved item a paragraph.
		for (int moved = 0; moved < 5; ++moved)
			for (int listIndent = 0; listIndent <= 3; ++listIndent)
				QTest::addRow("item %d to list indent %d", moved, listIndent) << moved << listIndent;
	}

	void listItemMovedToAnotherList()
	{
		QFETCH(int, moved);
		QFETCH(int, listIndent);
		const QString stored = QStringLiteral(
			"<ol type=\"i\" start=\"7\" style=\"-qt-list-indent: 2;\"><li>first</li></ol>"
			"<ul style=\"-qt-list-indent: 2;\"><li>second"
			"<ol type=\"i\" start=\"5\" style=\"-qt-list-indent: 3;\"><li>a</li><li>b</li><li>c</li></ol>"
			"</li></ul><p>after</p>");
		QJsonArray blocks = blocksOf(htmlToBlocks(stored));
		QCOMPARE(blocks.size(), 6);
		QJsonObject block = blocks.at(moved).toObject();
		block.insert(QLatin1String("list"), listIndent ? -6 : 0);
		block.insert(QLatin1String("listIndent"), qMax(listIndent, 1));
		block.insert(QLatin1String("listGroup"), listIndent ? 99 : 0);
		block.insert(QLatin1String("listStart"), listIndent ? 9 : 1);
		blocks.replace(moved, block);
		QString out, why;
		QVERIFY2(applyBlocks(stored, {{QStringLiteral("blocks"), blocks}}, out, nullptr, &why), qPrintable(why));
		const QJsonArray result = blocksOf(htmlToBlocks(out));
		QVERIFY2(blocktest::sameBlocks(result, blocks, {true, false}, &why) &&
				 blocktest::listsAgree(result, blocks, &why),
			 qPrintable(why));
	}

	// Stored pieces with their word spacing, which the model does not carry ("\n" starts a
	// block), the runs sent back ("\n" starts a block, "*" makes a run bold) and the spacing
	// every character ends with: only what differs is replaced, and new text takes the format
	// found where it goes in.
	void replacesOnlyWhatDiffers_data()
	{
		QTest::addColumn<QStringList>("pieces");
		QTest::addColumn<QList<qreal>>("spacing");
		QTest::addColumn<QStringList>("sent");
		QTest::addColumn<QList<qreal>>("expected");
		// One changed letter and one word made bold in a long note.
		QStringList pieces, sent;
		QList<qreal> spacing, expected;
		for (int word = 0; word < 2000; ++word) {
			if (word && word % 10 == 0) {
				pieces << QStringLiteral("\n");
				sent << QStringLiteral("\n");
				spacing << 0;
			}
			const QString text = QStringLiteral("lorem%1 ").arg(word);
			pieces << text;
			spacing << 1 + word % 97;
			expected << QList<qreal>(text.size(), 1 + word % 97);
			sent << (word == 1204 ? QStringLiteral("lorum1204 ") : word == 72 ? QLatin1Char('*') + text : text);
		}
		QTest::newRow("one word of a long note") << pieces << spacing << sent << expected;
		// The stored line separator faces the new paragraph break: the break replaces just the
		// separator and both halves keep what they had.
		QTest::newRow("line separator to paragraph break")
			<< QStringList{QStringLiteral("first"), QStringLiteral("\u2028second")} << QList<qreal>{12, 14}
			<< QStringList{QStringLiteral("first"), QStringLiteral("\n"), QStringLiteral("second")}
			<< QList<qreal>(5, 12) + QList<qreal>(6, 14);
		// A pair is replaced whole, never keeping half the old pair's format.
		const QStringList pair{QStringLiteral("x"), QStringLiteral("\U0001F600"), QStringLiteral("y")};
		QTest::newRow("pair, low half differs") << pair << QList<qreal>{15, 30, 20}
							<< QStringList{QStringLiteral("x\U0001F601y")} << QList<qreal>{15, 15, 15, 20};
		QTest::newRow("pair, high half differs") << pair << QList<qreal>{15, 30, 20}
							 << QStringList{QStringLiteral("x\U0001FA00y")} << QList<qreal>{15, 15, 15, 20};
	}

	void replacesOnlyWhatDiffers()
	{
		QFETCH(QStringList, pieces);
		QFETCH(QList<qreal>, spacing);
		QFETCH(QStringList, sent);
		QFETCH(QList<qreal>, expected);
		QTextDocument doc;
		QTextCursor cursor(&doc);
		for (int i = 0; i < pieces.size(); ++i)
			pieces.at(i) == QLatin1String("\n") ? cursor.insertBlock() : cursor.insertText(pieces.at(i), spaced(spacing.at(i)));
		const QString html = doc.toHtml();
		// Blocks and runs take the format of the note's first run and block.
		QJsonObject block = blocksOf(htmlToBlocks(html)).at(0).toObject();
		const QJsonObject plain = block[QLatin1String("runs")][0].toObject();
		QJsonArray blocks, runs;
		for (const QString &text : sent + QStringList(QStringLiteral("\n"))) {
			if (text == QLatin1String("\n")) {
				block.insert(QLatin1String("runs"), runs);
				blocks.append(block);
				runs = {};
				continue;
			}
			QJsonObject run = plain;
			run.insert(QLatin1String("text"), text.startsWith(QLatin1Char('*')) ? text.mid(1) : text);
			run.insert(QLatin1String("weight"), text.startsWith(QLatin1Char('*')) ? 700 : 400);
			runs.append(run);
		}
		QString out, error, why;
		QVERIFY2(applyBlocks(html, {{QStringLiteral("blocks"), blocks}}, out, nullptr, &error), qPrintable(error));
		QCOMPARE(spacings(out), expected);
		QVERIFY2(blocktest::sameBlocks(blocksOf(htmlToBlocks(out)), blocks, {true, true}, &why), qPrintable(why));
	}
};

QTEST_MAIN(TestBlocksApply)
#include "tst_blocks_apply.moc"
