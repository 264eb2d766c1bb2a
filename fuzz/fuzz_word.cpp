// Feeds arbitrary bytes as document.xml to the Word import, with fixed styles and numbering that
// exercise inheritance, character styles, hidden text and every kind of list level. Besides the
// sanitizers, it checks that every result is either a clean failure or a note within the limits.

#include "documents/word_import.h"
#include "editor/note_limits.h"

#include <QGuiApplication>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace quillmar;

namespace {

void require(bool condition)
{
	if (!condition)
		__builtin_trap();
}

const QByteArray kStyles = R"(<w:styles xmlns:w="w">
<w:docDefaults><w:rPrDefault><w:rPr><w:rFonts w:ascii="Serif"/><w:sz w:val="24"/></w:rPr></w:rPrDefault></w:docDefaults>
<w:style w:type="paragraph" w:default="1" w:styleId="Normal"><w:rPr><w:color w:val="333333"/></w:rPr></w:style>
<w:style w:type="paragraph" w:styleId="H"><w:basedOn w:val="Normal"/><w:pPr><w:jc w:val="center"/><w:numPr><w:numId w:val="4"/></w:numPr></w:pPr><w:rPr><w:b/><w:sz w:val="36"/></w:rPr></w:style>
<w:style w:type="paragraph" w:styleId="L"><w:basedOn w:val="H"/><w:pPr><w:numPr><w:ilvl w:val="1"/><w:numId w:val="1"/></w:numPr></w:pPr></w:style>
<w:style w:type="paragraph" w:styleId="Loop"><w:basedOn w:val="Loop"/><w:rPr><w:i/></w:rPr></w:style>
<w:style w:type="paragraph" w:styleId="X"><w:pPr><w:rPr><w:vanish/></w:rPr></w:pPr><w:rPr><w:vanish/></w:rPr></w:style>
<w:style w:type="character" w:styleId="C"><w:basedOn w:val="D"/><w:rPr><w:highlight w:val="green"/></w:rPr></w:style>
<w:style w:type="character" w:styleId="D"><w:rPr><w:vertAlign w:val="superscript"/><w:u w:val="double"/></w:rPr></w:style>
</w:styles>)";

const QByteArray kNumbering = R"(<w:numbering xmlns:w="w">
<w:abstractNum w:abstractNumId="0"><w:lvl w:ilvl="0"><w:start w:val="3"/><w:numFmt w:val="decimal"/></w:lvl>
<w:lvl w:ilvl="1"><w:numFmt w:val="bullet"/></w:lvl><w:lvl w:ilvl="2"><w:numFmt w:val="lowerRoman"/></w:lvl>
<w:lvl w:ilvl="8"><w:numFmt w:val="upperLetter"/></w:lvl></w:abstractNum>
<w:abstractNum w:abstractNumId="1"><w:lvl w:ilvl="0"><w:numFmt w:val="none"/></w:lvl></w:abstractNum>
<w:num w:numId="1"><w:abstractNumId w:val="0"/></w:num>
<w:num w:numId="2"><w:abstractNumId w:val="0"/><w:lvlOverride w:ilvl="0"><w:startOverride w:val="9"/></w:lvlOverride></w:num>
<w:num w:numId="3"><w:abstractNumId w:val="7"/></w:num>
<w:num w:numId="4"><w:abstractNumId w:val="1"/></w:num>
</w:numbering>)";

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
	// Writing HTML needs fonts, and fonts need a GUI application; no display is involved.
	qputenv("QT_QPA_PLATFORM", "offscreen");
	static QGuiApplication app(*argc, *argv);
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const QByteArray document = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
	const WordImportResult result = importWordXml(document, kStyles, kNumbering);
	if (!result.error.isEmpty()) {
		require(result.html.isEmpty());
		require(!result.simplified);
		return 0;
	}
	require(!result.html.isEmpty());
	require(fitsNoteLimits(result.html));
	return 0;
}
