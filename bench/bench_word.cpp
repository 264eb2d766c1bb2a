// Word import speed against two converters of the same files: pandoc (docx to HTML) and
// LibreOffice (headless conversion to HTML, reported with and without its start-up).
// Documents of about 10000, 100000 and 200000 characters: paragraphs of about 100 characters with
// bold, italic, coloured and sized runs, bulleted and numbered lists, a table in the largest.
// Aim on the largest: at least 10 times faster than pandoc and 3 times faster than LibreOffice's
// conversion without its start-up. An optional argument names a folder that keeps the documents.

#include "documents/word_import.h"
#include "documents/zip.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextDocument>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace quillmar;

namespace {

const QByteArray kW = R"(xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main")";

const QByteArray kStyles = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?><w:styles )" + kW + R"(>)"
	R"(<w:docDefaults><w:rPrDefault><w:rPr><w:rFonts w:ascii="Liberation Serif" w:hAnsi="Liberation Serif"/><w:sz w:val="24"/></w:rPr></w:rPrDefault></w:docDefaults>)"
	R"(<w:style w:type="paragraph" w:default="1" w:styleId="Normal"><w:name w:val="Normal"/></w:style>)"
	R"(<w:style w:type="paragraph" w:styleId="ListParagraph"><w:name w:val="List Paragraph"/><w:basedOn w:val="Normal"/></w:style>)"
	R"(<w:style w:type="character" w:styleId="Emph"><w:name w:val="Emph"/><w:rPr><w:i/><w:color w:val="1F4E79"/></w:rPr></w:style>)"
	R"(</w:styles>)";

const QByteArray kNumbering = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?><w:numbering )" + kW + R"(>)"
	R"(<w:abstractNum w:abstractNumId="0"><w:lvl w:ilvl="0"><w:start w:val="1"/><w:numFmt w:val="bullet"/><w:lvlText w:val="•"/></w:lvl></w:abstractNum>)"
	R"(<w:abstractNum w:abstractNumId="1"><w:lvl w:ilvl="0"><w:start w:val="1"/><w:numFmt w:val="decimal"/><w:lvlText w:val="%1."/></w:lvl></w:abstractNum>)"
	R"(<w:num w:numId="1"><w:abstractNumId w:val="0"/></w:num><w:num w:numId="2"><w:abstractNumId w:val="1"/></w:num>)"
	R"(</w:numbering>)";

const QByteArray kContentTypes = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
	R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
	R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
	R"(<Default Extension="xml" ContentType="application/xml"/>)"
	R"(<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/>)"
	R"(<Override PartName="/word/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.styles+xml"/>)"
	R"(<Override PartName="/word/numbering.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.numbering+xml"/>)"
	R"(</Types>)";

const QByteArray kPackageRels = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
	R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
	R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/>)"
	R"(</Relationships>)";

const QByteArray kDocumentRels = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
	R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
	R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>)"
	R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/numbering" Target="numbering.xml"/>)"
	R"(</Relationships>)";

QByteArray run(const QByteArray &text, const QByteArray &rPr = {})
{
	return "<w:r>" + (rPr.isEmpty() ? QByteArray() : "<w:rPr>" + rPr + "</w:rPr>") + R"(<w:t xml:space="preserve">)" + text +
	       "</w:t></w:r>";
}

// About 100 characters in five runs of different formats.
QByteArray paragraph(int n, const QByteArray &pPr = {})
{
	const QByteArray number = QByteArray::number(n);
	return "<w:p>" + (pPr.isEmpty() ? QByteArray() : "<w:pPr>" + pPr + "</w:pPr>") + run("Paragraph " + number + " opens the scene, ") +
	       run("bold words here, ", "<w:b/>") + run("then italic ones, ", "<w:i/>") +
	       run("a red remark ", R"(<w:color w:val="C00000"/>)") + run("in larger type.", R"(<w:sz w:val="28"/>)") + "</w:p>";
}

QByteArray listItem(int n, int numId)
{
	return paragraph(n, R"(<w:pStyle w:val="ListParagraph"/><w:numPr><w:ilvl w:val="0"/><w:numId w:val=")" +
				    QByteArray::number(numId) + R"("/></w:numPr>)");
}

QByteArray table(int rows)
{
	QByteArray out = "<w:tbl><w:tblPr><w:tblW w:w=\"0\" w:type=\"auto\"/></w:tblPr><w:tblGrid><w:gridCol w:w=\"3000\"/>"
			 "<w:gridCol w:w=\"3000\"/><w:gridCol w:w=\"3000\"/></w:tblGrid>";
	for (int r = 0; r < rows; ++r) {
		out += "<w:tr>";
		for (int c = 0; c < 3; ++c)
			out += "<w:tc><w:p>" + run("Cell " + QByteArray::number(r) + "." + QByteArray::number(c)) + "</w:p></w:tc>";
		out += "</w:tr>";
	}
	return out + "</w:tbl>";
}

// A document of about the given number of characters.
QByteArray documentXml(int characters, bool withTable)
{
	QByteArray body;
	int n = 0;
	int length = 0;
	const int perParagraph = 96; // text and separator, within a character or two
	while (length + perParagraph * 8 < characters) {
		for (int i = 0; i < 5; ++i, ++n)
			body += paragraph(n);
		for (int i = 0; i < 2; ++i, ++n)
			body += listItem(n, 1);
		body += listItem(n++, 2);
		length += perParagraph * 8;
	}
	if (withTable)
		body += table(10);
	return R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?><w:document )" + kW + "><w:body>" + body +
	       "</w:body></w:document>";
}

bool writeDocx(const QString &path, const QByteArray &document)
{
	QString error;
	const bool ok = writeZip(path, {{"[Content_Types].xml", kContentTypes}, {"_rels/.rels", kPackageRels},
					{"word/document.xml", document}, {"word/_rels/document.xml.rels", kDocumentRels},
					{"word/styles.xml", kStyles}, {"word/numbering.xml", kNumbering}},
				 error);
	if (!ok)
		std::printf("cannot write %s: %s\n", qPrintable(path), qPrintable(error));
	return ok;
}

// The machine is shared: the fastest of several runs is the least disturbed one.
double best(const std::vector<double> &v)
{
	return v.empty() ? -1 : *std::min_element(v.begin(), v.end());
}

// Wall time of one external run in milliseconds, or a negative value when it failed.
double runTool(const QString &program, const QStringList &arguments, const QString &home)
{
	QProcess process;
	if (!home.isEmpty()) {
		QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
		env.insert(QStringLiteral("HOME"), home);
		process.setProcessEnvironment(env);
	}
	process.setProcessChannelMode(QProcess::MergedChannels);
	QElapsedTimer timer;
	timer.start();
	process.start(program, arguments);
	if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
		return -1;
	return double(timer.nsecsElapsed()) / 1e6;
}

double bestOfTool(int runs, const QString &program, const QStringList &arguments, const QString &home)
{
	std::vector<double> times;
	for (int i = 0; i < runs; ++i) {
		const double t = runTool(program, arguments, home);
		if (t < 0)
			return -1;
		times.push_back(t);
	}
	return best(times);
}

} // namespace

int main(int argc, char **argv)
{
	QGuiApplication app(argc, argv);
	QTemporaryDir temporary;
	QTemporaryDir home;
	if (!temporary.isValid() || !home.isValid())
		return 1;
	const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path());
	const QString pandoc = QStandardPaths::findExecutable(QStringLiteral("pandoc"));
	const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));

	std::printf("Word import against pandoc and LibreOffice (milliseconds, best of several runs)\n");
	// LibreOffice's own start-up: converting an almost empty document.
	double startup = -1;
	if (!soffice.isEmpty()) {
		const QString tiny = dir.filePath(QStringLiteral("tiny.docx"));
		writeDocx(tiny, documentXml(0, false));
		const QStringList args = {"--headless", "--convert-to", "html", "--outdir", dir.filePath("lo"), tiny};
		runTool(soffice, args, home.path()); // first run sets up the profile
		startup = bestOfTool(3, soffice, args, home.path());
		std::printf("LibreOffice start-up (near-empty document): %.0f\n\n", startup);
	}

	std::printf("%10s %10s %9s %9s %11s %9s %12s %12s\n", "target", "chars", "import", "pandoc", "LibreOffice",
		    "LO-start", "pandoc/imp", "LO-start/imp");
	for (const int target : {10000, 100000, 200000}) {
		const QString path = dir.filePath(QStringLiteral("doc%1.docx").arg(target));
		if (!writeDocx(path, documentXml(target, target == 200000)))
			return 1;

		WordImportResult result;
		std::vector<double> times;
		for (int i = 0; i < 9; ++i) {
			QElapsedTimer timer;
			timer.start();
			result = importWordDocument(path);
			times.push_back(double(timer.nsecsElapsed()) / 1e6);
		}
		if (!result.error.isEmpty()) {
			std::printf("import of %d failed: %s\n", target, qPrintable(result.error));
			return 1;
		}
		QTextDocument check;
		check.setHtml(result.html);
		const double import = best(times);

		const double pandocTime = pandoc.isEmpty() ? -1 : bestOfTool(3, pandoc, {"-f", "docx", "-t", "html", "-o", dir.filePath("p.html"), path}, {});
		const double loTime = soffice.isEmpty() ? -1
					: bestOfTool(3, soffice, {"--headless", "--convert-to", "html", "--outdir", dir.filePath("lo"), path}, home.path());
		const double loWork = loTime >= 0 && startup >= 0 ? loTime - startup : -1;
		std::printf("%10d %10d %9.1f %9.0f %11.0f %9.0f %11.1fx %11.1fx\n", target, check.characterCount() - 1, import,
			    pandocTime, loTime, loWork, pandocTime > 0 ? pandocTime / import : 0.0, loWork > 0 ? loWork / import : 0.0);
	}
	std::printf("\nAim on the largest: pandoc/import >= 10, (LibreOffice - start-up)/import >= 3.\n");
	return 0;
}
