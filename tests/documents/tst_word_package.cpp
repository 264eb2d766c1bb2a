// The Word import of whole .docx files: documents written by python-docx, pandoc and LibreOffice
// (tests/data/docx, made by make_fixtures.py there), and hostile or broken packages.

#include "documents/word_import.h"
#include "documents/zip.h"
#include "module/text.h"
#include "word_note.h"
#include "zip_builder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <future>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace quillmar;
using namespace quillmar::wordtest;

namespace {

Note fixture(const char *name)
{
	return Note(importWordDocument(QStringLiteral(QUILLMAR_SOURCE_DIR "/tests/data/docx/") + QLatin1String(name)));
}

QByteArray simpleDocument(const QByteArray &text) { return documentXml(paragraph(text)); }

// Sizes that stand for files of another kind.
constexpr qint64 kDirectory = -2, kFifo = -3;

const QByteArray kContentTypes =
	R"(<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>)";

// python-docx and LibreOffice both write a line that gives each word one format.
void expectWordPerFormat(const Note &note, int n, const char *mono)
{
	note.expect({{n, "bold", "weight", "700"}, {n, "bold", "italic", "no"}, {n, "bold", "background", "none"},
		     {n, "italic", "italic", "yes"}, {n, "under", "underline", "single"}, {n, "strike", "strike", "yes"},
		     {n, "small", "size", "10.5"}, {n, "mono", "family", mono}, {n, "red", "color", "#ff0000"}});
}

} // namespace

class TestWordPackage : public QObject {
	Q_OBJECT

private:
	QTemporaryDir m_dir;

	void package(const QString &name, const ZipFileList &files)
	{
		QString error;
		QVERIFY2(writeZip(m_dir.filePath(name), files, error), qPrintable(error));
	}

private Q_SLOTS:
	void initTestCase() { QVERIFY(m_dir.isValid()); }

	void pythonDocx()
	{
		const Note note = fixture("python_docx.docx");
		QVERIFY2(note.result.error.isEmpty(), qPrintable(note.result.error));
		// A table and a picture were dropped.
		QVERIFY(note.result.simplified);
		QCOMPARE(note.paragraphs(),
			 QStringList({"Plain paragraph.", "Cue line not bold", "bold italic under strike small mono red quietly",
				      "yellow green cyan magenta blue red darkYellow lightGray", "E=mc2 H2O",
				      QStringLiteral("a\tb\u2028c"), "visible end",
				      // List Bullet and List Bullet 2 are two lists; List Number carries on over the plain paragraph.
				      "[disc 1 #0] apple", "[disc 1 #1] apple pie", "[disc 1 #0] banana", "[decimal 1 #2] one",
				      "[decimal 1 #2] two", "interruption", "[decimal 1 #2] three", "cell one", "cell two", "Picture:", "Right", "Justified", ""}));
		note.expect({// The document defaults give 11 pt.
			     {0, "Plain", "size", "11"},
			     // Script Cue is bold and based on Script Base (14 pt, #112233, centred), itself on Normal.
			     {1, "Cue", "weight", "700"}, {1, "Cue", "size", "14"}, {1, "Cue", "color", "#112233"},
			     {1, "not bold", "weight", "400"}, {1, "not bold", "size", "14"},
			     {2, "quietly", "italic", "yes"}, {2, "quietly", "color", "#008000"},
			     {3, "yellow", "background", "#ffff00"}, {3, "green", "background", "#00ff00"},
			     {3, "cyan", "background", "#00ffff"}, {3, "magenta", "background", "#ff00ff"},
			     {3, "blue", "background", "#0000ff"}, {3, "red", "background", "#ff0000"},
			     {3, "darkYellow", "background", "#808000"}, {3, "lightGray", "background", "#c0c0c0"},
			     {4, "2", "vertical", "super"}, {4, "2O", "vertical", "sub"}, {4, "O", "vertical", "normal"}});
		expectWordPerFormat(note, 2, "Courier New");
		QCOMPARE(note.alignment(0), Qt::AlignLeft);
		QCOMPARE(note.alignment(1), Qt::AlignHCenter);
		QCOMPARE(note.alignment(17), Qt::AlignRight);
		QCOMPARE(note.alignment(18), Qt::AlignJustify);
		QVERIFY(!note.result.html.contains(QStringLiteral("SECRET")));
	}

	void pandoc()
	{
		const Note note = fixture("pandoc.docx");
		QVERIFY2(note.result.error.isEmpty(), qPrintable(note.result.error));
		// Footnote reference, table and picture were dropped.
		QVERIFY(note.result.simplified);
		QCOMPARE(note.paragraphs(), QStringList({"Opening", "Intro with bold, italic, struck, H2O and x2, and a link.",
							 "[disc 1 #0] first bullet", "[disc 2 #1] nested bullet", "[disc 1 #0] second bullet",
							 "[decimal 1 #2] three", "[decimal 1 #2] four",
							 "Between lists.", "A", "B", "1", "2", "", "pic"}));
		note.expect({{0, "Opening", "weight", "700"}, {0, "Opening", "size", "16"}, {0, "Opening", "color", "#4f81bd"},
			     {1, "Intro", "size", "12"}, {1, "bold", "weight", "700"}, {1, "italic", "italic", "yes"},
			     {1, "struck", "strike", "yes"}, {1, "2O", "vertical", "sub"}, {1, "2,", "vertical", "super"},
			     {1, "link", "color", "#4f81bd"}});

#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
		QCOMPARE(note.list(5)->format().start(), 3);
#endif
	}

	void libreOffice()
	{
		const Note note = fixture("libreoffice.docx");
		QVERIFY2(note.result.error.isEmpty(), qPrintable(note.result.error));
		// Table and picture were dropped.
		QVERIFY(note.result.simplified);
		QCOMPARE(note.paragraphs(),
			 QStringList({// LibreOffice ties its headings to an outline level that shows no number.
				      "Opening", "Cue line", "Say quietly now",
				      "bold italic under strike small mono red marked shaded", "E=mc2 and H2O",
				      QStringLiteral("a\tb\u2028c"), "See the site on page 1.", "Kept added text",
				      // The numbered list starts at 4 (below) and carries on after the interruption.
				      "[decimal 1 #0] four", "[decimal 1 #0] five", "[a 2 #1] five a", "Interruption",
				      "[decimal 1 #0] six", "[disc 1 #2] dot", "[disc 2 #3] circle", "Right", "Justified", "cell one",
				      "cell two", "Picture:", "Loud calm", "", ""}));
		note.expect({{0, "Opening", "weight", "700"}, {0, "Opening", "size", "18"}, {1, "Cue", "weight", "700"},
			     // Its defaults name a CJK font in the East Asian slot; Latin text keeps the Latin font.
			     {2, "Say", "family", "Liberation Serif"}, {2, "quietly", "italic", "yes"},
			     {2, "quietly", "color", "#008000"}, {2, "now", "italic", "no"},
			     {3, "marked", "background", "#ffff00"}, {3, "shaded", "background", "#99ccff"},
			     {4, "2 and", "vertical", "super"}, {4, "2O", "vertical", "sub"},
			     // The hyperlink's character style.
			     {6, "the site", "color", "#000080"},
			     // A bold paragraph mark with a run that turns bold off.
			     {20, "Loud", "weight", "700"}, {20, "calm", "weight", "400"}});
		expectWordPerFormat(note, 3, "Liberation Mono");
		QCOMPARE(note.alignment(1), Qt::AlignHCenter);
		QCOMPARE(note.alignment(15), Qt::AlignRight);
		QCOMPARE(note.alignment(16), Qt::AlignJustify);
		// The field shows its result, not its instruction; the tracked deletion is gone.
		QVERIFY(!note.result.html.contains(QStringLiteral("PAGE")));
		QVERIFY(!note.result.html.contains(QStringLiteral("REMOVED")));
		// An empty paragraph of 20 pt.
		QCOMPARE(note.block(21).charFormat().fontPointSize(), 20.0);

#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
		QCOMPARE(note.list(8)->format().start(), 4);
#endif
	}

	void packages_data()
	{
		QTest::addColumn<QByteArray>("content"); // written as the file, if not empty
		QTest::addColumn<qint64>("size");        // the file's size, if not negative; or one of the kinds below
		QTest::addColumn<ZipFileList>("parts");  // else a package of these parts
		QTest::addColumn<QString>("error");      // how the error starts, or empty
		QTest::addColumn<QStringList>("note");   // the note's text and the first word's weight
		const auto sized = [](const char *name, qint64 size, const char *error) {
			QTest::newRow(name) << QByteArray() << size << ZipFileList() << text(error) << QStringList();
		};
		const auto zipped = [](const char *name, const ZipFileList &parts, const char *error, const QStringList &note = {}) {
			QTest::newRow(name) << QByteArray() << qint64(-1) << parts << (error ? text(error) : QString()) << note;
		};
		sized("missing", -1, "WordSizeError");
		sized("directory", kDirectory, "WordSizeError");
		// A FIFO has no end: opening it must neither block nor read from it.
		sized("named pipe", kFifo, "WordSizeError");
		sized("101 MiB", kWordMaxFileSize + 1024 * 1024, "WordSizeError");
		sized("exactly 100 MiB, not a zip", kWordMaxFileSize, "WordOpenError");
		sized("empty file", 0, "WordOpenError");
		QTest::newRow("text file") << QByteArray("Just some words, not a package.\n") << qint64(-1) << ZipFileList()
					   << text("WordOpenError") << QStringList();
		ziptest::Item damaged = ziptest::deflated("word/document.xml", simpleDocument("x"));
		damaged.crc ^= 0x5a5a;
		QTest::newRow("damaged document part") << ziptest::Archive{{damaged}}.build() << qint64(-1) << ZipFileList()
						       << text("WordBodyError") << QStringList();
		zipped("zip without document", {{"[Content_Types].xml", kContentTypes}, {"word/styles.xml", "<w:styles/>"}}, "WordBodyError");
		zipped("empty document part", {{"[Content_Types].xml", kContentTypes}, {"word/document.xml", {}}}, "WordBodyError");
		QByteArray huge = simpleDocument("x");
		huge.insert(huge.indexOf("<w:p>"), QByteArray(int(kWordMaxPartSize) + 1 - huge.size(), ' '));
		zipped("document part over 24 MiB", {{"word/document.xml", huge}}, "WordBodyError");
		zipped("two parts of one name", {{"word/document.xml", simpleDocument("one")}, {"Word/Document.xml", simpleDocument("two")}},
		       "WordOpenError");
		zipped("document only as a folder", {{"word/document.xml/", {}}, {"[Content_Types].xml", kContentTypes}}, "WordBodyError");
		// A broken document part in a sound package is reported with the parser's message.
		zipped("broken document part", {{"word/document.xml", simpleDocument("x").chopped(3)}}, "WordXmlError");

		// Only the document part is required; parts are matched like package part names.
		const QByteArray styles = R"(<w:styles xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main">)"
					  R"(<w:style w:type="paragraph" w:default="1" w:styleId="Normal"><w:rPr><w:b/></w:rPr></w:style></w:styles>)";
		zipped("document alone", {{"word/document.xml", simpleDocument("bare")}}, nullptr, {"bare", "400"});
		zipped("names of other case", {{"WORD/Styles.XML", styles}, {"Word/Document.xml", simpleDocument("cased")}}, nullptr, {"cased", "700"});
		// A styles part over 24 MiB counts as missing; the text still comes in.
		QByteArray bigStyles = styles;
		bigStyles.insert(bigStyles.indexOf("<w:style "), QByteArray(int(kWordMaxPartSize), ' '));
		zipped("styles over 24 MiB", {{"word/document.xml", simpleDocument("plain")}, {"word/styles.xml", bigStyles}}, nullptr, {"plain", "400"});
		// Media larger than any part may be do not spoil the package.
		zipped("media over 24 MiB", {{"word/document.xml", simpleDocument("media")}, {"word/media/video.bin", QByteArray(65 * 1024 * 1024, '\0')}},
		       nullptr, {"media", "400"});
	}

	void packages()
	{
		QFETCH(QByteArray, content);
		QFETCH(qint64, size);
		QFETCH(ZipFileList, parts);
		QFETCH(QString, error);
		QFETCH(QStringList, note);
		const QString name = QLatin1String(QTest::currentDataTag()) + QStringLiteral(".docx"), path = m_dir.filePath(name);
		const QByteArray native = QFile::encodeName(path);
		if (!parts.isEmpty()) {
			package(name, parts);
		} else if (size == kDirectory) {
			QVERIFY(QDir(m_dir.path()).mkpath(path));
		} else if (size == kFifo) {
#ifdef Q_OS_UNIX
			QCOMPARE(::mkfifo(native.constData(), 0600), 0);
#else
			QSKIP("no named pipes here");
#endif
		} else if (!content.isEmpty() || size >= 0) {
			QFile f(path);
			QVERIFY(f.open(QIODevice::WriteOnly));
			QCOMPARE(f.write(content), content.size());
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
		const Note imported(import.get());
		if (error.isEmpty()) {
			QVERIFY2(imported.result.error.isEmpty(), qPrintable(imported.result.error));
			QCOMPARE(imported.paragraphs(), QStringList{note[0]});
			QCOMPARE(describe(imported.formatOf(note[0]), "weight"), note[1]);
		} else {
			QVERIFY2(imported.result.error.startsWith(error), qPrintable(imported.result.error));
			QVERIFY(imported.result.html.isEmpty());
			QVERIFY(!imported.result.simplified);
		}
	}
};

QTEST_MAIN(TestWordPackage)
#include "tst_word_package.moc"
