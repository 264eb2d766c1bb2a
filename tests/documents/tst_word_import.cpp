// The Word import from the three XML parts: run and paragraph properties, styles, lists, the
// body walk, the note limits and hostile XML. Every check reads the note back from its HTML, the
// form in which the dock stores it.

#include "documents/word_import.h"
#include "module/text.h"

#include <QFile>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>
#include <QXmlStreamReader>

#include <memory>

using namespace quillmar;

namespace {

const QByteArray kNamespaces =
	R"(xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main" )"
	R"(xmlns:mc="http://schemas.openxmlformats.org/markup-compatibility/2006")";

QByteArray documentXml(const QByteArray &body)
{
	return R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?><w:document )" + kNamespaces +
	       "><w:body>" + body + "</w:body></w:document>";
}

QByteArray stylesXml(const QByteArray &inner)
{
	return "<w:styles " + kNamespaces + ">" + inner + "</w:styles>";
}

QByteArray numberingXml(const QByteArray &inner)
{
	return "<w:numbering " + kNamespaces + ">" + inner + "</w:numbering>";
}

QByteArray paragraph(const QByteArray &text, const QByteArray &pPr = {}, const QByteArray &rPr = {})
{
	return "<w:p>" + (pPr.isEmpty() ? QByteArray() : "<w:pPr>" + pPr + "</w:pPr>") + "<w:r>" +
	       (rPr.isEmpty() ? QByteArray() : "<w:rPr>" + rPr + "</w:rPr>") + "<w:t>" + text + "</w:t></w:r></w:p>";
}

QByteArray paragraphStyle(const QByteArray &id, const QByteArray &children)
{
	return R"(<w:style w:type="paragraph" w:styleId=")" + id + R"(">)" + children + "</w:style>";
}

QByteArray characterStyle(const QByteArray &id, const QByteArray &children)
{
	return R"(<w:style w:type="character" w:styleId=")" + id + R"(">)" + children + "</w:style>";
}

QByteArray level(int ilvl, const QByteArray &numFmt, int start = 1)
{
	return R"(<w:lvl w:ilvl=")" + QByteArray::number(ilvl) + R"("><w:start w:val=")" + QByteArray::number(start) +
	       R"("/><w:numFmt w:val=")" + numFmt + R"("/></w:lvl>)";
}

QByteArray abstractNum(int id, const QByteArray &levels)
{
	return R"(<w:abstractNum w:abstractNumId=")" + QByteArray::number(id) + R"(">)" + levels + "</w:abstractNum>";
}

QByteArray num(int numId, int abstractId, const QByteArray &extra = {})
{
	return R"(<w:num w:numId=")" + QByteArray::number(numId) + R"("><w:abstractNumId w:val=")" +
	       QByteArray::number(abstractId) + R"("/>)" + extra + "</w:num>";
}

QByteArray listParagraph(const QByteArray &text, int numId, int ilvl = 0)
{
	return paragraph(text, R"(<w:numPr><w:ilvl w:val=")" + QByteArray::number(ilvl) + R"("/><w:numId w:val=")" +
				       QByteArray::number(numId) + R"("/></w:numPr>)");
}

// An import and the note it produced, read back from the HTML.
struct Note {
	Note(const QByteArray &body, const QByteArray &styles = {}, const QByteArray &numbering = {})
		: result(importWordXml(documentXml(body), styles, numbering))
	{
		document.setHtml(result.html);
	}

	QStringList paragraphs() const
	{
		QStringList out;
		for (QTextBlock b = document.begin(); b.isValid(); b = b.next())
			out << b.text();
		return out;
	}

	QTextBlock block(int n) const { return document.findBlockByNumber(n); }

	QTextCharFormat formatOf(const QString &word) const
	{
		const QTextCursor found = document.find(word);
		return found.isNull() ? QTextCharFormat() : found.charFormat();
	}

	WordImportResult result;
	QTextDocument document;
};

// The horizontal alignment without the absolute flag that reading HTML back adds.
constexpr Qt::Alignment kHorizontal = Qt::AlignLeft | Qt::AlignRight | Qt::AlignHCenter | Qt::AlignJustify;

QString colorName(const QBrush &brush)
{
	return brush.style() == Qt::NoBrush ? QStringLiteral("none") : brush.color().name();
}

// One property of a format, spelt so that data rows can state it.
QString describe(const QTextCharFormat &f, const QByteArray &property)
{
	if (property == "weight")
		return QString::number(f.fontWeight());
	if (property == "italic")
		return f.fontItalic() ? QStringLiteral("yes") : QStringLiteral("no");
	if (property == "underline")
		return QString::number(int(f.underlineStyle()));
	if (property == "strike")
		return f.fontStrikeOut() ? QStringLiteral("yes") : QStringLiteral("no");
	if (property == "size")
		return f.hasProperty(QTextFormat::FontPointSize) ? QString::number(f.fontPointSize()) : QStringLiteral("unset");
	if (property == "family")
		return f.fontFamilies().toStringList().join(QLatin1Char(','));
	if (property == "color")
		return colorName(f.foreground());
	if (property == "background")
		return colorName(f.background());
	if (property == "vertical")
		return QString::number(int(f.verticalAlignment()));
	return QStringLiteral("?");
}

} // namespace

class TestWordImport : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void runProperties_data()
	{
		QTest::addColumn<QByteArray>("styleRPr");
		QTest::addColumn<QByteArray>("runRPr");
		QTest::addColumn<QByteArray>("property");
		QTest::addColumn<QString>("expected");

		const QByteArray bold = "<w:b/>";
		QTest::newRow("b without val") << QByteArray() << bold << QByteArray("weight") << "700";
		QTest::newRow("b 1") << QByteArray() << QByteArray(R"(<w:b w:val="1"/>)") << QByteArray("weight") << "700";
		QTest::newRow("b on") << QByteArray() << QByteArray(R"(<w:b w:val="on"/>)") << QByteArray("weight") << "700";
		QTest::newRow("b 0 over bold") << bold << QByteArray(R"(<w:b w:val="0"/>)") << QByteArray("weight") << "400";
		QTest::newRow("b false over bold") << bold << QByteArray(R"(<w:b w:val="false"/>)") << QByteArray("weight") << "400";
		QTest::newRow("b off over bold") << bold << QByteArray(R"(<w:b w:val="off"/>)") << QByteArray("weight") << "400";
		QTest::newRow("b is case-sensitive") << QByteArray() << QByteArray(R"(<w:b w:val="FALSE"/>)") << QByteArray("weight") << "700";
		QTest::newRow("bold style kept") << bold << QByteArray() << QByteArray("weight") << "700";
		QTest::newRow("i") << QByteArray() << QByteArray("<w:i/>") << QByteArray("italic") << "yes";
		QTest::newRow("i 0 over italic") << QByteArray("<w:i/>") << QByteArray(R"(<w:i w:val="0"/>)") << QByteArray("italic") << "no";
		const QString single = QString::number(int(QTextCharFormat::SingleUnderline));
		const QString noLine = QString::number(int(QTextCharFormat::NoUnderline));
		QTest::newRow("u double") << QByteArray() << QByteArray(R"(<w:u w:val="double"/>)") << QByteArray("underline") << single;
		QTest::newRow("u wave") << QByteArray() << QByteArray(R"(<w:u w:val="wave"/>)") << QByteArray("underline") << single;
		QTest::newRow("u none over underline") << QByteArray(R"(<w:u w:val="single"/>)") << QByteArray(R"(<w:u w:val="none"/>)")
						<< QByteArray("underline") << noLine;
		QTest::newRow("strike") << QByteArray() << QByteArray("<w:strike/>") << QByteArray("strike") << "yes";
		QTest::newRow("dstrike") << QByteArray() << QByteArray("<w:dstrike/>") << QByteArray("strike") << "yes";
		QTest::newRow("strike 0 over strike") << QByteArray("<w:strike/>") << QByteArray(R"(<w:strike w:val="0"/>)") << QByteArray("strike") << "no";
		QTest::newRow("sz 21") << QByteArray() << QByteArray(R"(<w:sz w:val="21"/>)") << QByteArray("size") << "10.5";
		QTest::newRow("sz 2 is the smallest") << QByteArray() << QByteArray(R"(<w:sz w:val="2"/>)") << QByteArray("size") << "1";
		QTest::newRow("sz 1000 is the largest") << QByteArray() << QByteArray(R"(<w:sz w:val="1000"/>)") << QByteArray("size") << "500";
		const QByteArray style14 = R"(<w:sz w:val="28"/>)";
		QTest::newRow("sz 1 sets nothing") << style14 << QByteArray(R"(<w:sz w:val="1"/>)") << QByteArray("size") << "14";
		QTest::newRow("sz 1001 sets nothing") << style14 << QByteArray(R"(<w:sz w:val="1001"/>)") << QByteArray("size") << "14";
		QTest::newRow("sz text sets nothing") << style14 << QByteArray(R"(<w:sz w:val="big"/>)") << QByteArray("size") << "14";
		QTest::newRow("rFonts ascii before eastAsia")
			<< QByteArray() << QByteArray(R"(<w:rFonts w:ascii="Liberation Serif" w:eastAsia="DejaVu Sans" w:hAnsi="Arial"/>)")
			<< QByteArray("family") << "Liberation Serif";
		QTest::newRow("rFonts hAnsi") << QByteArray() << QByteArray(R"(<w:rFonts w:hAnsi="Arial" w:eastAsia="SimSun"/>)")
					      << QByteArray("family") << "Arial";
		QTest::newRow("rFonts eastAsia alone") << QByteArray() << QByteArray(R"(<w:rFonts w:eastAsia="SimSun"/>)")
						       << QByteArray("family") << "SimSun";
		QTest::newRow("color FF0000") << QByteArray() << QByteArray(R"(<w:color w:val="FF0000"/>)") << QByteArray("color") << "#ff0000";
		QTest::newRow("color auto sets nothing") << QByteArray(R"(<w:color w:val="112233"/>)") << QByteArray(R"(<w:color w:val="auto"/>)")
							 << QByteArray("color") << "#112233";
		QTest::newRow("color garbage sets nothing") << QByteArray() << QByteArray(R"(<w:color w:val="zz"/>)") << QByteArray("color") << "none";
		QTest::newRow("highlight darkYellow") << QByteArray() << QByteArray(R"(<w:highlight w:val="darkYellow"/>)")
						      << QByteArray("background") << "#808000";
		QTest::newRow("highlight yellow") << QByteArray() << QByteArray(R"(<w:highlight w:val="yellow"/>)") << QByteArray("background") << "#ffff00";
		QTest::newRow("highlight green is Word's") << QByteArray() << QByteArray(R"(<w:highlight w:val="green"/>)")
							   << QByteArray("background") << "#00ff00";
		QTest::newRow("highlight blue") << QByteArray() << QByteArray(R"(<w:highlight w:val="blue"/>)") << QByteArray("background") << "#0000ff";
		QTest::newRow("highlight cyan") << QByteArray() << QByteArray(R"(<w:highlight w:val="cyan"/>)") << QByteArray("background") << "#00ffff";
		QTest::newRow("highlight magenta") << QByteArray() << QByteArray(R"(<w:highlight w:val="magenta"/>)") << QByteArray("background") << "#ff00ff";
		QTest::newRow("highlight red") << QByteArray() << QByteArray(R"(<w:highlight w:val="red"/>)") << QByteArray("background") << "#ff0000";
		QTest::newRow("highlight black") << QByteArray() << QByteArray(R"(<w:highlight w:val="black"/>)") << QByteArray("background") << "#000000";
		QTest::newRow("highlight white") << QByteArray() << QByteArray(R"(<w:highlight w:val="white"/>)") << QByteArray("background") << "#ffffff";
		QTest::newRow("highlight lightGray") << QByteArray() << QByteArray(R"(<w:highlight w:val="lightGray"/>)") << QByteArray("background") << "#c0c0c0";
		QTest::newRow("highlight other colour name") << QByteArray() << QByteArray(R"(<w:highlight w:val="orange"/>)")
							     << QByteArray("background") << "#ffa500";
		QTest::newRow("highlight none") << QByteArray() << QByteArray(R"(<w:highlight w:val="none"/>)") << QByteArray("background") << "none";
		QTest::newRow("shd fill") << QByteArray() << QByteArray(R"(<w:shd w:val="clear" w:fill="99CCFF"/>)") << QByteArray("background") << "#99ccff";
		QTest::newRow("shd auto") << QByteArray() << QByteArray(R"(<w:shd w:val="clear" w:fill="auto"/>)") << QByteArray("background") << "none";
		QTest::newRow("shd after highlight wins")
			<< QByteArray() << QByteArray(R"(<w:highlight w:val="yellow"/><w:shd w:fill="00FF00"/>)") << QByteArray("background") << "#00ff00";
		QTest::newRow("highlight after shd wins")
			<< QByteArray() << QByteArray(R"(<w:shd w:fill="00FF00"/><w:highlight w:val="darkRed"/>)") << QByteArray("background") << "#800000";
		QTest::newRow("superscript") << QByteArray() << QByteArray(R"(<w:vertAlign w:val="superscript"/>)") << QByteArray("vertical")
					     << QString::number(int(QTextCharFormat::AlignSuperScript));
		QTest::newRow("subscript") << QByteArray() << QByteArray(R"(<w:vertAlign w:val="subscript"/>)") << QByteArray("vertical")
					   << QString::number(int(QTextCharFormat::AlignSubScript));
		QTest::newRow("baseline over superscript")
			<< QByteArray(R"(<w:vertAlign w:val="superscript"/>)") << QByteArray(R"(<w:vertAlign w:val="baseline"/>)")
			<< QByteArray("vertical") << QString::number(int(QTextCharFormat::AlignNormal));
		QTest::newRow("unknown properties skipped whole")
			<< QByteArray() << QByteArray(R"(<w:rPrChange><w:rPr><w:b/></w:rPr></w:rPrChange><w:i/>)") << QByteArray("weight") << "400";
	}

	// Each run property alone, and over a paragraph style that sets it first.
	void runProperties()
	{
		QFETCH(QByteArray, styleRPr);
		QFETCH(QByteArray, runRPr);
		QFETCH(QByteArray, property);
		QFETCH(QString, expected);
		const Note note(paragraph("word", R"(<w:pStyle w:val="S"/>)", runRPr),
				stylesXml(paragraphStyle("S", "<w:rPr>" + styleRPr + "</w:rPr>")));
		QVERIFY2(note.result.error.isEmpty(), qPrintable(note.result.error));
		QCOMPARE(describe(note.formatOf(QStringLiteral("word")), property), expected);
	}

	void alignment_data()
	{
		QTest::addColumn<QByteArray>("jc");
		QTest::addColumn<int>("expected");
		QTest::newRow("center") << QByteArray("center") << int(Qt::AlignHCenter);
		QTest::newRow("right") << QByteArray("right") << int(Qt::AlignRight);
		QTest::newRow("end") << QByteArray("end") << int(Qt::AlignRight);
		QTest::newRow("both") << QByteArray("both") << int(Qt::AlignJustify);
		QTest::newRow("distribute") << QByteArray("distribute") << int(Qt::AlignLeft);
		QTest::newRow("start") << QByteArray("start") << int(Qt::AlignLeft);
	}

	void alignment()
	{
		QFETCH(QByteArray, jc);
		QFETCH(int, expected);
		// The paragraph's own value wins over its centred style.
		const Note note(paragraph("x", R"(<w:pStyle w:val="C"/><w:jc w:val=")" + jc + R"("/>)"),
				stylesXml(paragraphStyle("C", R"(<w:pPr><w:jc w:val="center"/></w:pPr>)")));
		QCOMPARE(int(note.block(0).blockFormat().alignment() & kHorizontal), expected);
	}

	void styleInheritance()
	{
		const QByteArray styles = stylesXml(
			R"(<w:docDefaults><w:rPrDefault><w:rPr><w:rFonts w:ascii="Liberation Serif"/><w:sz w:val="24"/></w:rPr></w:rPrDefault></w:docDefaults>)" +
			paragraphStyle("Normal", R"(<w:rPr><w:color w:val="333333"/></w:rPr>)") +
			paragraphStyle("Base", R"(<w:basedOn w:val="Normal"/><w:pPr><w:jc w:val="center"/></w:pPr><w:rPr><w:sz w:val="28"/></w:rPr>)") +
			paragraphStyle("Cue", R"(<w:basedOn w:val="Base"/><w:rPr><w:b/></w:rPr>)") +
			characterStyle("Stage", R"(<w:basedOn w:val="Emph"/><w:rPr><w:color w:val="008000"/></w:rPr>)") +
			characterStyle("Emph", R"(<w:rPr><w:i/></w:rPr>)") +
			paragraphStyle("Self", R"(<w:basedOn w:val="Self"/><w:rPr><w:strike/></w:rPr>)") +
			paragraphStyle("LoopA", R"(<w:basedOn w:val="LoopB"/><w:rPr><w:i/></w:rPr>)") +
			paragraphStyle("LoopB", R"(<w:basedOn w:val="LoopA"/><w:rPr><w:b/></w:rPr>)"));
		const Note note(paragraph("cue", R"(<w:pStyle w:val="Cue"/>)") + paragraph("plain") +
					"<w:p><w:r><w:t>say </w:t></w:r><w:r><w:rPr><w:rStyle w:val=\"Stage\"/><w:sz w:val=\"20\"/></w:rPr><w:t>quietly</w:t></w:r></w:p>" +
					paragraph("self", R"(<w:pStyle w:val="Self"/>)") + paragraph("loop", R"(<w:pStyle w:val="LoopA"/>)") +
					paragraph("unknown", R"(<w:pStyle w:val="Nowhere"/>)"),
				styles);
		QVERIFY2(note.result.error.isEmpty(), qPrintable(note.result.error));
		QCOMPARE(note.paragraphs(), QStringList({"cue", "plain", "say quietly", "self", "loop", "unknown"}));

		// Three generations: defaults, Normal, Base, Cue.
		const QTextCharFormat cue = note.formatOf(QStringLiteral("cue"));
		QCOMPARE(cue.fontWeight(), 700);
		QCOMPARE(cue.fontPointSize(), 14.0);
		QCOMPARE(cue.foreground().color().name(), QStringLiteral("#333333"));
		QCOMPARE(cue.fontFamilies().toStringList(), QStringList{"Liberation Serif"});
		QCOMPARE(note.block(0).blockFormat().alignment() & kHorizontal, Qt::AlignHCenter);

		// A paragraph without properties is a Normal paragraph.
		const QTextCharFormat plain = note.formatOf(QStringLiteral("plain"));
		QCOMPARE(plain.fontPointSize(), 12.0);
		QCOMPARE(plain.foreground().color().name(), QStringLiteral("#333333"));
		QCOMPARE(plain.fontWeight(), 400);

		// A character style with its own ancestor, under the run's direct size.
		const QTextCharFormat quietly = note.formatOf(QStringLiteral("quietly"));
		QVERIFY(quietly.fontItalic());
		QCOMPARE(quietly.foreground().color().name(), QStringLiteral("#008000"));
		QCOMPARE(quietly.fontPointSize(), 10.0);
		QVERIFY(!note.formatOf(QStringLiteral("say")).fontItalic());

		// Chains that loop end at the depth bound and still keep what they set.
		QVERIFY(note.formatOf(QStringLiteral("self")).fontStrikeOut());
		const QTextCharFormat loop = note.formatOf(QStringLiteral("loop"));
		QVERIFY(loop.fontItalic());
		QCOMPARE(loop.fontWeight(), 700);
		QCOMPARE(note.formatOf(QStringLiteral("unknown")).fontPointSize(), 12.0);
	}

	// Only the nearest 17 styles of a chain count.
	void styleDepth()
	{
		QByteArray inner;
		for (int i = 0; i < 30; ++i) {
			QByteArray rPr;
			if (i == 16)
				rPr = "<w:i/>";
			else if (i == 17)
				rPr = "<w:b/>";
			else if (i == 29)
				rPr = "<w:strike/>";
			inner += paragraphStyle("S" + QByteArray::number(i), R"(<w:basedOn w:val="S)" + QByteArray::number(i + 1) +
										     R"("/><w:rPr>)" + rPr + "</w:rPr>");
		}
		const WordStyles styles = parseStyles(stylesXml(inner));
		QCOMPARE(styles.styles.size(), 30);
		const WordResolvedStyle top = resolveStyle(styles, QStringLiteral("S0"));
		QVERIFY(top.charFormat.fontItalic());
		QVERIFY(!top.charFormat.hasProperty(QTextFormat::FontWeight));
		QVERIFY(!top.charFormat.hasProperty(QTextFormat::FontStrikeOut));
		// From further down the chain the bold style is near enough.
		QCOMPARE(resolveStyle(styles, QStringLiteral("S1")).charFormat.fontWeight(), 700);
		QVERIFY(!resolveStyle(styles, QStringLiteral("S0"), kWordStyleDepth).charFormat.fontItalic());

		const Note note(paragraph("deep", R"(<w:pStyle w:val="S0"/>)"), stylesXml(inner));
		QVERIFY(note.formatOf(QStringLiteral("deep")).fontItalic());
		QCOMPARE(note.formatOf(QStringLiteral("deep")).fontWeight(), 400);
	}

	// The style marked as default serves paragraphs that name none, whatever its id.
	void defaultParagraphStyle()
	{
		const QByteArray styles = stylesXml(
			R"(<w:style w:type="paragraph" w:default="1" w:styleId="Standard"><w:pPr><w:jc w:val="right"/></w:pPr><w:rPr><w:sz w:val="30"/></w:rPr></w:style>)" +
			paragraphStyle("Normal", R"(<w:rPr><w:sz w:val="40"/></w:rPr>)"));
		const Note note(paragraph("bare") + paragraph("empty pPr", "<w:ind w:left=\"10\"/>") +
					paragraph("named", R"(<w:pStyle w:val="Normal"/>)"),
				styles);
		QCOMPARE(note.formatOf(QStringLiteral("bare")).fontPointSize(), 15.0);
		QCOMPARE(note.block(0).blockFormat().alignment() & kHorizontal, Qt::AlignRight);
		QCOMPARE(note.formatOf(QStringLiteral("empty pPr")).fontPointSize(), 15.0);
		QCOMPARE(note.formatOf(QStringLiteral("named")).fontPointSize(), 20.0);
		QCOMPARE(note.block(2).blockFormat().alignment() & kHorizontal, Qt::AlignLeft);
	}

	// The paragraph mark's run properties format an empty paragraph, never the runs.
	void paragraphMark()
	{
		const QByteArray mark = R"(<w:rPr><w:b/><w:sz w:val="40"/></w:rPr>)";
		const Note note("<w:p><w:pPr>" + mark + "</w:pPr><w:r><w:t>plain run</w:t></w:r></w:p>" + "<w:p><w:pPr>" + mark +
				"</w:pPr></w:p>" + paragraph("after"));
		QCOMPARE(note.paragraphs(), QStringList({"plain run", "", "after"}));
		const QTextCharFormat run = note.formatOf(QStringLiteral("plain run"));
		QCOMPARE(run.fontWeight(), 400);
		QVERIFY(run.fontPointSize() != 20.0);
		QCOMPARE(note.block(1).charFormat().fontWeight(), 700);
		QCOMPARE(note.block(1).charFormat().fontPointSize(), 20.0);
		QCOMPARE(note.formatOf(QStringLiteral("after")).fontWeight(), 400);
	}

	void lists()
	{
		const QByteArray numbering = numberingXml(
			abstractNum(1, level(0, "decimal") + level(1, "lowerLetter") + level(2, "upperRoman")) +
			abstractNum(2, level(0, "bullet") + level(1, "bullet")) + abstractNum(3, level(0, "decimal", 4)) +
			abstractNum(4, level(0, "none")) + abstractNum(5, level(0, "upperLetter")) + num(3, 1) + num(5, 2) +
			num(6, 3) + num(7, 4) + num(8, 5, R"(<w:lvlOverride w:ilvl="0"><w:startOverride w:val="7"/></w:lvlOverride>)") +
			num(9, 42));
		const QByteArray styles = stylesXml(
			paragraphStyle("Bullets", R"(<w:pPr><w:numPr><w:numId w:val="5"/></w:numPr></w:pPr>)") +
			paragraphStyle("Heading1", R"(<w:pPr><w:numPr><w:ilvl w:val="0"/><w:numId w:val="7"/></w:numPr></w:pPr><w:rPr><w:b/></w:rPr>)"));
		const Note note(listParagraph("one", 3) + listParagraph("one a", 3, 1) + listParagraph("one a i", 3, 2) +
					paragraph("between") + listParagraph("two", 3) +                                   // 4
					paragraph("dot", R"(<w:pStyle w:val="Bullets"/>)") +                               // 5
					paragraph("not a list", R"(<w:pStyle w:val="Bullets"/><w:numPr><w:numId w:val="0"/></w:numPr>)") +
					listParagraph("zero", 0) + listParagraph("four", 6) + listParagraph("five", 6) + // 7..9
					paragraph("Heading", R"(<w:pStyle w:val="Heading1"/>)") +                          // 10
					listParagraph("G", 8) + listParagraph("unknown", 9) + listParagraph("dot 2", 5, 1) + // 11..13
					listParagraph("huge level", 3, 99999999),
				styles, numbering);
		QVERIFY2(note.result.error.isEmpty(), qPrintable(note.result.error));
		QCOMPARE(note.paragraphs().size(), 15);

		QTextList *decimal = note.block(0).textList();
		QVERIFY(decimal);
		QCOMPARE(decimal->format().style(), QTextListFormat::ListDecimal);
		QCOMPARE(decimal->format().indent(), 1);
		// Numbering continues over the plain paragraph: one list, "two" is its second item.
		QVERIFY(!note.block(3).textList());
		QCOMPARE(note.block(4).textList(), decimal);
		QCOMPARE(decimal->itemNumber(note.block(4)), 1);
		QCOMPARE(decimal->count(), 2);

		QCOMPARE(note.block(1).textList()->format().style(), QTextListFormat::ListLowerAlpha);
		QCOMPARE(note.block(1).textList()->format().indent(), 2);
		QCOMPARE(note.block(2).textList()->format().style(), QTextListFormat::ListUpperRoman);
		QCOMPARE(note.block(2).textList()->format().indent(), 3);

		QVERIFY(note.block(5).textList());
		QCOMPARE(note.block(5).textList()->format().style(), QTextListFormat::ListDisc);
		QVERIFY(!note.block(6).textList());
		QVERIFY(!note.block(7).textList());

#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
		QCOMPARE(note.block(8).textList()->format().start(), 4);
		QCOMPARE(note.block(11).textList()->format().start(), 7);
#endif
		QCOMPARE(note.block(9).textList(), note.block(8).textList());

		// A level that shows no number is no list, but the style's other formats stay.
		QVERIFY(!note.block(10).textList());
		QCOMPARE(note.formatOf(QStringLiteral("Heading")).fontWeight(), 700);

		QCOMPARE(note.block(11).textList()->format().style(), QTextListFormat::ListUpperAlpha);
		QCOMPARE(note.block(12).textList()->format().style(), QTextListFormat::ListDecimal);
		QCOMPARE(note.block(13).textList()->format().style(), QTextListFormat::ListDisc);
		QCOMPARE(note.block(13).textList()->format().indent(), 2);
		QVERIFY(note.block(14).textList());
		QVERIFY(note.block(14).textList()->format().indent() <= 9);
	}

	void textAndDroppedContent_data()
	{
		QTest::addColumn<QByteArray>("body");
		QTest::addColumn<QStringList>("paragraphs");
		QTest::addColumn<bool>("simplified");

		QTest::newRow("empty only paragraph") << QByteArray("<w:p/>") << QStringList{""} << false;
		QTest::newRow("no paragraph") << QByteArray("") << QStringList{""} << false;
		QTest::newRow("tab and breaks")
			<< QByteArray("<w:p><w:r><w:t>a</w:t><w:tab/><w:t>b</w:t><w:br/><w:t>c</w:t><w:cr/><w:t>d</w:t></w:r></w:p>")
			<< QStringList{QStringLiteral("a\tb\u2028c\u2028d")} << false;
		QTest::newRow("tracked changes")
			<< QByteArray(R"(<w:p><w:r><w:t>kept </w:t></w:r><w:ins w:id="1"><w:r><w:t>added </w:t></w:r></w:ins>)"
				      R"(<w:del w:id="2"><w:r><w:delText>gone </w:delText><w:t>gone too </w:t></w:r></w:del>)"
				      R"(<w:moveFrom w:id="3"><w:r><w:t>moved away </w:t></w:r></w:moveFrom>)"
				      R"(<w:moveTo w:id="4"><w:r><w:t>moved here</w:t></w:r></w:moveTo></w:p>)")
			<< QStringList{"kept added moved here"} << false;
		QTest::newRow("deleted paragraph") << QByteArray(R"(<w:del w:id="1"><w:p><w:r><w:t>x</w:t></w:r></w:p></w:del>)" + paragraph("y"))
						   << QStringList{"y"} << false;
		QTest::newRow("hyperlink, field and content control")
			<< QByteArray(R"(<w:p><w:hyperlink><w:r><w:t>link</w:t></w:r></w:hyperlink>)"
				      R"(<w:r><w:fldChar w:fldCharType="begin"/></w:r><w:r><w:instrText> PAGE </w:instrText></w:r>)"
				      R"(<w:r><w:fldChar w:fldCharType="separate"/></w:r><w:r><w:t> 7</w:t></w:r><w:r><w:fldChar w:fldCharType="end"/></w:r>)"
				      R"(<w:fldSimple w:instr="DATE"><w:r><w:t> today</w:t></w:r></w:fldSimple>)"
				      R"(<w:sdt><w:sdtPr><w:alias w:val="x"/></w:sdtPr><w:sdtContent><w:r><w:t> control</w:t></w:r></w:sdtContent></w:sdt></w:p>)")
			<< QStringList{"link 7 today control"} << false;
		QTest::newRow("picture") << QByteArray(R"(<w:p><w:r><w:t>see</w:t></w:r><w:r><w:drawing><wp:inline xmlns:wp="urn:x"><w:t>alt</w:t></wp:inline></w:drawing></w:r></w:p>)")
					 << QStringList{"see"} << true;
		QTest::newRow("vml picture") << QByteArray(R"(<w:p><w:r><w:pict><w:txbxContent><w:p><w:r><w:t>box</w:t></w:r></w:p></w:txbxContent></w:pict><w:t>after</w:t></w:r></w:p>)")
					     << QStringList{"after"} << true;
		QTest::newRow("object") << QByteArray(R"(<w:p><w:r><w:object><w:t>ole</w:t></w:object><w:t>text</w:t></w:r></w:p>)")
					<< QStringList{"text"} << true;
		QTest::newRow("table")
			<< QByteArray(R"(<w:tbl><w:tr><w:tc><w:p><w:r><w:t>a1</w:t></w:r></w:p></w:tc><w:tc><w:p><w:r><w:t>b1</w:t></w:r></w:p></w:tc></w:tr></w:tbl>)" +
				      paragraph("after"))
			<< QStringList{"a1", "b1", "after"} << true;
		QTest::newRow("footnote reference")
			<< QByteArray(R"(<w:p><w:r><w:t>claim</w:t></w:r><w:r><w:footnoteReference w:id="1"/></w:r></w:p>)") << QStringList{"claim"} << true;
		QTest::newRow("endnote reference")
			<< QByteArray(R"(<w:p><w:r><w:t>claim</w:t></w:r><w:r><w:endnoteReference w:id="1"/></w:r></w:p>)") << QStringList{"claim"} << true;
		QTest::newRow("hidden text")
			<< QByteArray(R"(<w:p><w:r><w:t>say </w:t></w:r><w:r><w:rPr><w:vanish/></w:rPr><w:t>SECRET</w:t><w:tab/><w:br/></w:r>)"
				      R"(<w:r><w:rPr><w:vanish w:val="0"/></w:rPr><w:t>this</w:t></w:r></w:p>)")
			<< QStringList{"say this"} << false;
		QTest::newRow("hidden style, visible run")
			<< QByteArray(R"(<w:p><w:pPr><w:pStyle w:val="Hidden"/></w:pPr><w:r><w:t>ghost</w:t></w:r>)"
				      R"(<w:r><w:rPr><w:vanish w:val="false"/></w:rPr><w:t>shown</w:t></w:r></w:p>)")
			<< QStringList{"shown"} << false;
		QTest::newRow("alternatives take the fallback")
			<< QByteArray(R"(<w:p><w:r><w:t>a</w:t></w:r><mc:AlternateContent><mc:Choice Requires="w14"><w:r><w:t>NEW</w:t></w:r></mc:Choice>)"
				      R"(<mc:Fallback><w:r><w:t>b</w:t></w:r></mc:Fallback></mc:AlternateContent></w:p>)")
			<< QStringList{"ab"} << false;
		QTest::newRow("alternative without fallback")
			<< QByteArray(R"(<w:p><w:r><w:t>a</w:t></w:r><mc:AlternateContent><mc:Choice Requires="w14"><w:r><w:t>NEW</w:t></w:r></mc:Choice>)"
				      R"(</mc:AlternateContent></w:p>)")
			<< QStringList{"a"} << true;
		QTest::newRow("text outside paragraphs") << QByteArray(R"(<w:r><w:t>stray</w:t></w:r>)" + paragraph("in") + R"(<w:r><w:t>late</w:t><w:tab/></w:r>)")
							 << QStringList{"in"} << false;
		QTest::newRow("line ends inside text stay in the paragraph")
			<< QByteArray("<w:p><w:r><w:t>a&#10;b&#13;c\xe2\x80\xa9" "d\xef\xb7\x90</w:t></w:r></w:p>")
			<< QStringList{QStringLiteral("a b c d\ufffd")} << false;
		QTest::newRow("namespace prefix does not matter")
			<< QByteArray(R"(<x:p xmlns:x="urn:other"><x:r><x:t>odd</x:t></x:r></x:p>)") << QStringList{"odd"} << false;
	}

	void textAndDroppedContent()
	{
		QFETCH(QByteArray, body);
		QFETCH(QStringList, paragraphs);
		QFETCH(bool, simplified);
		const Note note(body, stylesXml(paragraphStyle("Hidden", "<w:rPr><w:vanish/></w:rPr>")),
				numberingXml(abstractNum(0, level(0, "decimal")) + num(1, 0)));
		QVERIFY2(note.result.error.isEmpty(), qPrintable(note.result.error));
		QCOMPARE(note.paragraphs(), paragraphs);
		QCOMPARE(note.result.simplified, simplified);
		QVERIFY(!note.result.html.contains(QStringLiteral("SECRET")));
	}

	void noteLimits_data()
	{
		QTest::addColumn<QByteArray>("body");
		QTest::addColumn<bool>("fits");

		const QByteArray tenThousand(10000, 'x');
		QTest::newRow("paragraph of 10000") << paragraph(tenThousand) << true;
		QTest::newRow("paragraph of 10001 in one text") << paragraph(tenThousand + "y") << false;
		QTest::newRow("paragraph of 10001 in two texts") << paragraph(tenThousand).replace("</w:t>", "</w:t><w:t>y</w:t>") << false;
		QTest::newRow("tab after 10000") << QByteArray("<w:p><w:r><w:t>" + tenThousand + "</w:t><w:tab/></w:r></w:p>") << false;
		QTest::newRow("break after 10000 and more") << QByteArray("<w:p><w:r><w:t>" + tenThousand + "</w:t><w:br/><w:t>z</w:t></w:r></w:p>") << false;
		QTest::newRow("hidden text does not count") << QByteArray("<w:p><w:r><w:t>" + tenThousand + "</w:t></w:r><w:r><w:rPr><w:vanish/></w:rPr><w:t>more</w:t></w:r></w:p>") << true;
		QByteArray many;
		for (int i = 0; i < 20000; ++i)
			many += "<w:p/>";
		QTest::newRow("20000 paragraphs") << many << true;
		QTest::newRow("20001 paragraphs") << many + "<w:p/>" << false;
		// 20 paragraphs of 10000 and their 19 separators: 200019 characters.
		QByteArray full;
		for (int i = 0; i < 20; ++i)
			full += paragraph(tenThousand);
		QTest::newRow("200019 characters") << full << false;
		QByteArray exact;
		for (int i = 0; i < 19; ++i)
			exact += paragraph(tenThousand);
		exact += paragraph(QByteArray(10000 - 19, 'x'));
		QTest::newRow("200000 characters") << exact << true;
	}

	void noteLimits()
	{
		QFETCH(QByteArray, body);
		QFETCH(bool, fits);
		const WordImportResult result = importWordXml(documentXml(body), {}, {});
		if (fits) {
			QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
			QVERIFY(!result.html.isEmpty());
		} else {
			QCOMPARE(result.error, text("TextLimit"));
			QVERIFY(result.html.isEmpty());
			QVERIFY(!result.simplified);
		}
	}

	void malformedXml_data()
	{
		QTest::addColumn<QByteArray>("document");
		QTest::addColumn<QByteArray>("styles");
		QTest::addColumn<QByteArray>("numbering");
		QTest::addColumn<bool>("dtd");

		const QByteArray fine = documentXml(paragraph("fine"));
		QTest::newRow("unclosed") << documentXml(paragraph("x")).chopped(10) << QByteArray() << QByteArray() << false;
		QTest::newRow("mismatched tags") << documentXml("<w:p><w:r></w:p></w:r>") << QByteArray() << QByteArray() << false;
		QTest::newRow("undeclared entity") << documentXml(paragraph("&nope;")) << QByteArray() << QByteArray() << false;
		QTest::newRow("undeclared prefix") << QByteArray("<w:document><w:body/></w:document>") << QByteArray() << QByteArray() << false;
		QTest::newRow("not xml") << QByteArray("PK\x03\x04 binary") << QByteArray() << QByteArray() << false;
		const QByteArray laughs =
			"<?xml version=\"1.0\"?><!DOCTYPE w:document [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">"
			"<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
			"<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
			"<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]>";
		QByteArray laughsBody = laughs + "<w:document " + kNamespaces + "><w:body><w:p><w:r><w:t>";
		for (int i = 0; i < 2000; ++i)
			laughsBody += "&d;";
		laughsBody += "</w:t></w:r></w:p></w:body></w:document>";
		QTest::newRow("billion laughs in the document") << laughsBody << QByteArray() << QByteArray() << true;
		QTest::newRow("plain DTD in the document")
			<< QByteArray("<?xml version=\"1.0\"?><!DOCTYPE document>") + documentXml(paragraph("x")).mid(55) << QByteArray() << QByteArray() << true;
		QTest::newRow("DTD in styles") << fine << QByteArray(laughs + stylesXml("")) << QByteArray() << true;
		QTest::newRow("DTD in numbering") << fine << QByteArray() << QByteArray("<!DOCTYPE x>" + numberingXml("")) << true;
	}

	// Broken parts fail with the parser's message; a DTD anywhere is refused before any entity expands.
	void malformedXml()
	{
		QFETCH(QByteArray, document);
		QFETCH(QByteArray, styles);
		QFETCH(QByteArray, numbering);
		QFETCH(bool, dtd);
		const WordImportResult result = importWordXml(document, styles, numbering);
		QVERIFY(result.html.isEmpty());
		QVERIFY(!result.simplified);
		QVERIFY2(result.error.startsWith(text("WordXmlError")), qPrintable(result.error));
		QVERIFY(result.error.size() > text("WordXmlError").size());
		QCOMPARE(result.error.contains(text("WordDtdRefused")), dtd);
	}

	// Styles or numbering that are broken (but carry no DTD) keep what came before the fault.
	void brokenSideParts()
	{
		const QByteArray styles = stylesXml(paragraphStyle("B", "<w:rPr><w:b/></w:rPr>")).chopped(5);
		const QByteArray numbering = numberingXml(abstractNum(1, level(0, "bullet")) + num(2, 1)) + "<oops>";
		const Note note(paragraph("x", R"(<w:pStyle w:val="B"/><w:numPr><w:numId w:val="2"/></w:numPr>)"), styles, numbering);
		QVERIFY2(note.result.error.isEmpty(), qPrintable(note.result.error));
		QCOMPARE(note.formatOf(QStringLiteral("x")).fontWeight(), 700);
		QVERIFY(note.block(0).textList());
		QCOMPARE(note.block(0).textList()->format().style(), QTextListFormat::ListDisc);

		QCOMPARE(importWordXml({}, {}, {}).error, text("WordBodyError"));
		QVERIFY(parseNumbering({}).levels.isEmpty());
		QVERIFY(parseStyles({}).styles.isEmpty());
	}

	void hostileShapes()
	{
		// 100000 nested elements, closed: the walk keeps no stack of its own.
		QByteArray deep = "<w:p><w:r>";
		for (int i = 0; i < 100000; ++i)
			deep += "<w:sdt>";
		deep += "<w:t>deep</w:t>";
		for (int i = 0; i < 100000; ++i)
			deep += "</w:sdt>";
		deep += "</w:r></w:p>";
		const Note closed(deep);
		QVERIFY2(closed.result.error.isEmpty(), qPrintable(closed.result.error));
		QCOMPARE(closed.paragraphs(), QStringList{"deep"});

		const WordImportResult open = importWordXml(documentXml(deep.left(deep.indexOf("</w:sdt>"))), {}, {});
		QVERIFY2(open.error.startsWith(text("WordXmlError")), qPrintable(open.error));

		// One text node of 20 MiB ends at the paragraph limit, not in the document.
		const QByteArray huge = documentXml(paragraph(QByteArray(20 * 1024 * 1024, 'x')));
		QCOMPARE(importWordXml(huge, {}, {}).error, text("TextLimit"));

		// A second pPr takes the paragraph out of the list it had just started, and Qt deletes the
		// emptied list: the next item of that numbering must start a new one, not use the old.
		const Note twice(R"(<w:p><w:pPr><w:numPr><w:numId w:val="1"/></w:numPr></w:pPr><w:pPr/><w:r><w:t>x</w:t></w:r></w:p>)" +
				 listParagraph("y", 1) + listParagraph("z", 1));
		QVERIFY2(twice.result.error.isEmpty(), qPrintable(twice.result.error));
		QVERIFY(!twice.block(0).textList());
		QVERIFY(twice.block(1).textList());
		QCOMPARE(twice.block(2).textList(), twice.block(1).textList());

		// Paragraphs nested in paragraphs and runs in runs stay in document order.
		const Note nested("<w:p><w:r><w:t>a</w:t><w:p><w:r><w:r><w:t>b</w:t></w:r></w:r></w:p><w:t>c</w:t></w:r></w:p>");
		QVERIFY2(nested.result.error.isEmpty(), qPrintable(nested.result.error));
		QCOMPARE(nested.paragraphs(), QStringList({"a", "b"}));
	}

	void parseParagraphPropertiesDirectly()
	{
		QXmlStreamReader reader(QByteArray(
			"<w:pPr " + kNamespaces +
			R"(><w:pStyle w:val="Title"/><w:tabs><w:tab w:val="left" w:pos="720"/></w:tabs><w:numPr><w:ilvl w:val="2"/>)"
			R"(<w:numId w:val="4"/></w:numPr><w:jc w:val="both"/><w:rPr><w:i/><w:color w:val="0000FF"/></w:rPr></w:pPr><after/>)"));
		QVERIFY(reader.readNextStartElement());
		const WordParagraphProperties p = parseParagraphProperties(reader);
		QVERIFY(reader.isEndElement());
		QCOMPARE(reader.name(), QStringLiteral("pPr"));
		QCOMPARE(p.styleId, QStringLiteral("Title"));
		QCOMPARE(p.numId, 4);
		QCOMPARE(p.ilvl, 2);
		QCOMPARE(p.blockFormat.alignment(), Qt::AlignJustify);
		QVERIFY(p.markFormat.fontItalic());
		QCOMPARE(p.markFormat.foreground().color(), QColor(Qt::blue));
	}

	// Every key the import reports has an English text.
	void localeKeys()
	{
		QFile file(QStringLiteral(QUILLMAR_SOURCE_DIR "/data/locale/en-US.ini"));
		QVERIFY(file.open(QIODevice::ReadOnly));
		const QByteArray ini = file.readAll();
		for (const char *key : {"TextLimit", "WordSizeError", "WordOpenError", "WordBodyError", "WordXmlError", "WordDtdRefused"})
			QVERIFY2(ini.contains("\n" + QByteArray(key) + "=\""), key);
	}
};

QTEST_MAIN(TestWordImport)
#include "tst_word_import.moc"
