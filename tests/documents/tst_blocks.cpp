// The block document: what a client receives for a note (documentToBlocks, editability, plain
// text, the conversion to basic formatting), what a save makes of the stored note (validation,
// limits, minimal replacement), and random documents against random stored notes, where
// QUILLMAR_SEED and QUILLMAR_ROUNDS explore beyond the fixed seed.

#include "blocks_vectors.h"
#include "documents/blocks.h"
#include "documents/blocks_model.h"

#include <QFont>
#include <QLinearGradient>
#include <QRandomGenerator>
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

struct Random {
	QRandomGenerator gen;
	int below(int n) { return int(gen.bounded(quint32(n))); }
	bool chance(int percent) { return below(100) < percent; }
	template<typename T> T pick(std::initializer_list<T> values) { return values.begin()[below(int(values.size()))]; }
};

QString randomText(Random &r, int most)
{
	static const QStringList pieces =
		QStringLiteral("a|b|word | |\u25c6[cue]|\u2028|\u00a0|\U0001F600|\U0001F601|\U0001FA00").split(QLatin1Char('|'));
	QString text;
	for (int n = r.below(most + 1); n > 0; --n)
		text += pieces.at(r.below(int(pieces.size())));
	return text;
}

QJsonObject randomRun(Random &r)
{
	return {{"text", randomText(r, 4)}, {"weight", r.pick({400, 400, 700, 300, 1, 1000})}, {"italic", r.chance(30)},
		{"underline", r.chance(20)}, {"strike", r.chance(10)}, {"size", r.pick({0.0, 0.0, 9.0, 12.0, 14.5})},
		{"family", r.pick({"", "", "Serif", "DejaVu Sans"})}, {"color", r.pick({"", "", "#ff0000", "#00aa00"})},
		{"background", r.pick({"", "", "", "#ffff00"})}};
}

// Paragraphs and lists; blocks of one list share group, style, indent and start, every list has
// a group of its own, and only numbered lists (as Qt's HTML) keep a start.
QJsonArray randomBlocks(Random &r)
{
	QJsonArray blocks;
	for (int n = 1 + r.below(7); n > 0; --n) {
		const int list = r.chance(40) ? -1 - r.below(8) : 0;
		const QJsonObject shared{{"list", list}, {"listIndent", list ? 1 + r.below(3) : 1},
					 {"listGroup", list ? n : 0}, {"listStart", list < -3 ? 1 + r.below(20) : 1}};
		for (int k = list ? 1 + r.below(3) : 1; k > 0; --k) {
			QJsonArray runs;
			for (int m = r.below(4); m > 0; --m)
				runs.append(randomRun(r));
			// Qt's HTML cannot say "left" and nests deeper lists inside the item before, so a
			// list item's alignment does not survive under an item aligned otherwise.
			QJsonObject block = shared;
			block.insert("align", list ? 1 : r.pick({1, 1, 2, 4, 8}));
			block.insert("indent", r.pick({0, 0, 0, 1, 3}));
			block.insert("runs", runs);
			blocks.append(block);
		}
	}
	return blocks;
}

// Stored pieces with their word spacing, the runs sent back, the spacing of every character after.
using DiffRow = std::tuple<QStringList, QList<qreal>, QStringList, QList<qreal>>;

} // namespace

Q_DECLARE_METATYPE(DiffRow)

class TestBlocks : public QObject {
	Q_OBJECT

private Q_SLOTS:
	// Over any note limit, or over the run limit, there is no block document at all.
	void exportLimits_data()
	{
		QTest::addColumn<QString>("html");
		QTest::addColumn<bool>("fits");
		// Both sides of each note limit are the note limit checks' business; one over any does here.
		QTest::newRow("20001 paragraphs") << QStringLiteral("<p>a</p>").repeated(20001) << false;
		const QString runs = QStringLiteral("<p>%1</p>").arg(QStringLiteral("x<b>x</b>").repeated(5000)).repeated(10);
		QTest::newRow("100000 runs") << runs << true;
		QTest::newRow("100001 runs") << runs + QStringLiteral("<p><i>y</i></p>") << false;
	}

	void exportLimits()
	{
		QFETCH(QString, html);
		QFETCH(bool, fits);
		QTextDocument doc;
		doc.setHtml(html);
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
		QTextCharFormat bold, light;
		bold.setFontWeight(700);
		light.setFontWeight(300);
		// The second half with more text after it, then the second half alone.
		for (const QString &after : {QStringLiteral("y"), QString()}) {
			cursor.insertText(QStringLiteral("x") + pair.front(), bold);
			cursor.insertText(pair.back() + after, light);
		}
		cursor.insertText(QStringLiteral("w"), QTextCharFormat());
		QVERIFY(isRemoteEditable(doc));
		const QJsonObject blocks = documentToBlocks(doc, false);
		QVERIFY(blocks[QLatin1String("editable")].toBool());
		QStringList runTexts;
		for (const QJsonValue run : blocks[QLatin1String("blocks")][0][QLatin1String("runs")].toArray())
			runTexts << run[QLatin1String("text")].toString();
		QCOMPARE(runTexts, (QStringList{QStringLiteral("x") + pair, QStringLiteral("y"), QStringLiteral("x") + pair, QStringLiteral("w")}));
	}

	// Only plain, fully opaque colours belong to the model.
	void brushes()
	{
		const std::pair<QBrush, bool> brushes[] = {{QColor(250, 251, 252), true}, {QColor(1, 2, 3, 254), false},
							   {QBrush(Qt::blue, Qt::CrossPattern), false}, {QLinearGradient(0, 0, 1, 1), false}};
		for (const auto &[brush, editable] : brushes)
			for (bool background : {false, true}) {
				QTextDocument doc;
				QTextCharFormat format;
				format.setProperty(background ? QTextFormat::BackgroundBrush : QTextFormat::ForegroundBrush, brush);
				QTextCursor(&doc).insertText(QStringLiteral("text"), format);
				QCOMPARE(isRemoteEditable(doc), editable);
				QCOMPARE(documentToBlocks(doc, false)[QLatin1String("editable")].toBool(), editable);
			}
	}

	// Everything the model cannot express goes and every value is brought into range; the
	// text stays, in reading order, with the family and size it is shown with.
	void convertToBasic()
	{
		QTextDocument doc;
		doc.setDefaultFont(QFont(QStringLiteral("Serif"), 15));
		// A family too long for a run is cut, never inside a pair.
		const QString family(blocks::kMaxFamily - 1, QLatin1Char('f')), source = QStringLiteral(
			"<p>plain <a href=\"https://example.org/\">link</a> x<sup>2</sup>"
			"<span style=\"font-size:16px\">px</span><span style=\"color:rgba(255,0,0,128)\">half</span>"
			"<img src=\"none.png\" /><span style=\"font-size:600pt; font-family:%1\U0001F600\">big</span></p>"
			"<table><tr><td>one</td><td>two</td></tr><tr><td>three</td><td>four</td></tr></table>"
			"<p style=\"-qt-block-indent:15\">far</p><ol start=\"0\"><li>zero</li></ol>"
			"<ul style=\"list-style-type:none\"><li>bare</li></ul><p>a&#0;b&#xD800;c<br />d&nbsp;e</p>").arg(family);
		doc.setHtml(source);
		const QString plain = htmlToPlainText(source);
		QVERIFY2(plain.startsWith(QLatin1String("plain link x2pxhalfbig\none\ntwo\nthree\nfour\n")) && plain.endsWith(QLatin1String("c\nd e")),
			 qPrintable(plain));
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
		QCOMPARE(texts.join(QLatin1Char('|')), QStringLiteral("plain link x2pxhalfbig|one|two|three|four|far|zero|bare|abc\u2028d\u00a0edots"));
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
				{run(0, QStringLiteral("big")), "family", family},
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
		tooLong.setPlainText(QStringLiteral("a\n").repeated(20001)); // one paragraph over the limit
		html = QStringLiteral("unchanged");
		QVERIFY(!quillmar::convertToBasic(tooLong, html, &error));
		QCOMPARE(html, QStringLiteral("unchanged"));
		QVERIFY(error.startsWith(QLatin1String("TextLimit")));
	}

	void vectors_data()
	{
		QTest::addColumn<QJsonObject>("vector");
		for (const char *file : {"export.json", "validation.json", "limits.json", "apply.json"}) {
			QFile data(QStringLiteral(QUILLMAR_SOURCE_DIR "/tests/data/blocks/") + QLatin1String(file));
			const QJsonArray cases = data.open(QIODevice::ReadOnly) ? blocktest::expand(QJsonDocument::fromJson(data.readAll())["cases"]).toArray() : QJsonArray();
			QVERIFY2(cases.size() > 10, file);
			for (const QJsonValue c : cases)
				QTest::addRow("%s: %s", file, qPrintable(c[QLatin1String("name")].toString())) << c.toObject();
		}
	}

	// Export vectors: what a client receives for a note; sent back exactly (through JSON text), it
	// stores the very same HTML, while a note that cannot be edited remotely refuses every save.
	// The others: a document saved onto a stored note is refused, changing nothing, or stored.
	void vectors()
	{
		QFETCH(QJsonObject, vector);
		const QString html = vector.value(QLatin1String("html")).toString();
		if (vector.contains(QLatin1String("editable"))) {
			const QJsonObject blocks = htmlToBlocks(html);
			const bool editable = vector.value(QLatin1String("editable")).toBool();
			QVERIFY(!blocks.isEmpty());
			QCOMPARE(blocks.value(QLatin1String("editable")).toBool(), editable);
			QTextDocument doc;
			doc.setHtml(html);
			QCOMPARE(isRemoteEditable(doc), editable);
			QString why;
			if (vector.contains(QLatin1String("blocks")))
				QVERIFY2(blocktest::sameBlocks(blocksOf(blocks), blocksOf(vector), {}, &why), qPrintable(why));
			const QJsonObject exported = QJsonDocument::fromJson(QJsonDocument(blocks).toJson()).object();
			// "editable" means nothing on input.
			QJsonObject other = exported;
			other.insert(QLatin1String("editable"), !editable);
			if (!editable)
				other = htmlToBlocks(QStringLiteral("<p>plain</p>"));
			for (const QJsonObject &sent : {exported, other}) {
				QString out = kUntouched, error;
				bool limit = true;
				QCOMPARE(applyBlocks(html, sent, out, &limit, &error), editable);
				QVERIFY(!limit);
				QCOMPARE(out, editable ? html : kUntouched);
				QVERIFY(editable || error.startsWith(QLatin1String("BlocksNotEditable")));
			}
			return;
		}
		const QString error = vector.value(QLatin1String("error")).toString();
		QString out = kUntouched, why;
		bool limit = !error.isEmpty();
		const bool ok = applyBlocks(html, vector[QLatin1String("document")].toObject(), out, &limit, &why);
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
		QVERIFY2(blocktest::sameBlocks(blocksOf(stored), vector[QLatin1String("result")].toArray(), {true, true}, &why),
			 qPrintable(why));
	}

	// Stored pieces with their word spacing, which the model does not carry ("\n" starts a
	// block), the runs sent back ("\n" starts a block, "*" makes a run bold) and the spacing
	// every character ends with: only what differs is replaced, and new text takes the format
	// found where it goes in.
	void replacesOnlyWhatDiffers_data()
	{
		QTest::addColumn<DiffRow>("row");
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
		QTest::newRow("one word of a long note") << DiffRow{pieces, spacing, sent, expected};
		// The stored line separator faces the new paragraph break: the break replaces just the
		// separator and both halves keep what they had.
		QTest::newRow("line separator to paragraph break")
			<< DiffRow{{QStringLiteral("first"), QStringLiteral("\u2028second")}, {12, 14},
				   {QStringLiteral("first"), QStringLiteral("\n"), QStringLiteral("second")},
				   QList<qreal>(5, 12) + QList<qreal>(6, 14)};
		// A pair is replaced whole, never keeping half the old pair's format.
		const QStringList pair{QStringLiteral("x"), QStringLiteral("\U0001F600"), QStringLiteral("y")};
		QTest::newRow("pair, low half differs") << DiffRow{pair, {15, 30, 20}, {QStringLiteral("x\U0001F601y")}, {15, 15, 15, 20}};
		QTest::newRow("pair, high half differs") << DiffRow{pair, {15, 30, 20}, {QStringLiteral("x\U0001FA00y")}, {15, 15, 15, 20}};
	}

	void replacesOnlyWhatDiffers()
	{
		QFETCH(DiffRow, row);
		auto [pieces, spacing, sent, expected] = row;
		QTextDocument doc;
		QTextCursor cursor(&doc);
		QTextCharFormat spaced;
		for (int i = 0; i < pieces.size(); ++i) {
			spaced.setFontWordSpacing(spacing.at(i));
			pieces.at(i) == QLatin1String("\n") ? cursor.insertBlock() : cursor.insertText(pieces.at(i), spaced);
		}
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
		// Word spacing, which the model does not carry (and which Qt's HTML keeps), of every character.
		doc.setHtml(out);
		spacing.clear();
		for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
			for (auto it = b.begin(); !it.atEnd(); ++it)
				spacing << QList<qreal>(it.fragment().length(), it.fragment().charFormat().fontWordSpacing());
		QCOMPARE(spacing, expected);
		QVERIFY2(blocktest::sameBlocks(blocksOf(htmlToBlocks(out)), blocks, {true, true}, &why), qPrintable(why));
	}

	void validDocumentsAreStoredAsSent()
	{
		const quint32 seed = qEnvironmentVariable("QUILLMAR_SEED", QStringLiteral("20240607")).toUInt();
		const int rounds = qEnvironmentVariable("QUILLMAR_ROUNDS", QStringLiteral("400")).toInt();
		Random r{QRandomGenerator(seed)};
		for (int round = 0; round < rounds; ++round) {
			// The stored note is itself a random document, so that the edit replaces real formatting.
			QString stored;
			QVERIFY(applyBlocks(QString(), {{QStringLiteral("blocks"), randomBlocks(r)}}, stored));
			const QJsonArray sent = randomBlocks(r);
			auto context = [&](const QString &why, const QJsonArray &blocks) {
				return QStringLiteral("%1\nseed %2, round %3, sent %4")
					.arg(why).arg(seed).arg(round).arg(QString::fromUtf8(QJsonDocument(blocks).toJson()));
			};
			QString out, why;
			bool limit = true;
			QVERIFY2(applyBlocks(stored, {{QStringLiteral("blocks"), sent}}, out, &limit, &why),
				 qPrintable(context(why, sent)));
			QVERIFY(!limit);
			const QJsonObject result = htmlToBlocks(out);
			QVERIFY2(result[QLatin1String("editable")].toBool(), qPrintable(context(QString(), sent)));
			const QJsonArray blocks = result[QLatin1String("blocks")].toArray();
			QVERIFY2(blocktest::sameBlocks(blocks, sent, {true, true}, &why),
				 qPrintable(context(why, sent)));
		}
	}
};

QTEST_MAIN(TestBlocks)
#include "tst_blocks.moc"
