// Random block documents against random stored notes: a valid save stores what was sent, an
// invalid one changes nothing. QUILLMAR_SEED and QUILLMAR_ROUNDS explore beyond the fixed seed.

#include "blocks_vectors.h"
#include "documents/blocks.h"

#include <QRandomGenerator>
#include <QTest>

#include <iterator>

using namespace quillmar;

namespace {

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
	return {{QStringLiteral("text"), randomText(r, 4)},
		{QStringLiteral("weight"), r.pick({400, 400, 700, 300, 1, 1000})},
		{QStringLiteral("italic"), r.chance(30)},
		{QStringLiteral("underline"), r.chance(20)},
		{QStringLiteral("strike"), r.chance(10)},
		{QStringLiteral("size"), r.pick({0.0, 0.0, 9.0, 12.0, 14.5})},
		{QStringLiteral("family"), r.pick({"", "", "Serif", "DejaVu Sans"})},
		{QStringLiteral("color"), r.pick({"", "", "#ff0000", "#00aa00"})},
		{QStringLiteral("background"), r.pick({"", "", "", "#ffff00"})}};
}

QJsonObject with(QJsonObject o, const QJsonObject &changes)
{
	for (auto it = changes.begin(); it != changes.end(); ++it)
		o.insert(it.key(), it.value());
	return o;
}

// Paragraphs and lists; blocks of one list share group, style, indent and start.
QJsonArray randomBlocks(Random &r)
{
	QJsonArray blocks;
	for (int n = 1 + r.below(7); n > 0; --n) {
		const bool list = r.chance(40);
		const QJsonObject shared{{QStringLiteral("list"), list ? -1 - r.below(8) : 0},
					 {QStringLiteral("listIndent"), list ? 1 + r.below(3) : 1},
					 {QStringLiteral("listGroup"), list ? 1 + r.below(50) : 0},
					 {QStringLiteral("listStart"), list ? 1 + r.below(20) : 1}};
		for (int k = list ? 1 + r.below(3) : 1; k > 0; --k) {
			QJsonArray runs;
			for (int m = r.below(4); m > 0; --m)
				runs.append(randomRun(r));
			// Qt's HTML cannot say "left" and nests deeper lists inside the item before, so a
			// list item's alignment does not survive under an item aligned otherwise.
			blocks.append(with(shared, {{QStringLiteral("align"), list ? 1 : r.pick({1, 1, 2, 4, 8})},
						    {QStringLiteral("indent"), r.pick({0, 0, 0, 1, 3})},
						    {QStringLiteral("runs"), runs}}));
		}
	}
	return blocks;
}

// One fault: a key of a block or of a run set to a bad value or, when undefined, removed.
struct Fault {
	bool run;
	const char *key;
	QJsonValue value;
};

const Fault kFaults[] = {
	{false, "align", 3}, {false, "list", 1}, {false, "indent", 13}, {false, "listIndent", 0},
	{false, "listStart", 10001}, {false, "align", QJsonValue::Undefined}, {false, "runs", QJsonValue::Undefined},
	{true, "weight", 0}, {true, "size", -1}, {true, "color", QStringLiteral("aquamarine")}, {true, "text", 7},
	{true, "text", QStringLiteral("a\nb")}, {true, "text", QString(QChar(0xD800))},
	{true, "text", QString(QChar::ObjectReplacementCharacter)}, {true, "text", QString(QChar::ParagraphSeparator)}};

// The blocks with one fault in a random block or in a run added to it.
QJsonArray broken(Random &r, QJsonArray blocks)
{
	const Fault &fault = kFaults[r.below(int(std::size(kFaults)))];
	const int b = r.below(int(blocks.size()));
	QJsonObject block = blocks.at(b).toObject();
	QJsonObject run = randomRun(r);
	QJsonObject &target = fault.run ? run : block;
	if (fault.value.isUndefined())
		target.remove(QLatin1String(fault.key));
	else
		target.insert(QLatin1String(fault.key), fault.value);
	QJsonArray runs = block.value(QLatin1String("runs")).toArray(); // operator[] would add the key
	runs.insert(r.below(int(runs.size()) + 1), run);
	if (block.contains(QLatin1String("runs")))
		block.insert(QLatin1String("runs"), runs);
	blocks.replace(b, block);
	return blocks;
}

} // namespace

class TestBlocksProperty : public QObject {
	Q_OBJECT

private Q_SLOTS:
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
			QVERIFY2(blocktest::sameBlocks(blocks, sent, {true, false}, &why) && blocktest::listsAgree(blocks, sent, &why),
				 qPrintable(context(why, sent)));

			// The same document with one fault anywhere changes nothing.
			const QJsonArray bad = broken(r, sent);
			out = QStringLiteral("untouched");
			QVERIFY2(!applyBlocks(stored, {{QStringLiteral("blocks"), bad}}, out, &limit),
				 qPrintable(context(QStringLiteral("accepted"), bad)));
			QVERIFY(!limit);
			QCOMPARE(out, QStringLiteral("untouched"));
		}
	}
};

QTEST_MAIN(TestBlocksProperty)
#include "tst_blocks_property.moc"
