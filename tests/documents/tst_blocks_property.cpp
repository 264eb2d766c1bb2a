// Random block documents against random stored notes: a valid save stores what was sent, an
// invalid one changes nothing. QUILLMAR_SEED and QUILLMAR_ROUNDS explore beyond the fixed seed.

#include "blocks_vectors.h"
#include "documents/blocks.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>

#include <functional>

using namespace quillmar;

namespace {

class Random {
public:
	explicit Random(quint32 seed) : m_gen(seed) {}
	int below(int n) { return int(m_gen.bounded(quint32(n))); }
	bool chance(int percent) { return below(100) < percent; }
	template<typename T> T pick(std::initializer_list<T> values)
	{
		return values.begin()[below(int(values.size()))];
	}

private:
	QRandomGenerator m_gen;
};

QString randomText(Random &r, int most)
{
	static const QStringList pieces{QStringLiteral("a"),	    QStringLiteral("b"),
					QStringLiteral("word "),    QStringLiteral(" "),
					QStringLiteral("\u25c6[cue]"), QString(QChar::LineSeparator),
					QString(QChar::Nbsp),	    QStringLiteral("\U0001F600"),
					QStringLiteral("\U0001F601"), QStringLiteral("\U0001FA00")};
	QString text;
	for (int n = r.below(most + 1); n > 0; --n)
		text += pieces.at(r.below(int(pieces.size())));
	return text;
}

QJsonObject randomRun(Random &r)
{
	return QJsonObject{{QStringLiteral("text"), randomText(r, 4)},
			   {QStringLiteral("weight"), r.pick({400, 400, 700, 300, 1, 1000})},
			   {QStringLiteral("italic"), r.chance(30)},
			   {QStringLiteral("underline"), r.chance(20)},
			   {QStringLiteral("strike"), r.chance(10)},
			   {QStringLiteral("size"), r.pick({0.0, 0.0, 9.0, 12.0, 14.5})},
			   {QStringLiteral("family"), r.pick({"", "", "Serif", "DejaVu Sans"})},
			   {QStringLiteral("color"), r.pick({"", "", "#ff0000", "#00aa00"})},
			   {QStringLiteral("background"), r.pick({"", "", "", "#ffff00"})}};
}

QJsonObject randomBlock(Random &r, int list, int listIndent, int group, int start)
{
	QJsonArray runs;
	for (int n = r.below(4); n > 0; --n)
		runs.append(randomRun(r));
	// Qt's HTML cannot say "left" and nests deeper lists inside the item before, so a list
	// item's alignment does not survive under an item aligned otherwise: list items stay left.
	return QJsonObject{{QStringLiteral("align"), list ? 1 : r.pick({1, 1, 2, 4, 8})},
			   {QStringLiteral("indent"), r.pick({0, 0, 0, 1, 3})},
			   {QStringLiteral("list"), list},
			   {QStringLiteral("listIndent"), listIndent},
			   {QStringLiteral("listGroup"), group},
			   {QStringLiteral("listStart"), start},
			   {QStringLiteral("runs"), runs}};
}

// Paragraphs and lists; blocks of one list share group, style, indent and start.
QJsonArray randomBlocks(Random &r)
{
	QJsonArray blocks;
	for (int n = 1 + r.below(7); n > 0; --n) {
		if (r.chance(40)) {
			const int style = -1 - r.below(8), indent = 1 + r.below(3), group = 1 + r.below(50),
				  start = 1 + r.below(20);
			for (int k = 1 + r.below(3); k > 0; --k)
				blocks.append(randomBlock(r, style, indent, group, start));
		} else {
			blocks.append(randomBlock(r, 0, 1, 0, 1));
		}
	}
	return blocks;
}

QJsonObject with(QJsonObject o, const char *key, const QJsonValue &value)
{
	o.insert(QLatin1String(key), value);
	return o;
}

// Small edits of an exported document, the way a client changes a note.
QJsonArray mutate(Random &r, QJsonArray blocks)
{
	for (int n = 1 + r.below(3); n > 0; --n) {
		const int b = r.below(int(blocks.size()));
		QJsonObject block = blocks.at(b).toObject();
		QJsonArray runs = block.value(QLatin1String("runs")).toArray();
		const int run = runs.isEmpty() ? -1 : r.below(int(runs.size()));
		switch (r.below(8)) {
		case 0: // retype part of a run
			if (run >= 0) {
				QString text = runs.at(run)[QLatin1String("text")].toString();
				int cut = r.below(int(text.size()) + 1);
				if (cut > 0 && text.at(cut - 1).isHighSurrogate())
					--cut;
				text = text.left(cut) + randomText(r, 2);
				runs.replace(run, with(runs.at(run).toObject(), "text", text));
			}
			break;
		case 1:
			runs.insert(run < 0 ? 0 : run, randomRun(r));
			break;
		case 2:
			if (run >= 0)
				runs.removeAt(run);
			break;
		case 3:
			if (run >= 0)
				runs.replace(run, with(runs.at(run).toObject(), "weight", 700));
			break;
		case 4: // split the paragraph
			if (run >= 0) {
				QJsonArray tail;
				while (runs.size() > run)
					tail.append(runs.takeAt(run));
				blocks.insert(b + 1, with(block, "runs", tail));
			}
			break;
		case 5: // join with the next paragraph
			if (b + 1 < blocks.size()) {
				for (const QJsonValue v : blocks.at(b + 1)[QLatin1String("runs")].toArray())
					runs.append(v);
				blocks.removeAt(b + 1);
			}
			break;
		case 6:
			block = with(block, "list", 0);
			block = with(block, "listGroup", 0);
			block = with(block, "listIndent", 1);
			block = with(block, "listStart", 1);
			break;
		case 7:
			if (block[QLatin1String("list")].toInt() == 0)
				block = with(block, "align", r.pick({1, 2, 4, 8}));
			block = with(block, "indent", r.below(4));
			break;
		}
		blocks.replace(b, with(block, "runs", runs));
	}
	return blocks;
}

// A stored note: a random document, sometimes with word spacing that the model does not carry.
bool randomNote(Random &r, QString &html)
{
	html.clear();
	if (!applyBlocks(QString(), QJsonObject{{QStringLiteral("blocks"), randomBlocks(r)}}, html))
		return false;
	if (r.chance(50)) {
		QTextDocument doc;
		doc.setHtml(html);
		QTextCursor cursor(&doc);
		const int end = doc.characterCount() - 1;
		cursor.setPosition(r.below(end + 1));
		cursor.setPosition(r.below(end + 1), QTextCursor::KeepAnchor);
		QTextCharFormat spacing;
		spacing.setFontWordSpacing(1 + r.below(5));
		cursor.mergeCharFormat(spacing);
		html = doc.toHtml();
	}
	return true;
}

QString listKey(const QJsonObject &b)
{
	return QStringLiteral("%1/%2/%3").arg(b[QLatin1String("listGroup")].toDouble()).arg(
		b[QLatin1String("list")].toInt()).arg(b[QLatin1String("listIndent")].toInt());
}

// Consecutive list blocks with the same group, style and indent share one list, numbered from
// the first one's start; any other neighbour starts a list of its own.
bool listsAgree(const QJsonArray &stored, const QJsonArray &sent, QString *why)
{
	for (qsizetype i = 0; i < sent.size(); ++i) {
		const QJsonObject s = sent.at(i).toObject();
		const QJsonObject t = stored.at(i).toObject();
		const bool isList = s[QLatin1String("list")].toInt() != 0;
		const bool continues = isList && i > 0 &&
				       sent.at(i - 1)[QLatin1String("list")].toInt() != 0 &&
				       listKey(sent.at(i - 1).toObject()) == listKey(s);
		const bool sharesList = i > 0 && t[QLatin1String("listGroup")].toDouble() != 0 &&
					stored.at(i - 1)[QLatin1String("listGroup")] == t[QLatin1String("listGroup")];
		// Qt's HTML keeps a start number for numbered lists only.
		const bool numbered = s[QLatin1String("list")].toInt() <= -4;
		const bool startOk = !numbered || continues ||
				     t[QLatin1String("listStart")] == s[QLatin1String("listStart")];
		if ((t[QLatin1String("listGroup")].toDouble() != 0) != isList || continues != sharesList ||
		    !startOk) {
			*why = QStringLiteral("lists differ at block %1").arg(i);
			return false;
		}
	}
	return true;
}

// Writes the case to files for a closer look and names them.
QString keep(const QString &context, const QString &stored, const QJsonArray &sent)
{
	const QString dir = qEnvironmentVariable("QUILLMAR_TEST_OUTPUT", QDir::tempPath());
	QDir().mkpath(dir);
	QFile html(dir + QStringLiteral("/blocks_property_stored.html"));
	QFile json(dir + QStringLiteral("/blocks_property_sent.json"));
	if (html.open(QIODevice::WriteOnly))
		html.write(stored.toUtf8());
	if (json.open(QIODevice::WriteOnly))
		json.write(QJsonDocument(sent).toJson());
	return context + QStringLiteral(" (stored note and sent blocks in %1)").arg(dir);
}

using Fault = std::function<void(QJsonObject &block, QJsonObject &run)>;

QList<Fault> faults()
{
	auto setBlock = [](const char *key, QJsonValue v) {
		return Fault([=](QJsonObject &b, QJsonObject &) { b.insert(QLatin1String(key), v); });
	};
	auto setRun = [](const char *key, QJsonValue v) {
		return Fault([=](QJsonObject &, QJsonObject &r) { r.insert(QLatin1String(key), v); });
	};
	auto dropBlock = [](const char *key) {
		return Fault([=](QJsonObject &b, QJsonObject &) { b.remove(QLatin1String(key)); });
	};
	auto appendText = [](QString s) {
		return Fault([=](QJsonObject &, QJsonObject &r) {
			r.insert(QStringLiteral("text"), r[QLatin1String("text")].toString() + s);
		});
	};
	return {setBlock("align", 3),	   setBlock("list", 1),		setBlock("indent", 13),
		setBlock("listIndent", 0),  setBlock("listStart", 10001), dropBlock("align"),
		dropBlock("runs"),	   setRun("weight", 0),		setRun("size", -1),
		setRun("color", QStringLiteral("aquamarine")),	setRun("text", 7),
		appendText(QStringLiteral("\n")),		appendText(QString(QChar(0xD800))),
		appendText(QString(QChar::ObjectReplacementCharacter)),
		appendText(QString(QChar::ParagraphSeparator))};
}

} // namespace

class TestBlocksProperty : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void validDocumentsAreStoredAsSent()
	{
		const quint32 seed = qEnvironmentVariableIsSet("QUILLMAR_SEED")
					     ? quint32(qEnvironmentVariableIntValue("QUILLMAR_SEED"))
					     : 20240607u;
		const int rounds = qEnvironmentVariableIsSet("QUILLMAR_ROUNDS")
					   ? qEnvironmentVariableIntValue("QUILLMAR_ROUNDS")
					   : 250;
		Random r(seed);
		const QList<Fault> broken = faults();
		for (int round = 0; round < rounds; ++round) {
			const QString context = QStringLiteral("seed %1, round %2").arg(seed).arg(round);
			QString stored;
			QVERIFY2(randomNote(r, stored), qPrintable(context));
			const QJsonArray sent =
				r.chance(50) ? mutate(r, htmlToBlocks(stored)[QLatin1String("blocks")].toArray())
					     : randomBlocks(r);
			if (sent.isEmpty())
				continue;
			QString out, error;
			bool limit = true;
			const QString message = keep(context, stored, sent);
			const QJsonObject document{{QStringLiteral("blocks"), sent}};
			QVERIFY2(applyBlocks(stored, document, out, &limit, &error),
				 qPrintable(error + QStringLiteral("\n") + message));
			QVERIFY(!limit);
			const QJsonObject result = htmlToBlocks(out);
			QVERIFY2(result[QLatin1String("editable")].toBool(), qPrintable(message));
			const QJsonArray blocks = result[QLatin1String("blocks")].toArray();
			QString why;
			QVERIFY2(blocktest::sameBlocks(blocks, sent, {true, false}, &why) &&
					 listsAgree(blocks, sent, &why),
				 qPrintable(why + QStringLiteral("\n") + message));

			// The same document with one fault anywhere changes nothing.
			QJsonArray bad = sent;
			const int b = r.below(int(bad.size()));
			QJsonObject block = bad.at(b).toObject();
			QJsonArray runs = block[QLatin1String("runs")].toArray();
			if (runs.isEmpty())
				runs.append(randomRun(r));
			const int ri = r.below(int(runs.size()));
			QJsonObject run = runs.at(ri).toObject();
			broken.at(r.below(int(broken.size())))(block, run);
			runs.replace(ri, run);
			if (block.contains(QLatin1String("runs")))
				block.insert(QLatin1String("runs"), runs);
			bad.replace(b, block);
			out = QStringLiteral("untouched");
			QVERIFY2(!applyBlocks(stored, QJsonObject{{QStringLiteral("blocks"), bad}}, out, &limit),
				 qPrintable(keep(context, stored, bad)));
			QVERIFY(!limit);
			QCOMPARE(out, QStringLiteral("untouched"));
		}
	}
};

QTEST_MAIN(TestBlocksProperty)
#include "tst_blocks_property.moc"
