// The Word import from the three XML parts: run and paragraph properties, styles, lists, the
// body walk, the note limits and hostile XML.

#include "documents/word_import.h"
#include "module/text.h"
#include "word_note.h"

#include <QFile>
#include <QTest>

#include <tuple>

using namespace quillmar;
using namespace quillmar::wordtest;

namespace {

QByteArray num(int n) { return QByteArray::number(n); }

// <w:tag w:val="value"/>
QByteArray val(const QByteArray &tag, const QByteArray &value) { return "<w:" + tag + R"( w:val=")" + value + R"("/>)"; }

QByteArray stylesXml(const QByteArray &inner) { return "<w:styles " + kNamespaces + ">" + inner + "</w:styles>"; }

QByteArray numberingXml(const QByteArray &inner) { return "<w:numbering " + kNamespaces + ">" + inner + "</w:numbering>"; }

QByteArray style(const QByteArray &id, const QByteArray &children, const QByteArray &type = "paragraph")
{
	return R"(<w:style w:type=")" + type + R"(" w:styleId=")" + id + R"(">)" + children + "</w:style>";
}

QByteArray level(int ilvl, const QByteArray &numFmt, int start = 1)
{
	return R"(<w:lvl w:ilvl=")" + num(ilvl) + R"(">)" + val("start", num(start)) + val("numFmt", numFmt) + "</w:lvl>";
}

QByteArray abstractNum(int id, const QByteArray &levels) { return R"(<w:abstractNum w:abstractNumId=")" + num(id) + R"(">)" + levels + "</w:abstractNum>"; }

QByteArray numInstance(int numId, int abstractId, const QByteArray &extra = {})
{
	return R"(<w:num w:numId=")" + num(numId) + R"(">)" + val("abstractNumId", num(abstractId)) + extra + "</w:num>";
}

QByteArray numPr(int numId, int ilvl = 0) { return "<w:numPr>" + val("ilvl", num(ilvl)) + val("numId", num(numId)) + "</w:numPr>"; }

Note imported(const QByteArray &body, const QByteArray &styles = {}, const QByteArray &numbering = {})
{
	return Note(importWordXml(documentXml(body), styles, numbering));
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
		const auto row = [](const char *name, const QByteArray &style, const QByteArray &run, const char *property,
				    const char *expected) {
			QTest::addRow("%s", name) << style << run << QByteArray(property) << QString::fromLatin1(expected);
		};
		// On/off values: "on" ones alone, "off" ones over a style that turns the property on.
		const char *const toggles[][4] = {{"b", "weight", "700", "400"}, {"i", "italic", "yes", "no"}, {"strike", "strike", "yes", "no"}};
		for (const auto &[tag, property, on, off] : toggles) {
			const QByteArray set = "<w:" + QByteArray(tag) + "/>";
			row(tag, {}, set, property, on);
			row(qPrintable(QStringLiteral("%1 in style").arg(tag)), set, {}, property, on);
			for (const char *value : {"1", "on", "true", "FALSE"})
				row(qPrintable(QStringLiteral("%1 %2").arg(tag, value)), {}, val(tag, value), property, on);
			for (const char *value : {"0", "false", "off"})
				row(qPrintable(QStringLiteral("%1 %2 over style").arg(tag, value)), set, val(tag, value), property, off);
		}
		row("dstrike", {}, "<w:dstrike/>", "strike", "yes");
		row("u double", {}, val("u", "double"), "underline", "single");
		row("u wave", {}, val("u", "wave"), "underline", "single");
		row("u none over underline", val("u", "single"), val("u", "none"), "underline", "none");
		for (const auto &[sz, points] : {std::pair{"21", "10.5"}, {"2", "1"}, {"1000", "500"}})
			row(qPrintable(QStringLiteral("sz %1").arg(sz)), {}, val("sz", sz), "size", points);
		for (const char *bad : {"1", "1001", "big"})
			row(qPrintable(QStringLiteral("sz %1 sets nothing").arg(bad)), val("sz", "28"), val("sz", bad), "size", "14");
		row("rFonts ascii before eastAsia", {}, R"(<w:rFonts w:ascii="Liberation Serif" w:eastAsia="DejaVu Sans" w:hAnsi="Arial"/>)",
		    "family", "Liberation Serif");
		row("rFonts hAnsi", {}, R"(<w:rFonts w:hAnsi="Arial" w:eastAsia="SimSun"/>)", "family", "Arial");
		row("rFonts eastAsia alone", {}, R"(<w:rFonts w:eastAsia="SimSun"/>)", "family", "SimSun");
		row("color FF0000", {}, val("color", "FF0000"), "color", "#ff0000");
		row("color auto sets nothing", val("color", "112233"), val("color", "auto"), "color", "#112233");
		row("color garbage sets nothing", {}, val("color", "zz"), "color", "none");
		// Word's palette, where it differs from CSS names too (green).
		const std::pair<const char *, const char *> highlights[] = {
			{"darkYellow", "#808000"}, {"yellow", "#ffff00"}, {"green", "#00ff00"}, {"blue", "#0000ff"},
			{"cyan", "#00ffff"},       {"magenta", "#ff00ff"}, {"red", "#ff0000"},  {"black", "#000000"},
			{"white", "#ffffff"},      {"lightGray", "#c0c0c0"}, {"orange", "#ffa500"}, {"none", "none"}};
		for (const auto &[name, color] : highlights)
			row(qPrintable(QStringLiteral("highlight %1").arg(name)), {}, val("highlight", name), "background", color);
		row("shd fill", {}, R"(<w:shd w:val="clear" w:fill="99CCFF"/>)", "background", "#99ccff");
		row("shd auto", {}, R"(<w:shd w:val="clear" w:fill="auto"/>)", "background", "none");
		row("shd after highlight wins", {}, val("highlight", "yellow") + R"(<w:shd w:fill="00FF00"/>)", "background", "#00ff00");
		row("highlight after shd wins", {}, R"(<w:shd w:fill="00FF00"/>)" + val("highlight", "darkRed"), "background", "#800000");
		row("superscript", {}, val("vertAlign", "superscript"), "vertical", "super");
		row("subscript", {}, val("vertAlign", "subscript"), "vertical", "sub");
		row("baseline over superscript", val("vertAlign", "superscript"), val("vertAlign", "baseline"), "vertical", "normal");
		row("unknown properties skipped whole", {}, "<w:rPrChange><w:rPr><w:b/></w:rPr></w:rPrChange><w:i/>", "weight", "400");
	}

	// Each run property alone, and over a paragraph style that sets it first.
	void runProperties()
	{
		QFETCH(QByteArray, styleRPr);
		QFETCH(QByteArray, runRPr);
		QFETCH(QByteArray, property);
		QFETCH(QString, expected);
		const Note note = imported(paragraph("word", val("pStyle", "S"), runRPr), stylesXml(style("S", "<w:rPr>" + styleRPr + "</w:rPr>")));
		QVERIFY2(note.result.error.isEmpty(), qPrintable(note.result.error));
		QCOMPARE(describe(note.formatOf(QStringLiteral("word")), property), expected);
	}

	void alignment()
	{
		const std::pair<const char *, Qt::Alignment> values[] = {{"center", Qt::AlignHCenter}, {"right", Qt::AlignRight},
									 {"end", Qt::AlignRight},      {"both", Qt::AlignJustify},
									 {"distribute", Qt::AlignLeft}, {"start", Qt::AlignLeft}};
		for (const auto &[jc, expected] : values) {
			// The paragraph's own value wins over its centred style; tab stops add no text.
			const Note note = imported(paragraph("x", val("pStyle", "C") + R"(<w:tabs><w:tab w:val="left" w:pos="720"/></w:tabs>)" + val("jc", jc)),
						   stylesXml(style("C", "<w:pPr>" + val("jc", "center") + "</w:pPr>")));
			QCOMPARE(note.paragraphs(), QStringList{"x"});
			QVERIFY2(note.alignment(0) == expected, jc);
		}
	}

	void styleInheritance()
	{
		const QByteArray styles = stylesXml(
			R"(<w:docDefaults><w:rPrDefault><w:rPr><w:rFonts w:ascii="Liberation Serif"/><w:sz w:val="24"/></w:rPr></w:rPrDefault></w:docDefaults>)" +
			style("Normal", "<w:rPr>" + val("color", "333333") + "</w:rPr>") +
			style("Base", val("basedOn", "Normal") + "<w:pPr>" + val("jc", "center") + "</w:pPr><w:rPr>" + val("sz", "28") + "</w:rPr>") +
			style("Cue", val("basedOn", "Base") + "<w:rPr><w:b/></w:rPr>") +
			style("Stage", val("basedOn", "Emph") + "<w:rPr>" + val("color", "008000") + "</w:rPr>", "character") +
			style("Emph", "<w:rPr><w:i/></w:rPr>", "character") +
			style("Self", val("basedOn", "Self") + "<w:rPr><w:strike/></w:rPr>") +
			style("LoopA", val("basedOn", "LoopB") + "<w:rPr><w:i/></w:rPr>") +
			style("LoopB", val("basedOn", "LoopA") + "<w:rPr><w:b/></w:rPr>"));
		const Note note = imported(paragraph("cue", val("pStyle", "Cue")) + paragraph("plain") +
						   "<w:p><w:r><w:t>say </w:t></w:r><w:r><w:rPr>" + val("rStyle", "Stage") + val("sz", "20") +
						   "</w:rPr><w:t>quietly</w:t></w:r></w:p>" + paragraph("self", val("pStyle", "Self")) +
						   paragraph("loop", val("pStyle", "LoopA")) + paragraph("unknown", val("pStyle", "Nowhere")),
					   styles);
		QVERIFY2(note.result.error.isEmpty(), qPrintable(note.result.error));
		QCOMPARE(note.paragraphs(), QStringList({"cue", "plain", "say quietly", "self", "loop", "unknown"}));
		QCOMPARE(note.alignment(0), Qt::AlignHCenter);
		note.expect({// Three generations: defaults, Normal, Base, Cue.
			     {0, "cue", "weight", "700"}, {0, "cue", "size", "14"}, {0, "cue", "color", "#333333"},
			     {0, "cue", "family", "Liberation Serif"},
			     // A paragraph without properties is a Normal paragraph.
			     {1, "plain", "size", "12"}, {1, "plain", "color", "#333333"}, {1, "plain", "weight", "400"},
			     // A character style with its own ancestor, under the run's direct size.
			     {2, "quietly", "italic", "yes"}, {2, "quietly", "color", "#008000"}, {2, "quietly", "size", "10"},
			     {2, "say", "italic", "no"},
			     // Chains that loop end at the depth bound and still keep what they set.
			     {3, "self", "strike", "yes"}, {4, "loop", "italic", "yes"}, {4, "loop", "weight", "700"},
			     {5, "unknown", "size", "12"}});
	}

	// Only the nearest 17 styles of a chain count.
	void styleDepth()
	{
		QByteArray inner;
		for (int i = 0; i < 30; ++i) {
			const QByteArray rPr = i == 16 ? "<w:i/>" : i == 17 ? "<w:b/>" : i == 29 ? "<w:strike/>" : "";
			inner += style("S" + num(i), val("basedOn", "S" + num(i + 1)) + "<w:rPr>" + rPr + "</w:rPr>");
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

		imported(paragraph("deep", val("pStyle", "S0")), stylesXml(inner)).expect({{0, "deep", "italic", "yes"}, {0, "deep", "weight", "400"}});
	}

	// The style marked as default serves paragraphs that name none, whatever its id.
	void defaultParagraphStyle()
	{
		const QByteArray styles = stylesXml(R"(<w:style w:type="paragraph" w:default="1" w:styleId="Standard"><w:pPr>)" + val("jc", "right") +
						    "</w:pPr><w:rPr>" + val("sz", "30") + "</w:rPr></w:style>" +
						    style("Normal", "<w:rPr>" + val("sz", "40") + "</w:rPr>"));
		const Note note = imported(paragraph("bare") + paragraph("empty pPr", R"(<w:ind w:left="10"/>)") +
						   paragraph("named", val("pStyle", "Normal")),
					   styles);
		note.expect({{0, "bare", "size", "15"}, {1, "empty pPr", "size", "15"}, {2, "named", "size", "20"}});
		QCOMPARE(note.alignment(0), Qt::AlignRight);
		QCOMPARE(note.alignment(2), Qt::AlignLeft);
	}

	// The paragraph mark's run properties format an empty paragraph, never the runs.
	void paragraphMark()
	{
		const QByteArray mark = "<w:pPr><w:rPr><w:b/>" + val("sz", "40") + "</w:rPr></w:pPr>";
		const Note note = imported("<w:p>" + mark + "<w:r><w:t>plain run</w:t></w:r></w:p><w:p>" + mark + "</w:p>" + paragraph("after"));
		QCOMPARE(note.paragraphs(), QStringList({"plain run", "", "after"}));
		QCOMPARE(note.formatOf(QStringLiteral("plain run")).fontWeight(), 400);
		QVERIFY(note.formatOf(QStringLiteral("plain run")).fontPointSize() != 20.0);
		QCOMPARE(note.block(1).charFormat().fontWeight(), 700);
		QCOMPARE(note.block(1).charFormat().fontPointSize(), 20.0);
		QCOMPARE(note.formatOf(QStringLiteral("after")).fontWeight(), 400);
	}

	void lists()
	{
		const QByteArray numbering = numberingXml(
			abstractNum(1, level(0, "decimal") + level(1, "lowerLetter") + level(2, "upperRoman")) +
			abstractNum(2, level(0, "bullet") + level(1, "bullet")) + abstractNum(3, level(0, "decimal", 4)) +
			abstractNum(4, level(0, "none")) + abstractNum(5, level(0, "upperLetter")) + numInstance(3, 1) + numInstance(5, 2) +
			numInstance(6, 3) + numInstance(7, 4) +
			numInstance(8, 5, R"(<w:lvlOverride w:ilvl="0"><w:startOverride w:val="7"/></w:lvlOverride>)") + numInstance(9, 42));
		const QByteArray styles = stylesXml(style("Bullets", "<w:pPr>" + numPr(5) + "</w:pPr>") +
						    style("Heading1", "<w:pPr>" + numPr(7) + "</w:pPr><w:rPr><w:b/></w:rPr>"));
		const auto item = [](const QByteArray &text, int numId, int ilvl = 0) { return paragraph(text, numPr(numId, ilvl)); };
		const Note note = imported(item("one", 3) + item("one a", 3, 1) + item("one a i", 3, 2) + paragraph("between") +
						   item("two", 3) +                                                      // 4
						   paragraph("dot", val("pStyle", "Bullets")) +                          // 5
						   paragraph("not a list", val("pStyle", "Bullets") + numPr(0)) +        // 6
						   item("zero", 0) + item("four", 6) + item("five", 6) +                 // 7..9
						   paragraph("Heading", val("pStyle", "Heading1")) +                     // 10
						   item("G", 8) + item("unknown", 9) + item("dot 2", 5, 1) +            // 11..13
						   item("huge level", 3, 99999999),
					   styles, numbering);
		QVERIFY2(note.result.error.isEmpty(), qPrintable(note.result.error));
		// Numbering continues over the plain paragraph; a level that shows no number is no list.
		QCOMPARE(note.paragraphs(), QStringList({"[decimal 1 #0] one", "[a 2 #1] one a", "[I 3 #2] one a i", "between",
							 "[decimal 1 #0] two", "[disc 1 #3] dot", "not a list", "zero",
							 "[decimal 1 #4] four", "[decimal 1 #4] five", "Heading", "[A 1 #5] G",
							 "[decimal 1 #6] unknown", "[disc 2 #7] dot 2", note.paragraphs().last()}));
		QVERIFY(note.list(14));
		QVERIFY(note.list(14)->format().indent() <= 9);
		// The style of the level that shows no number still formats its paragraph.
		QCOMPARE(note.formatOf(QStringLiteral("Heading")).fontWeight(), 700);
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
		QCOMPARE(note.list(8)->format().start(), 4);
		QCOMPARE(note.list(11)->format().start(), 7);
#endif
	}

	void textAndDroppedContent_data()
	{
		QTest::addColumn<QByteArray>("body");
		QTest::addColumn<QStringList>("paragraphs");
		QTest::addColumn<bool>("simplified");
		const auto row = [](const char *name, const QByteArray &body, const QStringList &paragraphs, bool simplified = false) {
			QTest::addRow("%s", name) << body << paragraphs << simplified;
		};
		const auto runs = [](const QByteArray &inner) { return "<w:p>" + inner + "</w:p>"; };
		row("empty only paragraph", "<w:p/>", {""});
		row("no paragraph", "", {""});
		row("tab and breaks", runs("<w:r><w:t>a</w:t><w:tab/><w:t>b</w:t><w:br/><w:t>c</w:t><w:cr/><w:t>d</w:t></w:r>"),
		    {QStringLiteral("a\tb\u2028c\u2028d")});
		row("tracked changes",
		    runs(R"(<w:r><w:t>kept </w:t></w:r><w:ins w:id="1"><w:r><w:t>added </w:t></w:r></w:ins>)"
			 R"(<w:del w:id="2"><w:r><w:delText>gone </w:delText><w:t>gone too </w:t></w:r></w:del>)"
			 R"(<w:moveFrom w:id="3"><w:r><w:t>moved away </w:t></w:r></w:moveFrom>)"
			 R"(<w:moveTo w:id="4"><w:r><w:t>moved here</w:t></w:r></w:moveTo>)"),
		    {"kept added moved here"});
		row("deleted paragraph", R"(<w:del w:id="1"><w:p><w:r><w:t>x</w:t></w:r></w:p></w:del>)" + paragraph("y"), {"y"});
		row("hyperlink, field and content control",
		    runs(R"(<w:hyperlink><w:r><w:t>link</w:t></w:r></w:hyperlink>)"
			 R"(<w:r><w:fldChar w:fldCharType="begin"/></w:r><w:r><w:instrText> PAGE </w:instrText></w:r>)"
			 R"(<w:r><w:fldChar w:fldCharType="separate"/></w:r><w:r><w:t> 7</w:t></w:r><w:r><w:fldChar w:fldCharType="end"/></w:r>)"
			 R"(<w:fldSimple w:instr="DATE"><w:r><w:t> today</w:t></w:r></w:fldSimple>)"
			 R"(<w:sdt><w:sdtPr><w:alias w:val="x"/></w:sdtPr><w:sdtContent><w:r><w:t> control</w:t></w:r></w:sdtContent></w:sdt>)"),
		    {"link 7 today control"});
		row("picture", runs(R"(<w:r><w:t>see</w:t></w:r><w:r><w:drawing><wp:inline xmlns:wp="urn:x"><w:t>alt</w:t></wp:inline></w:drawing></w:r>)"),
		    {"see"}, true);
		row("vml picture", runs("<w:r><w:pict><w:txbxContent><w:p><w:r><w:t>box</w:t></w:r></w:p></w:txbxContent></w:pict><w:t>after</w:t></w:r>"),
		    {"after"}, true);
		row("object", runs("<w:r><w:object><w:t>ole</w:t></w:object><w:t>text</w:t></w:r>"), {"text"}, true);
		row("table",
		    "<w:tbl><w:tr><w:tc><w:p><w:r><w:t>a1</w:t></w:r></w:p></w:tc><w:tc><w:p><w:r><w:t>b1</w:t></w:r></w:p></w:tc></w:tr></w:tbl>" +
			    paragraph("after"),
		    {"a1", "b1", "after"}, true);
		for (const char *note : {"footnote", "endnote"})
			row(qPrintable(QStringLiteral("%1 reference").arg(note)),
			    runs("<w:r><w:t>claim</w:t></w:r><w:r><w:" + QByteArray(note) + R"(Reference w:id="1"/></w:r>)"), {"claim"}, true);
		row("hidden text",
		    runs("<w:r><w:t>say </w:t></w:r><w:r><w:rPr><w:vanish/></w:rPr><w:t>SECRET</w:t><w:tab/><w:br/></w:r>"
			 "<w:r><w:rPr>" + val("vanish", "0") + "</w:rPr><w:t>this</w:t></w:r>"),
		    {"say this"});
		row("hidden style, visible run",
		    runs("<w:pPr>" + val("pStyle", "Hidden") + "</w:pPr><w:r><w:t>ghost</w:t></w:r><w:r><w:rPr>" + val("vanish", "false") +
			 "</w:rPr><w:t>shown</w:t></w:r>"),
		    {"shown"});
		const QByteArray choice = R"(<w:r><w:t>a</w:t></w:r><mc:AlternateContent><mc:Choice Requires="w14"><w:r><w:t>NEW</w:t></w:r></mc:Choice>)";
		row("alternatives take the fallback", runs(choice + "<mc:Fallback><w:r><w:t>b</w:t></w:r></mc:Fallback></mc:AlternateContent>"), {"ab"});
		row("alternative without fallback", runs(choice + "</mc:AlternateContent>"), {"a"}, true);
		row("text outside paragraphs", "<w:r><w:t>stray</w:t></w:r>" + paragraph("in") + "<w:r><w:t>late</w:t><w:tab/></w:r>", {"in"});
		row("line ends inside text stay in the paragraph", paragraph("a&#10;b&#13;c\xe2\x80\xa9" "d\xef\xb7\x90"),
		    {QStringLiteral("a b c d\ufffd")});
		row("namespace prefix does not matter", R"(<x:p xmlns:x="urn:other"><x:r><x:t>odd</x:t></x:r></x:p>)", {"odd"});
	}

	void textAndDroppedContent()
	{
		QFETCH(QByteArray, body);
		QFETCH(QStringList, paragraphs);
		QFETCH(bool, simplified);
		const Note note = imported(body, stylesXml(style("Hidden", "<w:rPr><w:vanish/></w:rPr>")),
					   numberingXml(abstractNum(0, level(0, "decimal")) + numInstance(1, 0)));
		QVERIFY2(note.result.error.isEmpty(), qPrintable(note.result.error));
		QCOMPARE(note.paragraphs(), paragraphs);
		QCOMPARE(note.result.simplified, simplified);
		QVERIFY(!note.result.html.contains(QStringLiteral("SECRET")));
	}

	void noteLimits_data()
	{
		QTest::addColumn<QByteArray>("body");
		QTest::addColumn<bool>("fits");
		const QByteArray full(10000, 'x');
		const QByteArray run = "<w:p><w:r><w:t>" + full + "</w:t>";
		QTest::newRow("paragraph of 10000") << paragraph(full) << true;
		QTest::newRow("paragraph of 10001 in one text") << paragraph(full + "y") << false;
		QTest::newRow("paragraph of 10001 in two texts") << run + "<w:t>y</w:t></w:r></w:p>" << false;
		QTest::newRow("tab after 10000") << run + "<w:tab/></w:r></w:p>" << false;
		QTest::newRow("break after 10000 and more") << run + "<w:br/><w:t>z</w:t></w:r></w:p>" << false;
		QTest::newRow("hidden text does not count") << run + "</w:r><w:r><w:rPr><w:vanish/></w:rPr><w:t>more</w:t></w:r></w:p>" << true;
		// It ends at the paragraph limit, not in the document.
		QTest::newRow("one text node of 20 MiB") << paragraph(QByteArray(20 * 1024 * 1024, 'x')) << false;
		QTest::newRow("20000 paragraphs") << QByteArray("<w:p/>").repeated(20000) << true;
		QTest::newRow("20001 paragraphs") << QByteArray("<w:p/>").repeated(20001) << false;
		// 20 paragraphs of 10000 and their 19 separators: 200019 characters.
		QTest::newRow("200019 characters") << paragraph(full).repeated(20) << false;
		QTest::newRow("200000 characters") << paragraph(full).repeated(19) + paragraph(QByteArray(10000 - 19, 'x')) << true;
	}

	void noteLimits()
	{
		QFETCH(QByteArray, body);
		QFETCH(bool, fits);
		const WordImportResult result = importWordXml(documentXml(body), {}, {});
		QCOMPARE(result.error, fits ? QString() : text("TextLimit"));
		QCOMPARE(result.html.isEmpty(), !fits);
		QVERIFY(!result.simplified);
	}

	void malformedXml_data()
	{
		QTest::addColumn<int>("part"); // 0 document, 1 styles, 2 numbering
		QTest::addColumn<QByteArray>("xml");
		QTest::addColumn<bool>("dtd");
		QTest::newRow("unclosed") << 0 << documentXml(paragraph("x")).chopped(10) << false;
		QTest::newRow("mismatched tags") << 0 << documentXml("<w:p><w:r></w:p></w:r>") << false;
		QTest::newRow("undeclared entity") << 0 << documentXml(paragraph("&nope;")) << false;
		QTest::newRow("undeclared prefix") << 0 << QByteArray("<w:document><w:body/></w:document>") << false;
		QTest::newRow("not xml") << 0 << QByteArray("PK\x03\x04 binary") << false;
		QTest::newRow("100000 open elements") << 0 << documentXml("<w:p><w:r>" + QByteArray("<w:sdt>").repeated(100000)) << false;
		QByteArray laughs = "<?xml version=\"1.0\"?><!DOCTYPE w:document [<!ENTITY a \"" + QByteArray(52, 'a') + "\">";
		for (const char *e : {"b", "c", "d"})
			laughs += "<!ENTITY " + QByteArray(e) + " \"" + ("&" + QByteArray(1, char(e[0] - 1)) + ";").repeated(20) + "\">";
		laughs += "]>";
		QTest::newRow("billion laughs in the document")
			<< 0 << laughs + "<w:document " + kNamespaces + "><w:body>" + paragraph(QByteArray("&d;").repeated(2000)) + "</w:body></w:document>"
			<< true;
		QTest::newRow("plain DTD in the document") << 0 << "<?xml version=\"1.0\"?><!DOCTYPE document>" + documentXml(paragraph("x")).mid(55) << true;
		QTest::newRow("DTD in styles") << 1 << laughs + stylesXml("") << true;
		QTest::newRow("DTD in numbering") << 2 << "<!DOCTYPE x>" + numberingXml("") << true;
	}

	// Broken parts fail with the parser's message; a DTD anywhere is refused before any entity expands.
	void malformedXml()
	{
		QFETCH(int, part);
		QFETCH(QByteArray, xml);
		QFETCH(bool, dtd);
		const WordImportResult result = importWordXml(part == 0 ? xml : documentXml(paragraph("fine")), part == 1 ? xml : QByteArray(),
							      part == 2 ? xml : QByteArray());
		QVERIFY(result.html.isEmpty());
		QVERIFY(!result.simplified);
		QVERIFY2(result.error.startsWith(text("WordXmlError")), qPrintable(result.error));
		QVERIFY(result.error.size() > text("WordXmlError").size());
		QCOMPARE(result.error.contains(text("WordDtdRefused")), dtd);
	}

	// Styles or numbering that are broken (but carry no DTD) keep what came before the fault.
	void brokenSideParts()
	{
		const QByteArray styles = stylesXml(style("B", "<w:rPr><w:b/></w:rPr>")).chopped(5);
		const QByteArray numbering = numberingXml(abstractNum(1, level(0, "bullet")) + numInstance(2, 1)) + "<oops>";
		const Note note = imported(paragraph("x", val("pStyle", "B") + numPr(2)), styles, numbering);
		QVERIFY2(note.result.error.isEmpty(), qPrintable(note.result.error));
		QCOMPARE(note.formatOf(QStringLiteral("x")).fontWeight(), 700);
		QCOMPARE(note.paragraphs(), QStringList{"[disc 1 #0] x"});
		QCOMPARE(importWordXml({}, {}, {}).error, text("WordBodyError"));
	}

	void hostileShapes()
	{
		// 100000 nested elements, closed: the walk keeps no stack of its own.
		const Note closed = imported("<w:p><w:r>" + QByteArray("<w:sdt>").repeated(100000) + "<w:t>deep</w:t>" +
					     QByteArray("</w:sdt>").repeated(100000) + "</w:r></w:p>");
		QVERIFY2(closed.result.error.isEmpty(), qPrintable(closed.result.error));
		QCOMPARE(closed.paragraphs(), QStringList{"deep"});

		// A second pPr takes the paragraph out of the list it had just started, and Qt deletes the
		// emptied list: the next item of that numbering must start a new one, not use the old.
		const Note twice = imported("<w:p><w:pPr>" + numPr(1) + "</w:pPr><w:pPr/><w:r><w:t>x</w:t></w:r></w:p>" + paragraph("y", numPr(1)) +
					    paragraph("z", numPr(1)));
		QVERIFY2(twice.result.error.isEmpty(), qPrintable(twice.result.error));
		QCOMPARE(twice.paragraphs(), QStringList({"x", "[decimal 1 #0] y", "[decimal 1 #0] z"}));

		// Paragraphs nested in paragraphs and runs in runs stay in document order.
		const Note nested = imported("<w:p><w:r><w:t>a</w:t><w:p><w:r><w:r><w:t>b</w:t></w:r></w:r></w:p><w:t>c</w:t></w:r></w:p>");
		QVERIFY2(nested.result.error.isEmpty(), qPrintable(nested.result.error));
		QCOMPARE(nested.paragraphs(), QStringList({"a", "b"}));
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
