// Word import speed against two converters of the same files: pandoc (docx to HTML) and
// LibreOffice (conversion to HTML by one LibreOffice kept running, driven over UNO, so that its
// start-up is not part of its figure). Documents of about 10000, 100000 and 200000 characters:
// paragraphs of about 100 characters with bold, italic, coloured and sized runs, bulleted and
// numbered lists, a table in the largest. Aim on the largest: at least 10 times faster than
// pandoc and 3 times faster than LibreOffice.
// Then hostile packages, each to be refused or imported in under 100 ms and 64 MiB above the
// process's size before the import. An optional argument names a folder that keeps the documents.

#include "documents/word_import.h"
#include "documents/zip.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextDocument>

#include <QFile>

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

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

// Converts each document several times in one LibreOffice, started once and driven over UNO;
// prints the best time of each in milliseconds, one per line.
const char kLibreOfficeScript[] = R"py(
import os, subprocess, sys, time, uno
from com.sun.star.beans import PropertyValue

def prop(name, value):
    p = PropertyValue()
    p.Name, p.Value = name, value
    return p

runs, paths = int(sys.argv[1]), sys.argv[2:]
pipe = "quillmar_bench_%d" % os.getpid()
office = subprocess.Popen(["soffice", "--headless", "--invisible", "--nologo", "--norestore", "--nodefault",
                           "--accept=pipe,name=%s;urp;" % pipe], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
try:
    local = uno.getComponentContext()
    resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
    for attempt in range(600):
        try:
            context = resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe)
            break
        except Exception:
            time.sleep(0.1)
    else:
        sys.exit(2)
    desktop = context.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", context)
    for path in paths:
        times = []
        for run in range(runs):
            start = time.perf_counter()
            document = desktop.loadComponentFromURL(uno.systemPathToFileUrl(path), "_blank", 0, (prop("Hidden", True),))
            document.storeToURL(uno.systemPathToFileUrl(path + ".html"), (prop("FilterName", "HTML (StarWriter)"),))
            document.close(True)
            times.append((time.perf_counter() - start) * 1000)
        print("%.1f" % min(times), flush=True)
    try:
        desktop.terminate()
    except Exception:
        pass
finally:
    try:
        office.wait(30)
    except subprocess.TimeoutExpired:
        office.terminate()
        office.wait()
)py";

std::vector<double> libreOfficeTimes(const QDir &dir, const QString &home, const QStringList &paths, int runs)
{
	const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
	const QString script = dir.filePath(QStringLiteral("convert.py"));
	QFile file(script);
	if (python.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(kLibreOfficeScript) < 0)
		return {};
	file.close();
	QProcess process;
	QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
	env.insert(QStringLiteral("HOME"), home);
	process.setProcessEnvironment(env);
	process.start(python, QStringList{script, QString::number(runs)} + paths);
	if (!process.waitForFinished(600000) || process.exitCode() != 0) {
		std::printf("LibreOffice over UNO failed: %s\n", process.readAllStandardError().constData());
		return {};
	}
	std::vector<double> times;
	for (const QByteArray &line : process.readAllStandardOutput().split('\n'))
		if (!line.trimmed().isEmpty())
			times.push_back(line.toDouble());
	return times;
}

qint64 statusKiB(const char *field)
{
	QFile status(QStringLiteral("/proc/self/status"));
	if (!status.open(QIODevice::ReadOnly))
		return -1;
	for (const QByteArray &line : status.readAll().split('\n'))
		if (line.startsWith(field))
			return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').first().toLongLong();
	return -1;
}

// In a process of its own, whose allocator has no freed memory at hand yet: one import of the
// small document, then the time of one of the hostile one and the most memory it held above the
// process's size before it, printed as "ms MiB outcome".
int printImportCost(const QString &warmUp, const QString &path)
{
	importWordDocument(warmUp);
	// Lets the peak start again from the present size.
	if (const int fd = ::open("/proc/self/clear_refs", O_WRONLY); fd >= 0) {
		if (::write(fd, "5", 1) != 1)
			std::printf("(peak memory not reset)\n");
		::close(fd);
	}
	const qint64 before = statusKiB("VmRSS:");
	// Processor time too: on a busy machine it says more than wall time.
	timespec cpu0{}, cpu1{};
	clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu0);
	QElapsedTimer timer;
	timer.start();
	const WordImportResult result = importWordDocument(path);
	const double ms = double(timer.nsecsElapsed()) / 1e6;
	clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu1);
	const double cpu = double(cpu1.tv_sec - cpu0.tv_sec) * 1e3 + double(cpu1.tv_nsec - cpu0.tv_nsec) / 1e6;
	std::printf("%.1f %.1f %.1f %s\n", ms, cpu, double(statusKiB("VmHWM:") - before) / 1024.0,
		    result.error.isEmpty() ? "imported" : qPrintable(result.error.left(90)));
	return 0;
}

} // namespace

int main(int argc, char **argv)
{
	QGuiApplication app(argc, argv);
	if (argc == 4 && qstrcmp(argv[1], "--cost") == 0)
		return printImportCost(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
	QTemporaryDir temporary;
	QTemporaryDir home;
	if (!temporary.isValid() || !home.isValid())
		return 1;
	const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path());
	const QString pandoc = QStandardPaths::findExecutable(QStringLiteral("pandoc"));
	const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));

	std::printf("Word import against pandoc and LibreOffice (milliseconds, best of several runs)\n");
	const int targets[] = {10000, 100000, 200000};
	QStringList paths;
	for (const int target : targets) {
		paths << dir.filePath(QStringLiteral("doc%1.docx").arg(target));
		if (!writeDocx(paths.last(), documentXml(target, target == 200000)))
			return 1;
	}
	const std::vector<double> lo = soffice.isEmpty() ? std::vector<double>() : libreOfficeTimes(dir, home.path(), paths, 5);

	std::printf("%10s %10s %9s %9s %11s %12s %12s\n", "target", "chars", "import", "pandoc", "LibreOffice", "pandoc/imp", "LO/imp");
	for (size_t i = 0; i < std::size(targets); ++i) {
		const QString &path = paths[qsizetype(i)];
		WordImportResult result;
		std::vector<double> times;
		for (int r = 0; r < 9; ++r) {
			QElapsedTimer timer;
			timer.start();
			result = importWordDocument(path);
			times.push_back(double(timer.nsecsElapsed()) / 1e6);
		}
		if (!result.error.isEmpty()) {
			std::printf("import of %d failed: %s\n", targets[i], qPrintable(result.error));
			return 1;
		}
		QTextDocument check;
		check.setHtml(result.html);
		const double import = best(times);
		const double pandocTime = pandoc.isEmpty() ? -1 : bestOfTool(3, pandoc, {"-f", "docx", "-t", "html", "-o", dir.filePath("p.html"), path}, {});
		const double loTime = i < lo.size() ? lo[i] : -1;
		std::printf("%10d %10d %9.1f %9.0f %11.0f %11.1fx %11.1fx\n", targets[i], check.characterCount() - 1, import, pandocTime, loTime,
			    pandocTime > 0 ? pandocTime / import : 0.0, loTime > 0 ? loTime / import : 0.0);
	}
	std::printf("\nAim on the largest: pandoc/import >= 10, LibreOffice/import >= 3.\n");

	std::printf("\nHostile packages (each imported in a fresh process after a warm-up, best of 3;\naim: under 100 ms and 64 MiB above the size before)\n");
	std::printf("%-36s %9s %9s %9s  %s\n", "package", "ms", "cpu ms", "MiB", "outcome");
	const QString small = paths.first();
	const std::pair<const char *, QByteArray> hostile[] = {
		{"200000 nested unknown elements", "<w:p><w:r>" + QByteArray("<w:x>").repeated(200000)},
		{"1000000 nested unknown elements", "<w:p><w:r>" + QByteArray("<w:x>").repeated(1000000)},
		{"text node of 20 MiB", "<w:p><w:r><w:t>" + QByteArray(20 << 20, 'x') + "</w:t></w:r></w:p>"},
		{"text node just under the part limit", "<w:p><w:r><w:t>" + QByteArray(kWordMaxPartSize - 300, 'x') + "</w:t></w:r></w:p>"}};
	for (const auto &[name, body] : hostile) {
		const QString path = dir.filePath(QStringLiteral("hostile.docx"));
		const QByteArray document = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?><w:document )" + kW + "><w:body>" + body +
					    "</w:body></w:document>";
		if (!writeDocx(path, document))
			return 1;
		// The least disturbed time of three, and the most memory.
		double ms = -1, cpu = -1, mib = -1;
		QByteArray outcome;
		for (int run = 0; run < 3; ++run) {
			QProcess child;
			child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--cost"), small, path});
			child.waitForFinished(60000);
			const QList<QByteArray> fields = child.readAllStandardOutput().simplified().split(' ');
			if (fields.size() < 4)
				return 1;
			ms = ms < 0 ? fields[0].toDouble() : std::min(ms, fields[0].toDouble());
			cpu = cpu < 0 ? fields[1].toDouble() : std::min(cpu, fields[1].toDouble());
			mib = std::max(mib, fields[2].toDouble());
			outcome = fields.mid(3).join(' ');
		}
		std::printf("%-36s %9.1f %9.1f %9.1f  %s\n", name, ms, cpu, mib, outcome.constData());
	}
	return 0;
}
