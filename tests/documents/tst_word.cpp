// The Word import, one table of cases each read through a whole .docx file and checked on the note
// as the dock stores it (its HTML read back): fixtures written by python-docx, pandoc and
// LibreOffice (tests/data/docx, made by make_fixtures.py there), packages built here from XML
// parts, and hostile or broken files. Lists are also checked on random numbering definitions.

#include "documents/blocks_model.h"
#include "documents/word_import.h"
#include "documents/zip.h"
#include "module/text.h"
#include "zip_builder.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>

#include <array>
#include <chrono>
#include <future>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace quillmar;
using quillmar::blocks::listStartOf;

namespace {

const QByteArray kNamespaces = R"(xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main" )"
			       R"(xmlns:mc="http://schemas.openxmlformats.org/markup-compatibility/2006")";

QByteArray num(qint64 n) { return QByteArray::number(n); }
// <w:tag w:val="value"/>
QByteArray val(const QByteArray &tag, const QByteArray &value) { return "<w:" + tag + R"( w:val=")" + value + R"("/>)"; }
QByteArray documentXml(const QByteArray &body)
{
	return R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?><w:document )" + kNamespaces + "><w:body>" + body + "</w:body></w:document>";
}
QByteArray stylesXml(const QByteArray &inner) { return "<w:styles " + kNamespaces + ">" + inner + "</w:styles>"; }
QByteArray numberingXml(const QByteArray &inner) { return "<w:numbering " + kNamespaces + ">" + inner + "</w:numbering>"; }
QByteArray paragraph(const QByteArray &text, const QByteArray &pPr = {}, const QByteArray &rPr = {})
{
	return "<w:p>" + (pPr.isEmpty() ? QByteArray() : "<w:pPr>" + pPr + "</w:pPr>") + "<w:r>" +
	       (rPr.isEmpty() ? QByteArray() : "<w:rPr>" + rPr + "</w:rPr>") + "<w:t>" + text + "</w:t></w:r></w:p>";
}
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
QByteArray startOverride(int ilvl, int start)
{
	return R"(<w:lvlOverride w:ilvl=")" + num(ilvl) + R"("><w:startOverride w:val=")" + num(start) + R"("/></w:lvlOverride>)";
}
QByteArray numPr(int numId, int ilvl = 0) { return "<w:numPr>" + val("ilvl", num(ilvl)) + val("numId", num(numId)) + "</w:numPr>"; }
QByteArray item(const QByteArray &text, int numId, int ilvl = 0) { return paragraph(text, numPr(numId, ilvl)); }

ZipFileList parts(const QByteArray &body, const QByteArray &styles = {}, const QByteArray &numbering = {})
{
	ZipFileList out{{"word/document.xml", documentXml(body)}};
	if (!styles.isEmpty())
		out.append({"word/styles.xml", styles});
	if (!numbering.isEmpty())
		out.append({"word/numbering.xml", numbering});
	return out;
}

// One property of a format, spelt so that tables can state it.
QString describe(const QTextCharFormat &f, const QString &property)
{
	const auto color = [](const QBrush &b) { return b.style() == Qt::NoBrush ? QStringLiteral("none") : b.color().name(); };
	const auto yes = [](bool on) { return on ? QStringLiteral("yes") : QStringLiteral("no"); };
	if (property == u"weight")
		return QString::number(f.fontWeight());
	if (property == u"italic")
		return yes(f.fontItalic());
	if (property == u"underline")
		return f.underlineStyle() == QTextCharFormat::SingleUnderline ? QStringLiteral("single")
		       : f.underlineStyle() == QTextCharFormat::NoUnderline   ? QStringLiteral("none")
									      : QString::number(int(f.underlineStyle()));
	if (property == u"strike")
		return yes(f.fontStrikeOut());
	if (property == u"size")
		return f.hasProperty(QTextFormat::FontPointSize) ? QString::number(f.fontPointSize()) : QStringLiteral("unset");
	if (property == u"family")
		return f.fontFamilies().toStringList().join(QLatin1Char(','));
	if (property == u"color")
		return color(f.foreground());
	if (property == u"background")
		return color(f.background());
	if (property == u"vertical")
		return QStringList{"normal", "super", "sub"}.value(int(f.verticalAlignment()), QStringLiteral("?"));
	return QStringLiteral("?");
}

// The note as stored and read back.
struct Note {
	explicit Note(WordImportResult imported) : result(std::move(imported)) { document.setHtml(result.html); }

	// The text of each paragraph; a list item starts with its list's style, indent, order of
	// appearance and the item's number, such as "[decimal 1 #0 4] ".
	QStringList paragraphs() const
	{
		static const char *const styles[] = {"disc", "circle", "square", "decimal", "a", "A", "i", "I"};
		QStringList out;
		QList<QTextList *> lists;
		for (QTextBlock b = document.begin(); b.isValid(); b = b.next()) {
			QTextList *list = b.textList();
			if (list && !lists.contains(list))
				lists << list;
			const int style = list ? -1 - int(list->format().style()) : 0;
			out << (list ? QStringLiteral("[%1 %2 #%3 %4] ")
						.arg(QLatin1String(style >= 0 && style < 8 ? styles[style] : "?"))
						.arg(list->format().indent())
						.arg(lists.indexOf(list))
						.arg(listStartOf(list->format()) + list->itemNumber(b))
				     : QString()) +
				       b.text();
		}
		return out;
	}

	// "paragraph|word|property|value": the format inside the word's first occurrence in that
	// paragraph; "paragraph||align|value" its alignment, "paragraph||mark property|value" the
	// format of its paragraph mark.
	QString check(const QString &row) const
	{
		const QStringList f = row.split(QLatin1Char('|'));
		const QTextBlock b = document.findBlockByNumber(f[0].toInt());
		QString got;
		if (f[2] == u"align") {
			static const QHash<int, QString> names{{Qt::AlignLeft, "left"}, {Qt::AlignRight, "right"},
							       {Qt::AlignHCenter, "center"}, {Qt::AlignJustify, "justify"}};
			got = names.value(int(b.blockFormat().alignment() & (Qt::AlignLeft | Qt::AlignRight | Qt::AlignHCenter | Qt::AlignJustify)), "?");
		} else if (f[2].startsWith(u"mark ")) {
			got = describe(b.charFormat(), f[2].mid(5));
		} else {
			const QTextCursor found = document.find(f[1], b.position());
			if (found.isNull() || found.block() != b)
				return row + QStringLiteral(": word not found");
			QTextCursor inside(found);
			inside.setPosition(found.selectionStart() + 1);
			got = describe(inside.charFormat(), f[2]);
		}
		return got == f[3] ? QString() : row + QStringLiteral(": got ") + got;
	}

	WordImportResult result;
	QTextDocument document;
};

// Sizes that stand for files of another kind.
constexpr qint64 kDirectory = -2, kFifo = -3;

// What a row expects: a failure whose text starts with error (the bare "WordXmlError" needs the
// parser's detail after it), or these paragraphs, flag and checks.
void row(const char *name, const ZipFileList &parts, const QString &error, const QStringList &paragraphs = {},
	 bool simplified = false, const QStringList &checks = {}, const QString &file = {}, const QByteArray &raw = {},
	 qint64 size = -1)
{
	QTest::newRow(name) << file << parts << raw << size << error << paragraphs << simplified << checks;
}
void fits(const char *name, const ZipFileList &parts, const QStringList &paragraphs, const QStringList &checks = {}, bool simplified = false)
{
	row(name, parts, {}, paragraphs, simplified, checks);
}
QString xmlError(const char *detail = nullptr) { return text("WordXmlError") + (detail ? text(detail) : QString()); }

// The same format check over a paragraph style that sets it first.
void runProperty(const QString &name, const QByteArray &styleRPr, const QByteArray &runRPr, const char *property, const char *value)
{
	fits(qPrintable(name), parts(paragraph("word", val("pStyle", "S"), runRPr), stylesXml(style("S", "<w:rPr>" + styleRPr + "</w:rPr>"))),
	     {"word"}, {QStringLiteral("0|word|%1|%2").arg(property, value)});
}

void runPropertyRows()
{
	// On/off values: "on" ones alone, "off" ones over a style that turns the property on.
	const char *const toggles[][4] = {{"b", "weight", "700", "400"}, {"i", "italic", "yes", "no"}, {"strike", "strike", "yes", "no"}};
	for (const auto &[tag, property, on, off] : toggles) {
		const QByteArray set = "<w:" + QByteArray(tag) + "/>";
		runProperty(tag, {}, set, property, on);
		runProperty(QStringLiteral("%1 in style").arg(tag), set, {}, property, on);
		for (const char *value : {"1", "on", "true", "FALSE"})
			runProperty(QStringLiteral("%1 %2").arg(tag, value), {}, val(tag, value), property, on);
		for (const char *value : {"0", "false", "off"})
			runProperty(QStringLiteral("%1 %2 over style").arg(tag, value), set, val(tag, value), property, off);
	}
	runProperty("dstrike", {}, "<w:dstrike/>", "strike", "yes");
	runProperty("u double", {}, val("u", "double"), "underline", "single");
	runProperty("u none over underline", val("u", "single"), val("u", "none"), "underline", "none");
	for (const auto &[sz, points] : {std::pair{"21", "10.5"}, {"2", "1"}, {"1000", "500"}})
		runProperty(QStringLiteral("sz %1").arg(sz), {}, val("sz", sz), "size", points);
	for (const char *bad : {"1", "1001", "big"})
		runProperty(QStringLiteral("sz %1 sets nothing").arg(bad), val("sz", "28"), val("sz", bad), "size", "14");
	runProperty("rFonts ascii before eastAsia", {}, R"(<w:rFonts w:ascii="Liberation Serif" w:eastAsia="DejaVu Sans" w:hAnsi="Arial"/>)",
		    "family", "Liberation Serif");
	runProperty("rFonts hAnsi", {}, R"(<w:rFonts w:hAnsi="Arial" w:eastAsia="SimSun"/>)", "family", "Arial");
	runProperty("rFonts eastAsia alone", {}, R"(<w:rFonts w:eastAsia="SimSun"/>)", "family", "SimSun");
	runProperty("color FF0000", {}, val("color", "FF0000"), "color", "#ff0000");
	runProperty("color auto sets nothing", val("color", "112233"), val("color", "auto"), "color", "#112233");
	runProperty("color garbage sets nothing", {}, val("color", "zz"), "color", "none");
	// Word's palette, where it differs from CSS names too (green).
	const std::pair<const char *, const char *> highlights[] = {
		{"darkYellow", "#808000"}, {"yellow", "#ffff00"}, {"green", "#00ff00"}, {"blue", "#0000ff"}, {"darkRed", "#800000"},
		{"lightGray", "#c0c0c0"},  {"orange", "#ffa500"}, {"none", "none"}};
	for (const auto &[name, color] : highlights)
		runProperty(QStringLiteral("highlight %1").arg(name), {}, val("highlight", name), "background", color);
	runProperty("shd fill", {}, R"(<w:shd w:val="clear" w:fill="99CCFF"/>)", "background", "#99ccff");
	runProperty("shd auto", {}, R"(<w:shd w:val="clear" w:fill="auto"/>)", "background", "none");
	runProperty("shd after highlight wins", {}, val("highlight", "yellow") + R"(<w:shd w:fill="00FF00"/>)", "background", "#00ff00");
	runProperty("highlight after shd wins", {}, R"(<w:shd w:fill="00FF00"/>)" + val("highlight", "darkRed"), "background", "#800000");
	runProperty("superscript", {}, val("vertAlign", "superscript"), "vertical", "super");
	runProperty("subscript", {}, val("vertAlign", "subscript"), "vertical", "sub");
	runProperty("baseline over superscript", val("vertAlign", "superscript"), val("vertAlign", "baseline"), "vertical", "normal");
	runProperty("unknown properties skipped whole", {}, "<w:rPrChange><w:rPr><w:b/></w:rPr></w:rPrChange><w:i/>", "weight", "400");
}

void styleRows()
{
	for (const auto &[jc, name] : {std::pair{"center", "center"}, {"end", "right"}, {"both", "justify"}, {"distribute", "left"}})
		// The paragraph's own value wins over its centred style; tab stops add no text.
		fits(qPrintable(QStringLiteral("jc %1").arg(jc)),
		     parts(paragraph("x", val("pStyle", "C") + R"(<w:tabs><w:tab w:val="left" w:pos="720"/></w:tabs>)" + val("jc", jc)),
			   stylesXml(style("C", "<w:pPr>" + val("jc", "center") + "</w:pPr>"))),
		     {"x"}, {QStringLiteral("0||align|") + name});

	const QByteArray styles = stylesXml(
		R"(<w:docDefaults><w:rPrDefault><w:rPr><w:rFonts w:ascii="Liberation Serif"/><w:sz w:val="24"/></w:rPr></w:rPrDefault></w:docDefaults>)" +
		style("Normal", "<w:rPr>" + val("color", "333333") + "</w:rPr>") +
		style("Base", val("basedOn", "Normal") + "<w:pPr>" + val("jc", "center") + "</w:pPr><w:rPr>" + val("sz", "28") + "</w:rPr>") +
		style("Cue", val("basedOn", "Base") + "<w:rPr><w:b/></w:rPr>") +
		style("Stage", val("basedOn", "Emph") + "<w:rPr>" + val("color", "008000") + "</w:rPr>", "character") +
		style("Emph", "<w:rPr><w:i/></w:rPr>", "character") + style("Self", val("basedOn", "Self") + "<w:rPr><w:strike/></w:rPr>") +
		style("LoopA", val("basedOn", "LoopB") + "<w:rPr><w:i/></w:rPr>") + style("LoopB", val("basedOn", "LoopA") + "<w:rPr><w:b/></w:rPr>"));
	fits("style inheritance",
	     parts(paragraph("cue", val("pStyle", "Cue")) + paragraph("plain") + "<w:p><w:r><w:t>say </w:t></w:r><w:r><w:rPr>" +
			   val("rStyle", "Stage") + val("sz", "20") + "</w:rPr><w:t>quietly</w:t></w:r></w:p>" +
			   paragraph("self", val("pStyle", "Self")) + paragraph("loop", val("pStyle", "LoopA")) +
			   paragraph("unknown", val("pStyle", "Nowhere")),
		   styles),
	     {"cue", "plain", "say quietly", "self", "loop", "unknown"},
	     {// Three generations: defaults, Normal, Base, Cue.
	      "0|cue|weight|700", "0|cue|size|14", "0|cue|color|#333333", "0|cue|family|Liberation Serif", "0||align|center",
	      // A paragraph without properties is a Normal paragraph.
	      "1|plain|size|12", "1|plain|weight|400",
	      // A character style with its own ancestor, under the run's direct size.
	      "2|quietly|italic|yes", "2|quietly|color|#008000", "2|quietly|size|10", "2|say|italic|no",
	      // Chains that loop end at the depth bound and still keep what they set.
	      "3|self|strike|yes", "4|loop|italic|yes", "4|loop|weight|700", "5|unknown|size|12"});

	// Only the nearest 17 styles of a chain count: from S0 the bold S17 is too far, from S1 not.
	QByteArray chain;
	for (int i = 0; i < 30; ++i)
		chain += style("S" + num(i), val("basedOn", "S" + num(i + 1)) + "<w:rPr>" +
						     (i == 16 ? "<w:i/>" : i == 17 ? "<w:b/>" : i == 29 ? "<w:strike/>" : "") + "</w:rPr>");
	fits("style chain of 30", parts(paragraph("deep", val("pStyle", "S0")) + paragraph("less", val("pStyle", "S1")), stylesXml(chain)),
	     {"deep", "less"}, {"0|deep|italic|yes", "0|deep|weight|400", "0|deep|strike|no", "1|less|weight|700"});

	// The style marked as default serves paragraphs that name none, whatever its id.
	fits("default paragraph style",
	     parts(paragraph("bare") + paragraph("empty pPr", R"(<w:ind w:left="10"/>)") + paragraph("named", val("pStyle", "Normal")),
		   stylesXml(R"(<w:style w:type="paragraph" w:default="1" w:styleId="Standard"><w:pPr>)" + val("jc", "right") + "</w:pPr><w:rPr>" +
			     val("sz", "30") + "</w:rPr></w:style>" + style("Normal", "<w:rPr>" + val("sz", "40") + "</w:rPr>"))),
	     {"bare", "empty pPr", "named"}, {"0|bare|size|15", "1|empty|size|15", "2|named|size|20", "0||align|right", "2||align|left"});

	// The paragraph mark's run properties format an empty paragraph, never the runs.
	const QByteArray mark = "<w:pPr><w:rPr><w:b/>" + val("sz", "40") + "</w:rPr></w:pPr>";
	fits("paragraph mark", parts("<w:p>" + mark + "<w:r><w:t>plain run</w:t></w:r></w:p><w:p>" + mark + "</w:p>" + paragraph("after")),
	     {"plain run", "", "after"}, {"0|plain|weight|400", "1||mark weight|700", "1||mark size|20", "2|after|weight|400"});
}

void listRows()
{
	const QByteArray numbering = numberingXml(
		abstractNum(1, level(0, "decimal") + level(1, "lowerLetter") + level(2, "upperRoman")) + abstractNum(2, level(0, "bullet") + level(1, "bullet")) +
		abstractNum(3, level(0, "decimal", 4)) + abstractNum(4, level(0, "none")) + abstractNum(5, level(0, "upperLetter")) +
		abstractNum(6, level(0, "decimal") + level(1, "lowerLetter") + level(2, "none")) + numInstance(3, 1) + numInstance(5, 2) +
		numInstance(6, 3) + numInstance(7, 4) + numInstance(8, 5, startOverride(0, 7)) + numInstance(9, 42) + numInstance(10, 6));
	const QByteArray styles = stylesXml(style("Bullets", "<w:pPr>" + numPr(5) + "</w:pPr>") +
					    style("Heading1", "<w:pPr>" + numPr(7) + "</w:pPr><w:rPr><w:b/></w:rPr>"));
	// Numbering continues over the plain paragraph; a level that shows no number is no list; a
	// level starts over after an item above it.
	fits("lists",
	     parts(item("one", 3) + item("one a", 3, 1) + item("one a i", 3, 2) + paragraph("between") + item("two", 3) + item("two a", 3, 1) +
			   paragraph("dot", val("pStyle", "Bullets")) + paragraph("not a list", val("pStyle", "Bullets") + numPr(0)) +
			   item("zero", 0) + item("four", 6) + item("five", 6) + paragraph("Heading", val("pStyle", "Heading1")) + item("G", 8) +
			   item("unknown", 9) + item("dot 2", 5, 1) + item("huge level", 3, 99999999),
		   styles, numbering),
	     {"[decimal 1 #0 1] one", "[a 2 #1 1] one a", "[I 3 #2 1] one a i", "between", "[decimal 1 #0 2] two", "[a 2 #3 1] two a",
	      "[disc 1 #4 1] dot", "not a list", "zero", "[decimal 1 #5 4] four", "[decimal 1 #5 5] five", "Heading", "[A 1 #6 7] G",
	      "[decimal 1 #7 1] unknown", "[disc 2 #8 1] dot 2", "[decimal 9 #9 1] huge level"},
	     // The style of the level that shows no number still formats its paragraph.
	     {"11|Heading|weight|700"});
	// The three ways lists that interleave used to come back wrong from the stored note.
	fits("level without number before a deeper list",
	     parts(item("one", 10) + item("one a", 10, 1) + item("unnumbered", 10, 2) + item("deep", 5, 1) + item("one b", 10, 1) +
			   item("two", 10) + item("three", 10),
		   {}, numbering),
	     {"[decimal 1 #0 1] one", "[a 2 #1 1] one a", "unnumbered", "[disc 2 #2 1] deep", "[a 2 #3 2] one b", "[decimal 1 #0 2] two",
	      "[decimal 1 #0 3] three"});
	fits("top-level item inside a deeper list",
	     parts(item("one", 6) + item("dot", 5, 1) + item("two", 6) + item("dot", 5, 1) + item("three", 6), {}, numbering),
	     {"[decimal 1 #0 4] one", "[disc 2 #1 1] dot", "[decimal 1 #0 5] two", "[disc 2 #2 1] dot", "[decimal 1 #0 6] three"});
	fits("list item with a bold red mark",
	     parts(paragraph("item", numPr(3) + "<w:rPr><w:b/>" + val("color", "FF0000") + "</w:rPr>") + item("next", 3, 1), {}, numbering),
	     {"[decimal 1 #0 1] item", "[a 2 #1 1] next"}, {"0|item|weight|400", "0|item|color|none", "1|next|color|none"});
	// A second pPr decides the paragraph's list.
	fits("second pPr", parts("<w:p><w:pPr>" + numPr(3) + "</w:pPr><w:pPr/><w:r><w:t>x</w:t></w:r></w:p>" + item("y", 3) + item("z", 3), {}, numbering),
	     {"x", "[decimal 1 #0 1] y", "[decimal 1 #0 2] z"});
	// Broken styles or numbering (without a DTD) keep what came before the fault.
	fits("broken side parts",
	     parts(paragraph("x", val("pStyle", "B") + numPr(2)), stylesXml(style("B", "<w:rPr><w:b/></w:rPr>")).chopped(5),
		   numberingXml(abstractNum(1, level(0, "bullet")) + numInstance(2, 1)) + "<oops>"),
	     {"[disc 1 #0 1] x"}, {"0|x|weight|700"});
}

void bodyRows()
{
	const auto body = [](const QByteArray &inner) {
		return parts(inner, stylesXml(style("Hidden", "<w:rPr><w:vanish/></w:rPr>")));
	};
	const auto runs = [](const QByteArray &inner) { return "<w:p>" + inner + "</w:p>"; };
	fits("empty only paragraph", body("<w:p/>"), {""});
	fits("no paragraph", body({}), {""});
	fits("tab and breaks", body(runs("<w:r><w:t>a</w:t><w:tab/><w:t>b</w:t><w:br/><w:t>c</w:t><w:cr/><w:t>d</w:t></w:r>")),
	     {QStringLiteral("a\tb\u2028c\u2028d")});
	fits("tracked changes",
	     body(runs(R"(<w:r><w:t>kept </w:t></w:r><w:ins w:id="1"><w:r><w:t>added </w:t></w:r></w:ins>)"
		       R"(<w:del w:id="2"><w:r><w:delText>gone </w:delText><w:t>gone too </w:t></w:r></w:del>)"
		       R"(<w:moveFrom w:id="3"><w:r><w:t>moved away </w:t></w:r></w:moveFrom>)"
		       R"(<w:moveTo w:id="4"><w:r><w:t>moved here</w:t></w:r></w:moveTo>)") +
		  R"(<w:del w:id="5"><w:p><w:r><w:t>x</w:t></w:r></w:p></w:del>)"),
	     {"kept added moved here"});
	fits("hyperlink, field and content control",
	     body(runs(R"(<w:hyperlink><w:r><w:t>link</w:t></w:r></w:hyperlink>)"
		       R"(<w:r><w:fldChar w:fldCharType="begin"/></w:r><w:r><w:instrText> PAGE </w:instrText></w:r>)"
		       R"(<w:r><w:fldChar w:fldCharType="separate"/></w:r><w:r><w:t> 7</w:t></w:r><w:r><w:fldChar w:fldCharType="end"/></w:r>)"
		       R"(<w:sdt><w:sdtPr><w:alias w:val="x"/></w:sdtPr><w:sdtContent><w:r><w:t> control</w:t></w:r></w:sdtContent></w:sdt>)")),
	     {"link 7 control"});
	fits("picture", body(runs(R"(<w:r><w:t>see</w:t></w:r><w:r><w:drawing><wp:inline xmlns:wp="urn:x"><w:t>alt</w:t></wp:inline></w:drawing></w:r>)")),
	     {"see"}, {}, true);
	fits("vml picture", body(runs("<w:r><w:pict><w:txbxContent><w:p><w:r><w:t>box</w:t></w:r></w:p></w:txbxContent></w:pict><w:t>after</w:t></w:r>")),
	     {"after"}, {}, true);
	fits("object", body(runs("<w:r><w:object><w:t>ole</w:t></w:object><w:t>text</w:t></w:r>")), {"text"}, {}, true);
	fits("table",
	     body("<w:tbl><w:tr><w:tc><w:p><w:r><w:t>a1</w:t></w:r></w:p></w:tc><w:tc><w:p><w:r><w:t>b1</w:t></w:r></w:p></w:tc></w:tr></w:tbl>" +
		  paragraph("after")),
	     {"a1", "b1", "after"}, {}, true);
	for (const char *note : {"footnote", "endnote"})
		fits(qPrintable(QStringLiteral("%1 reference").arg(note)),
		     body(runs("<w:r><w:t>claim</w:t></w:r><w:r><w:" + QByteArray(note) + R"(Reference w:id="1"/></w:r>)")), {"claim"}, {}, true);
	fits("hidden text",
	     body(runs("<w:r><w:t>say </w:t></w:r><w:r><w:rPr><w:vanish/></w:rPr><w:t>SECRET</w:t><w:tab/><w:br/></w:r>"
		       "<w:r><w:rPr>" + val("vanish", "0") + "</w:rPr><w:t>this</w:t></w:r>") +
		  runs("<w:pPr>" + val("pStyle", "Hidden") + "</w:pPr><w:r><w:t>ghost</w:t></w:r><w:r><w:rPr>" + val("vanish", "false") +
		       "</w:rPr><w:t>shown</w:t></w:r>")),
	     {"say this", "shown"});
	const QByteArray choice = R"(<w:r><w:t>a</w:t></w:r><mc:AlternateContent><mc:Choice Requires="w14"><w:r><w:t>NEW</w:t></w:r></mc:Choice>)";
	fits("alternatives take the fallback", body(runs(choice + "<mc:Fallback><w:r><w:t>b</w:t></w:r></mc:Fallback></mc:AlternateContent>")), {"ab"});
	fits("alternative without fallback", body(runs(choice + "</mc:AlternateContent>")), {"a"}, {}, true);
	fits("text outside paragraphs", body("<w:r><w:t>stray</w:t></w:r>" + paragraph("in") + "<w:r><w:t>late</w:t><w:tab/></w:r>"), {"in"});
	fits("line ends inside text stay in the paragraph", body(paragraph("a&#10;b&#13;c\xe2\x80\xa9" "d\xef\xb7\x90")), {QStringLiteral("a b c d\ufffd")});
	fits("namespace prefix does not matter", body(R"(<x:p xmlns:x="urn:other"><x:r><x:t>odd</x:t></x:r></x:p>)"), {"odd"});
	// Text long enough to be read in pieces comes in whole: never cut inside a character, a line
	// end or the end of a CDATA section, which the first piece ends next to here.
	const auto e = [](int n) { return QString(n, QChar(0x00e9)); };
	fits("long text, a character at the cut", body(paragraph("a" + e(9999).toUtf8())), {"a" + e(9999)});
	fits("long text, a line end at the cut", body(paragraph("a" + e(8191).toUtf8() + "\r\n" + e(1807).toUtf8())), {"a" + e(8191) + " " + e(1807)});
	const QString euros(5461, QChar(0x20ac));
	fits("long text in CDATA", body(paragraph("<![CDATA[" + euros.toUtf8() + "]]]]><![CDATA[>]]>")), {euros + "]]>"});
	fits("paragraphs nested in paragraphs", body("<w:p><w:r><w:t>a</w:t><w:p><w:r><w:r><w:t>b</w:t></w:r></w:r></w:p><w:t>c</w:t></w:r></w:p>"), {"a", "b"});
	// Only elements left open nest: none of these may count towards the limit.
	fits("markup that does not nest",
	     body(QByteArray(R"(<w:p><!-- <a> <b> --><?pi <c> ?><w:bookmarkStart w:name='x>y' w:id="a/>b>"/><w:r><w:t><![CDATA[<d>]]></w:t></w:r></w:p>)")
			  .repeated(1000)),
	     QStringList(1000, QStringLiteral("<d>")));
	fits("nested 500 deep", body("<w:p><w:r>" + QByteArray("<w:sdt>").repeated(500) + "<w:t>deep</w:t>" + QByteArray("</w:sdt>").repeated(500) + "</w:r></w:p>"),
	     {"deep"});
}

void limitRows()
{
	const auto limited = [](const char *name, const QByteArray &body) { row(name, parts(body), text("TextLimit")); };
	const QByteArray full(10000, 'x');
	const QByteArray run = "<w:p><w:r><w:t>" + full + "</w:t>";
	fits("paragraph of 10000", parts(paragraph(full)), {full});
	limited("paragraph of 10001 in one text", paragraph(full + "y"));
	limited("paragraph of 10001 in two texts", run + "<w:t>y</w:t></w:r></w:p>");
	limited("tab after 10000", run + "<w:tab/></w:r></w:p>");
	limited("break after 10000 and more", run + "<w:br/><w:t>z</w:t></w:r></w:p>");
	fits("hidden text does not count", parts(run + "</w:r><w:r><w:rPr><w:vanish/></w:rPr><w:t>more</w:t></w:r></w:p>"), {full});
	// Refused at the paragraph limit, before the text is read whole.
	limited("text node of 20 MiB", paragraph(QByteArray(20 << 20, 'x')));
	limited("text node just under the part limit", paragraph(QByteArray(kWordMaxPartSize - documentXml(paragraph({})).size() - 1, 'x')));
	fits("20000 paragraphs", parts(QByteArray("<w:p/>").repeated(20000)), QStringList(20000, QString()));
	limited("20001 paragraphs", QByteArray("<w:p/>").repeated(20001));
	// 20 paragraphs of 10000 and their 19 separators: 200019 characters.
	limited("200019 characters", paragraph(full).repeated(20));
	fits("200000 characters", parts(paragraph(full).repeated(19) + paragraph(QByteArray(10000 - 19, 'x'))),
	     QStringList(19, QString(full)) << QString(10000 - 19, QLatin1Char('x')));
}

void brokenRows()
{
	const auto broken = [](const char *name, const ZipFileList &files, const QString &error) { row(name, files, error); };
	broken("unclosed", {{"word/document.xml", documentXml(paragraph("x")).chopped(10)}}, xmlError());
	broken("mismatched tags", parts("<w:p><w:r></w:p></w:r>"), xmlError());
	broken("undeclared entity", parts(paragraph("&nope;")), xmlError());
	broken("not xml", {{"word/document.xml", "PK\x03\x04 binary"}}, xmlError());
	for (const int depth : {100000, 1000000}) {
		broken(qPrintable(QStringLiteral("%1 open elements").arg(depth)), parts("<w:p><w:r>" + QByteArray("<w:sdt>").repeated(depth)),
		       xmlError("WordNestingRefused"));
		broken(qPrintable(QStringLiteral("%1 closed elements in a deleted run").arg(depth)),
		       parts("<w:p><w:del>" + QByteArray("<a>").repeated(depth) + QByteArray("</a>").repeated(depth) + "</w:del></w:p>"),
		       xmlError("WordNestingRefused"));
	}
	broken("deep styles", parts(paragraph("x"), stylesXml(style("S", QByteArray("<x>").repeated(100000)))), xmlError("WordNestingRefused"));
	broken("attribute of 2 MiB", parts(R"(<w:p w:x=")" + QByteArray(2 << 20, 'a') + R"("/>)"), xmlError("WordMarkupRefused"));
	broken("comment of 2 MiB", parts("<!--" + QByteArray(2 << 20, 'c') + "-->"), xmlError("WordMarkupRefused"));
	QByteArray laughs = "<?xml version=\"1.0\"?><!DOCTYPE w:document [<!ENTITY a \"" + QByteArray(52, 'a') + "\">";
	for (const char *e : {"b", "c", "d"})
		laughs += "<!ENTITY " + QByteArray(e) + " \"" + ("&" + QByteArray(1, char(e[0] - 1)) + ";").repeated(20) + "\">";
	laughs += "]>";
	broken("billion laughs", {{"word/document.xml", laughs + "<w:document " + kNamespaces + "><w:body>" + paragraph(QByteArray("&d;").repeated(2000)) + "</w:body></w:document>"}},
	       xmlError("WordDtdRefused"));
	broken("DTD in styles", parts(paragraph("x"), laughs + stylesXml({})), xmlError("WordDtdRefused"));
	broken("DTD in numbering", parts(paragraph("x"), {}, "<!DOCTYPE x>" + numberingXml({})), xmlError("WordDtdRefused"));
}

void packageRows()
{
	const auto file = [](const char *name, const char *error, const QByteArray &raw, qint64 size) { row(name, {}, text(error), {}, false, {}, {}, raw, size); };
	file("missing", "WordSizeError", {}, -1);
	file("directory", "WordSizeError", {}, kDirectory);
	// A FIFO has no end: opening it must neither block nor read from it.
	file("named pipe", "WordSizeError", {}, kFifo);
	file("101 MiB", "WordSizeError", {}, kWordMaxFileSize + (1 << 20));
	file("exactly 100 MiB, not a zip", "WordOpenError", {}, kWordMaxFileSize);
	file("empty file", "WordOpenError", {}, 0);
	file("text file", "WordOpenError", "Just some words, not a package.\n", -1);
	ziptest::Item damaged = ziptest::deflated("word/document.xml", documentXml(paragraph("x")));
	damaged.crc ^= 0x5a5a;
	file("damaged document part", "WordBodyError", ziptest::Archive{{damaged}}.build(), -1);
	const QByteArray types = R"(<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>)";
	row("zip without document", {{"[Content_Types].xml", types}, {"word/styles.xml", "<w:styles/>"}}, text("WordBodyError"));
	row("empty document part", {{"[Content_Types].xml", types}, {"word/document.xml", {}}}, text("WordBodyError"));
	row("document part over 24 MiB", parts(QByteArray(kWordMaxPartSize, ' ') + paragraph("x")), text("WordBodyError"));
	row("two parts of one name", {{"word/document.xml", documentXml("")}, {"Word/Document.xml", documentXml("")}}, text("WordOpenError"));
	row("document only as a folder", {{"word/document.xml/", {}}, {"[Content_Types].xml", types}}, text("WordBodyError"));
	// Parts are matched like package part names; a styles part over 24 MiB counts as missing;
	// media larger than any part may be do not spoil the package.
	const QByteArray bold = stylesXml(R"(<w:style w:type="paragraph" w:default="1" w:styleId="Normal"><w:rPr><w:b/></w:rPr></w:style>)");
	fits("names of other case", {{"WORD/Styles.XML", bold}, {"Word/Document.xml", documentXml(paragraph("cased"))}}, {"cased"}, {"0|cased|weight|700"});
	fits("styles over 24 MiB", parts(paragraph("plain"), QByteArray(kWordMaxPartSize, ' ') + bold), {"plain"}, {"0|plain|weight|400"});
	fits("media over 24 MiB", parts(paragraph("media")) << ZipFileList{{"word/media/video.bin", QByteArray(65 << 20, '\0')}}, {"media"});
}

// python-docx and LibreOffice both write a line that gives each word one format.
QStringList wordPerFormat(int n, const char *mono)
{
	QStringList out;
	for (const char *check : {"bold|weight|700", "bold|italic|no", "italic|italic|yes", "under|underline|single", "strike|strike|yes",
				  "small|size|10.5", "red|color|#ff0000"})
		out << QString::number(n) + QLatin1Char('|') + QLatin1String(check);
	return out << QStringLiteral("%1|mono|family|%2").arg(n).arg(mono);
}

void fixtureRows()
{
	const auto fixture = [](const char *name, const QStringList &paragraphs, const QStringList &checks) {
		row(name, {}, {}, paragraphs, true, checks, QLatin1String(name));
	};
	// A table and a picture were dropped. List Bullet and List Bullet 2 are two lists; List Number
	// carries on over the plain paragraph.
	fixture("python_docx.docx",
		{"Plain paragraph.", "Cue line not bold", "bold italic under strike small mono red quietly",
		 "yellow green cyan magenta blue red darkYellow lightGray", "E=mc2 H2O", QStringLiteral("a\tb\u2028c"), "visible end",
		 "[disc 1 #0 1] apple", "[disc 1 #1 1] apple pie", "[disc 1 #0 2] banana", "[decimal 1 #2 1] one", "[decimal 1 #2 2] two",
		 "interruption", "[decimal 1 #2 3] three", "cell one", "cell two", "Picture:", "Right", "Justified", ""},
		QStringList{// The document defaults give 11 pt; Script Cue is bold and based on Script Base
			    // (14 pt, #112233, centred), itself on Normal.
			    "0|Plain|size|11", "1|Cue|weight|700", "1|Cue|size|14", "1|Cue|color|#112233", "1|not bold|weight|400",
			    "2|quietly|italic|yes", "2|quietly|color|#008000", "3|green|background|#00ff00", "3|darkYellow|background|#808000", "3|lightGray|background|#c0c0c0",
			    "4|O|vertical|normal",
			    "4|2|vertical|super", "4|2O|vertical|sub", "0||align|left", "1||align|center", "17||align|right", "18||align|justify"} +
			wordPerFormat(2, "Courier New"));
	// Footnote reference, table and picture were dropped.
	fixture("pandoc.docx",
		{"Opening", "Intro with bold, italic, struck, H2O and x2, and a link.", "[disc 1 #0 1] first bullet", "[disc 2 #1 1] nested bullet",
		 "[disc 1 #0 2] second bullet", "[decimal 1 #2 3] three", "[decimal 1 #2 4] four", "Between lists.", "A", "B", "1", "2", "", "pic"},
		{"0|Opening|weight|700", "0|Opening|size|16", "0|Opening|color|#4f81bd", "1|Intro|size|12", "1|bold|weight|700", "1|struck|strike|yes",
		 "1|2O|vertical|sub", "1|2,|vertical|super", "1|link|color|#4f81bd"});
	// LibreOffice ties its headings to an outline level that shows no number; its defaults name a
	// CJK font in the East Asian slot, and Latin text keeps the Latin font. The numbered list
	// starts at 4 and carries on after the interruption; fields show their result, not their
	// instruction; the last paragraph but one is an empty one of 20 pt.
	fixture("libreoffice.docx",
		{"Opening", "Cue line", "Say quietly now", "bold italic under strike small mono red marked shaded", "E=mc2 and H2O",
		 QStringLiteral("a\tb\u2028c"), "See the site on page 1.", "Kept added text", "[decimal 1 #0 4] four", "[decimal 1 #0 5] five",
		 "[a 2 #1 1] five a", "Interruption", "[decimal 1 #0 6] six", "[disc 1 #2 1] dot", "[disc 2 #3 1] circle", "Right", "Justified",
		 "cell one", "cell two", "Picture:", "Loud calm", "", ""},
		QStringList{"0|Opening|weight|700", "0|Opening|size|18", "1|Cue|weight|700", "2|Say|family|Liberation Serif", "2|quietly|italic|yes",
			    "2|now|italic|no", "2|quietly|color|#008000", "3|marked|background|#ffff00", "3|shaded|background|#99ccff", "4|2 and|vertical|super",
			    "6|the site|color|#000080", "20|Loud|weight|700", "20|calm|weight|400", "21||mark size|20", "1||align|center",
			    "15||align|right", "16||align|justify"} +
			wordPerFormat(3, "Liberation Mono"));
}

// Word's numbering of one paragraph, kept apart from the import's own: which list it belongs to
// and its number, for random definitions and sequences.
struct ListModel {
	static constexpr const char *kFormats[] = {"decimal", "lowerLetter", "upperLetter", "lowerRoman", "upperRoman", "bullet", "none"};
	static constexpr QTextListFormat::Style kStyles[] = {QTextListFormat::ListDecimal,    QTextListFormat::ListLowerAlpha,
							     QTextListFormat::ListUpperAlpha, QTextListFormat::ListLowerRoman,
							     QTextListFormat::ListUpperRoman, QTextListFormat::ListDisc};
	int format[4][3];
	int start[4][3];
	int count[4][3] = {};
	int epoch[4][3] = {};
};

} // namespace

class TestWord : public QObject {
	Q_OBJECT

	QTemporaryDir m_dir;

private Q_SLOTS:
	void initTestCase() { QVERIFY(m_dir.isValid()); }

	void import_data()
	{
		QTest::addColumn<QString>("fixture");
		QTest::addColumn<ZipFileList>("parts");  // a package of these parts
		QTest::addColumn<QByteArray>("raw");     // else a file of these bytes
		QTest::addColumn<qint64>("size");        // of this size, if not negative; or of another kind
		QTest::addColumn<QString>("error");
		QTest::addColumn<QStringList>("paragraphs");
		QTest::addColumn<bool>("simplified");
		QTest::addColumn<QStringList>("checks");
		runPropertyRows();
		styleRows();
		listRows();
		bodyRows();
		limitRows();
		brokenRows();
		packageRows();
		fixtureRows();
	}

	void import()
	{
		QFETCH(QString, fixture);
		QFETCH(ZipFileList, parts);
		QFETCH(QByteArray, raw);
		QFETCH(qint64, size);
		QFETCH(QString, error);
		QFETCH(QStringList, paragraphs);
		QFETCH(bool, simplified);
		QFETCH(QStringList, checks);
		const QString path = fixture.isEmpty() ? m_dir.filePath(QLatin1String(QTest::currentDataTag()) + QStringLiteral(".docx"))
						       : QStringLiteral(QUILLMAR_SOURCE_DIR "/tests/data/docx/") + fixture;
		const QByteArray native = QFile::encodeName(path);
		QString writeError;
		if (!parts.isEmpty()) {
			QVERIFY2(writeZip(path, parts, writeError), qPrintable(writeError));
		} else if (size == kDirectory) {
			QVERIFY(QDir(m_dir.path()).mkpath(path));
		} else if (size == kFifo) {
#ifdef Q_OS_UNIX
			QCOMPARE(::mkfifo(native.constData(), 0600), 0);
#else
			QSKIP("no named pipes here");
#endif
		} else if (!raw.isEmpty() || size >= 0) {
			QFile f(path);
			QVERIFY(f.open(QIODevice::WriteOnly));
			QCOMPARE(f.write(raw), raw.size());
			QVERIFY(size < 0 || f.resize(size));
		}
		auto import = std::async(std::launch::async, [path] { return importWordDocument(path); });
		if (import.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
#ifdef Q_OS_UNIX
			// Release a reader blocked on the pipe so that the test can end.
			if (const int fd = ::open(native.constData(), O_WRONLY | O_NONBLOCK); fd >= 0)
				::close(fd);
#endif
			import.wait();
			QFAIL("the import blocked");
		}
		const Note note(import.get());
		if (!error.isEmpty()) {
			QVERIFY2(note.result.error.startsWith(error), qPrintable(note.result.error));
			QVERIFY(error != xmlError() || note.result.error.size() > error.size());
			QVERIFY(note.result.html.isEmpty());
			QVERIFY(!note.result.simplified);
			return;
		}
		QVERIFY2(note.result.error.isEmpty(), qPrintable(note.result.error));
		QCOMPARE(note.paragraphs(), paragraphs);
		QCOMPARE(note.result.simplified, simplified);
		for (const QString &check : checks)
			QVERIFY2(note.check(check).isEmpty(), qPrintable(note.check(check)));
		// Hidden text, field instructions and deleted text never come in.
		for (const char *absent : {"SECRET", "PAGE", "REMOVED"})
			QVERIFY2(!note.result.html.contains(QLatin1String(absent)), absent);
	}

	// Random numbering definitions and paragraphs over several numIds and levels: every item is
	// in the list it should be with the number it should have, and no mark format reaches text.
	void listsReadBack()
	{
		QRandomGenerator random(18);
		for (int round = 0; round < 300; ++round) {
			ListModel model;
			QByteArray numbering;
			for (int n = 0; n < 4; ++n) {
				QByteArray levels, overrides;
				for (int l = 0; l < 3; ++l) {
					model.format[n][l] = int(random.bounded(7));
					model.start[n][l] = int(random.bounded(1, 4));
					levels += level(l, ListModel::kFormats[model.format[n][l]], model.start[n][l]);
					if (random.bounded(4) == 0) {
						model.start[n][l] = int(random.bounded(1, 9));
						overrides += startOverride(l, model.start[n][l]);
					}
				}
				numbering += abstractNum(n, levels) + numInstance(n + 1, n, overrides);
			}
			QByteArray body;
			// Per paragraph: its list as numId, level and epoch, or -1; and its number.
			QList<std::array<int, 4>> expected;
			const std::array<int, 4> none{-1, 0, 0, 0};
			const int length = int(random.bounded(4, 24));
			for (int p = 0; p < length; ++p) {
				const QByteArray text = "p" + num(p);
				if (random.bounded(5) == 0) {
					body += paragraph(text);
					expected.append(none);
					continue;
				}
				const int n = int(random.bounded(4)), l = int(random.bounded(3));
				body += paragraph(text, numPr(n + 1, l) + "<w:rPr><w:b/></w:rPr>");
				for (int deeper = l + 1; deeper < 3; ++deeper) {
					model.count[n][deeper] = 0;
					++model.epoch[n][deeper];
				}
				if (model.format[n][l] == 6) {
					expected.append(none);
					continue;
				}
				expected.append(std::array<int, 4>{n * 3 + l, model.epoch[n][l], model.start[n][l] + model.count[n][l]++, p});
			}
			const Note note(importWordXml(documentXml(body), {}, numberingXml(numbering)));
			QVERIFY2(note.result.error.isEmpty(), qPrintable(note.result.error));
			QCOMPARE(note.document.blockCount(), length);
			QHash<QTextList *, std::pair<int, int>> listOf;
			for (int p = 0; p < length; ++p) {
				const QTextBlock block = note.document.findBlockByNumber(p);
				QTextList *list = block.textList();
				const auto &e = expected[p];
				const QString where = QStringLiteral("round %1, paragraph %2 of %3").arg(round).arg(p).arg(note.paragraphs().join(" / "));
				QVERIFY2(note.check(QStringLiteral("%1|p%1|weight|400").arg(p)).isEmpty(), qPrintable(where));
				QVERIFY2(bool(list) == (e[0] >= 0), qPrintable(where));
				if (!list)
					continue;
				const int n = e[0] / 3, l = e[0] % 3;
				QVERIFY2(list->format().style() == ListModel::kStyles[model.format[n][l]], qPrintable(where));
				QVERIFY2(list->format().indent() == l + 1, qPrintable(where));
				// Bullets show no number, and their HTML keeps none.
				QVERIFY2(list->format().style() == QTextListFormat::ListDisc ||
						 listStartOf(list->format()) + list->itemNumber(block) == e[2],
					 qPrintable(where));
				const auto logical = std::pair(e[0], e[1]);
				QVERIFY2(listOf.value(list, logical) == logical, qPrintable(where));
				listOf.insert(list, logical);
			}
		}
	}

	// Every key the import reports has an English text.
	void localeKeys()
	{
		QFile file(QStringLiteral(QUILLMAR_SOURCE_DIR "/data/locale/en-US.ini"));
		QVERIFY(file.open(QIODevice::ReadOnly));
		const QByteArray ini = file.readAll();
		for (const char *key : {"TextLimit", "WordSizeError", "WordOpenError", "WordBodyError", "WordXmlError", "WordDtdRefused",
					"WordNestingRefused", "WordMarkupRefused"})
			QVERIFY2(ini.contains("\n" + QByteArray(key) + "=\""), key);
	}
};

QTEST_MAIN(TestWord)
#include "tst_word.moc"
