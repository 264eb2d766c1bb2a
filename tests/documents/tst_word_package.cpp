// The Word import of whole .docx files: documents written by python-docx, pandoc and LibreOffice
// (tests/data/docx, made by make_fixtures.py there), and hostile or broken packages.

#include "documents/word_import.h"
#include "documents/zip.h"
#include "module/text.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>

#include <chrono>
#include <future>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace quillmar;

namespace {

QString fixture(const char *name)
{
	return QStringLiteral(QUILLMAR_SOURCE_DIR "/tests/data/docx/") + QLatin1String(name);
}

const QByteArray kDocumentStart =
	R"(<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body>)";
const QByteArray kDocumentEnd = "</w:body></w:document>";

QByteArray simpleDocument(const QByteArray &text)
{
	return kDocumentStart + "<w:p><w:r><w:t>" + text + "</w:t></w:r></w:p>" + kDocumentEnd;
}

const QByteArray kContentTypes =
	R"(<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>)";

// The note of a .docx file, read back from its HTML.
struct ImportedFile {
	explicit ImportedFile(const QString &path) : result(importWordDocument(path)) { document.setHtml(result.html); }

	QTextBlock block(int n) const { return document.findBlockByNumber(n); }

	QStringList paragraphs() const
	{
		QStringList out;
		for (QTextBlock b = document.begin(); b.isValid(); b = b.next())
			out << b.text();
		return out;
	}

	// The format of the first character of a word inside one paragraph.
	QTextCharFormat formatIn(int n, const QString &word) const
	{
		const QTextBlock b = block(n);
		const int at = int(b.text().indexOf(word));
		if (at < 0)
			return QTextCharFormat();
		QTextCursor cursor(b);
		cursor.setPosition(b.position() + at + 1);
		return cursor.charFormat();
	}

	// Without the absolute flag that reading HTML back adds.
	Qt::Alignment alignment(int n) const
	{
		return block(n).blockFormat().alignment() & (Qt::AlignLeft | Qt::AlignRight | Qt::AlignHCenter | Qt::AlignJustify);
	}

	WordImportResult result;
	QTextDocument document;
};

QString background(const QTextCharFormat &f)
{
	return f.background().style() == Qt::NoBrush ? QStringLiteral("none") : f.background().color().name();
}

// Flips the CRC-32 that the central directory records for the first entry.
void damageFirstCrc(const QString &path)
{
	QFile f(path);
	QVERIFY(f.open(QIODevice::ReadWrite));
	QByteArray bytes = f.readAll();
	const qsizetype central = bytes.indexOf(QByteArray("PK\x01\x02", 4));
	QVERIFY(central > 0);
	bytes[central + 16] = char(bytes[central + 16] ^ 0x5a);
	QVERIFY(f.seek(0));
	QCOMPARE(f.write(bytes), bytes.size());
}

} // namespace

class TestWordPackage : public QObject {
	Q_OBJECT

private:
	QTemporaryDir m_dir;

	QString package(const char *name, const ZipFileList &files)
	{
		const QString path = m_dir.filePath(QLatin1String(name));
		QString error;
		if (!writeZip(path, files, error))
			qWarning("writeZip: %s", qPrintable(error));
		return path;
	}

private Q_SLOTS:
	void initTestCase() { QVERIFY(m_dir.isValid()); }

	void pythonDocx()
	{
		const ImportedFile note(fixture("python_docx.docx"));
		QVERIFY2(note.result.error.isEmpty(), qPrintable(note.result.error));
		// A table and a picture were dropped.
		QVERIFY(note.result.simplified);
		QCOMPARE(note.paragraphs(),
			 QStringList({"Plain paragraph.", "Cue line not bold", "bold italic under strike small mono red quietly",
				      "yellow green cyan magenta blue red darkYellow lightGray", "E=mc2 H2O",
				      QStringLiteral("a\tb\u2028c"), "visible end", "apple", "apple pie", "banana", "one", "two",
				      "interruption", "three", "cell one", "cell two", "Picture:", "Right", "Justified", ""}));

		// The document defaults give 11 pt.
		QCOMPARE(note.formatIn(0, "Plain").fontPointSize(), 11.0);
		// Script Cue is bold and based on Script Base (14 pt, #112233, centred), itself on Normal.
		const QTextCharFormat cue = note.formatIn(1, "Cue");
		QCOMPARE(cue.fontWeight(), 700);
		QCOMPARE(cue.fontPointSize(), 14.0);
		QCOMPARE(cue.foreground().color().name(), QStringLiteral("#112233"));
		QCOMPARE(note.alignment(1), Qt::AlignHCenter);
		QCOMPARE(note.formatIn(1, "not bold").fontWeight(), 400);
		QCOMPARE(note.formatIn(1, "not bold").fontPointSize(), 14.0);

		QCOMPARE(note.formatIn(2, "bold").fontWeight(), 700);
		QVERIFY(note.formatIn(2, "italic").fontItalic());
		QCOMPARE(note.formatIn(2, "under").underlineStyle(), QTextCharFormat::SingleUnderline);
		QVERIFY(note.formatIn(2, "strike").fontStrikeOut());
		QCOMPARE(note.formatIn(2, "small").fontPointSize(), 10.5);
		QCOMPARE(note.formatIn(2, "mono").fontFamilies().toStringList(), QStringList{"Courier New"});
		QCOMPARE(note.formatIn(2, "red").foreground().color().name(), QStringLiteral("#ff0000"));
		const QTextCharFormat quietly = note.formatIn(2, "quietly");
		QVERIFY(quietly.fontItalic());
		QCOMPARE(quietly.foreground().color().name(), QStringLiteral("#008000"));
		QVERIFY(!note.formatIn(2, "bold").fontItalic());

		const QList<std::pair<QString, QString>> highlights = {
			{"yellow", "#ffff00"}, {"green", "#00ff00"}, {"cyan", "#00ffff"},      {"magenta", "#ff00ff"},
			{"blue", "#0000ff"},   {"red", "#ff0000"},   {"darkYellow", "#808000"}, {"lightGray", "#c0c0c0"}};
		for (const auto &[word, color] : highlights)
			QCOMPARE(background(note.formatIn(3, word)), color);

		QCOMPARE(note.formatIn(4, "2").verticalAlignment(), QTextCharFormat::AlignSuperScript);
		QCOMPARE(note.formatIn(4, "2O").verticalAlignment(), QTextCharFormat::AlignSubScript);
		QCOMPARE(note.formatIn(4, "O").verticalAlignment(), QTextCharFormat::AlignNormal);
		QVERIFY(!note.result.html.contains(QStringLiteral("SECRET")));

		// List Bullet and List Bullet 2 are two single-level bullet lists; List Number carries on
		// over the plain paragraph.
		QTextList *bullets = note.block(7).textList();
		QVERIFY(bullets);
		QCOMPARE(bullets->format().style(), QTextListFormat::ListDisc);
		QCOMPARE(note.block(9).textList(), bullets);
		QVERIFY(note.block(8).textList());
		QVERIFY(note.block(8).textList() != bullets);
		QTextList *numbers = note.block(10).textList();
		QVERIFY(numbers);
		QCOMPARE(numbers->format().style(), QTextListFormat::ListDecimal);
		QVERIFY(!note.block(12).textList());
		QCOMPARE(note.block(13).textList(), numbers);
		QCOMPARE(numbers->itemNumber(note.block(13)), 2);

		QCOMPARE(note.alignment(17), Qt::AlignRight);
		QCOMPARE(note.alignment(18), Qt::AlignJustify);
		QCOMPARE(note.alignment(0), Qt::AlignLeft);
	}

	void pandoc()
	{
		const ImportedFile note(fixture("pandoc.docx"));
		QVERIFY2(note.result.error.isEmpty(), qPrintable(note.result.error));
		// Footnote reference, table and picture were dropped.
		QVERIFY(note.result.simplified);
		QCOMPARE(note.paragraphs(), QStringList({"Opening", "Intro with bold, italic, struck, H2O and x2, and a link.",
							 "first bullet", "nested bullet", "second bullet", "three", "four",
							 "Between lists.", "A", "B", "1", "2", "", "pic"}));

		const QTextCharFormat heading = note.formatIn(0, "Opening");
		QCOMPARE(heading.fontWeight(), 700);
		QCOMPARE(heading.fontPointSize(), 16.0);
		QCOMPARE(heading.foreground().color().name(), QStringLiteral("#4f81bd"));
		QCOMPARE(note.formatIn(1, "Intro").fontPointSize(), 12.0);
		QCOMPARE(note.formatIn(1, "bold").fontWeight(), 700);
		QVERIFY(note.formatIn(1, "italic").fontItalic());
		QVERIFY(note.formatIn(1, "struck").fontStrikeOut());
		QCOMPARE(note.formatIn(1, "2O").verticalAlignment(), QTextCharFormat::AlignSubScript);
		QCOMPARE(note.formatIn(1, "2,").verticalAlignment(), QTextCharFormat::AlignSuperScript);
		QCOMPARE(note.formatIn(1, "link").foreground().color().name(), QStringLiteral("#4f81bd"));

		QTextList *bullets = note.block(2).textList();
		QVERIFY(bullets);
		QCOMPARE(bullets->format().style(), QTextListFormat::ListDisc);
		QCOMPARE(note.block(3).textList()->format().indent(), 2);
		QCOMPARE(note.block(4).textList(), bullets);
		QTextList *numbers = note.block(5).textList();
		QVERIFY(numbers);
		QCOMPARE(numbers->format().style(), QTextListFormat::ListDecimal);
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
		QCOMPARE(numbers->format().start(), 3);
#endif
		QCOMPARE(note.block(6).textList(), numbers);
		QVERIFY(!note.block(7).textList());
	}

	void libreOffice()
	{
		const ImportedFile note(fixture("libreoffice.docx"));
		QVERIFY2(note.result.error.isEmpty(), qPrintable(note.result.error));
		// Table and picture were dropped.
		QVERIFY(note.result.simplified);
		QCOMPARE(note.paragraphs(),
			 QStringList({"Opening", "Cue line", "Say quietly now",
				      "bold italic under strike small mono red marked shaded", "E=mc2 and H2O",
				      QStringLiteral("a\tb\u2028c"), "See the site on page 1.", "Kept added text", "four", "five",
				      "five a", "Interruption", "six", "dot", "circle", "Right", "Justified", "cell one",
				      "cell two", "Picture:", "Loud calm", "", ""}));

		// LibreOffice ties its headings to an outline level that shows no number.
		QVERIFY(!note.block(0).textList());
		QCOMPARE(note.formatIn(0, "Opening").fontWeight(), 700);
		QCOMPARE(note.formatIn(0, "Opening").fontPointSize(), 18.0);
		QCOMPARE(note.formatIn(1, "Cue").fontWeight(), 700);
		QCOMPARE(note.alignment(1), Qt::AlignHCenter);

		// Its defaults name a CJK font in the East Asian slot; Latin text keeps the Latin font.
		QCOMPARE(note.formatIn(2, "Say").fontFamilies().toStringList(), QStringList{"Liberation Serif"});
		QVERIFY(note.formatIn(2, "quietly").fontItalic());
		QCOMPARE(note.formatIn(2, "quietly").foreground().color().name(), QStringLiteral("#008000"));
		QVERIFY(!note.formatIn(2, "now").fontItalic());

		QCOMPARE(note.formatIn(3, "bold").fontWeight(), 700);
		QVERIFY(note.formatIn(3, "italic").fontItalic());
		QCOMPARE(note.formatIn(3, "under").underlineStyle(), QTextCharFormat::SingleUnderline);
		QVERIFY(note.formatIn(3, "strike").fontStrikeOut());
		QCOMPARE(note.formatIn(3, "small").fontPointSize(), 10.5);
		QCOMPARE(note.formatIn(3, "mono").fontFamilies().toStringList(), QStringList{"Liberation Mono"});
		QCOMPARE(note.formatIn(3, "red").foreground().color().name(), QStringLiteral("#ff0000"));
		QCOMPARE(background(note.formatIn(3, "marked")), QStringLiteral("#ffff00"));
		QCOMPARE(background(note.formatIn(3, "shaded")), QStringLiteral("#99ccff"));
		QCOMPARE(background(note.formatIn(3, "bold")), QStringLiteral("none"));

		QCOMPARE(note.formatIn(4, "2 and").verticalAlignment(), QTextCharFormat::AlignSuperScript);
		QCOMPARE(note.formatIn(4, "2O").verticalAlignment(), QTextCharFormat::AlignSubScript);

		// The hyperlink's character style; the field shows its result, not its instruction.
		QCOMPARE(note.formatIn(6, "the site").foreground().color().name(), QStringLiteral("#000080"));
		QVERIFY(!note.result.html.contains(QStringLiteral("PAGE")));
		QVERIFY(!note.result.html.contains(QStringLiteral("REMOVED")));

		// The numbered list starts at 4 and carries on after the interruption.
		QTextList *numbers = note.block(8).textList();
		QVERIFY(numbers);
		QCOMPARE(numbers->format().style(), QTextListFormat::ListDecimal);
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
		QCOMPARE(numbers->format().start(), 4);
#endif
		QCOMPARE(note.block(9).textList(), numbers);
		QCOMPARE(note.block(10).textList()->format().style(), QTextListFormat::ListLowerAlpha);
		QCOMPARE(note.block(10).textList()->format().indent(), 2);
		QVERIFY(!note.block(11).textList());
		QCOMPARE(note.block(12).textList(), numbers);
		QCOMPARE(numbers->itemNumber(note.block(12)), 2);
		QCOMPARE(note.block(13).textList()->format().style(), QTextListFormat::ListDisc);
		QCOMPARE(note.block(14).textList()->format().indent(), 2);

		QCOMPARE(note.alignment(15), Qt::AlignRight);
		QCOMPARE(note.alignment(16), Qt::AlignJustify);

		// A bold paragraph mark with a run that turns bold off; an empty paragraph of 20 pt.
		QCOMPARE(note.formatIn(20, "Loud").fontWeight(), 700);
		QCOMPARE(note.formatIn(20, "calm").fontWeight(), 400);
		QCOMPARE(note.block(21).charFormat().fontPointSize(), 20.0);
	}

	void refusedFiles_data()
	{
		QTest::addColumn<QString>("kind");
		QTest::addColumn<QString>("error");
		QTest::newRow("missing") << "missing" << text("WordSizeError");
		QTest::newRow("directory") << "directory" << text("WordSizeError");
		QTest::newRow("101 MiB") << "large" << text("WordSizeError");
		QTest::newRow("exactly 100 MiB, not a zip") << "limit" << text("WordOpenError");
		QTest::newRow("empty file") << "empty" << text("WordOpenError");
		QTest::newRow("text file") << "text" << text("WordOpenError");
		QTest::newRow("zip without document") << "nodocument" << text("WordBodyError");
		QTest::newRow("empty document part") << "emptydocument" << text("WordBodyError");
		QTest::newRow("document part over 24 MiB") << "hugedocument" << text("WordBodyError");
		QTest::newRow("damaged document part") << "damaged" << text("WordBodyError");
		QTest::newRow("two parts of one name") << "duplicate" << text("WordOpenError");
		QTest::newRow("document only as a folder") << "folder" << text("WordBodyError");
	}

	void refusedFiles()
	{
		QFETCH(QString, kind);
		QFETCH(QString, error);
		const QString path = m_dir.filePath(kind + QStringLiteral(".docx"));
		const auto sized = [&](qint64 size) {
			QFile f(path);
			QVERIFY(f.open(QIODevice::WriteOnly));
			QVERIFY(f.resize(size));
		};
		if (kind == u"directory") {
			QVERIFY(QDir(m_dir.path()).mkpath(path));
		} else if (kind == u"large") {
			sized(kWordMaxFileSize + 1024 * 1024);
		} else if (kind == u"limit") {
			sized(kWordMaxFileSize);
		} else if (kind == u"empty") {
			sized(0);
		} else if (kind == u"text") {
			QFile f(path);
			QVERIFY(f.open(QIODevice::WriteOnly));
			f.write("Just some words, not a package.\n");
		} else if (kind == u"nodocument") {
			package("nodocument.docx", {{"[Content_Types].xml", kContentTypes}, {"word/styles.xml", "<w:styles/>"}});
		} else if (kind == u"emptydocument") {
			package("emptydocument.docx", {{"[Content_Types].xml", kContentTypes}, {"word/document.xml", {}}});
		} else if (kind == u"hugedocument") {
			const QByteArray padding(int(kWordMaxPartSize) + 1 - simpleDocument("x").size(), ' ');
			const QByteArray document = kDocumentStart + padding + "<w:p><w:r><w:t>x</w:t></w:r></w:p>" + kDocumentEnd;
			QCOMPARE(qint64(document.size()), kWordMaxPartSize + 1);
			package("hugedocument.docx", {{"word/document.xml", document}});
		} else if (kind == u"damaged") {
			package("damaged.docx", {{"word/document.xml", simpleDocument("x")}, {"[Content_Types].xml", kContentTypes}});
			damageFirstCrc(path);
		} else if (kind == u"duplicate") {
			package("duplicate.docx", {{"word/document.xml", simpleDocument("one")}, {"Word/Document.xml", simpleDocument("two")}});
		} else if (kind == u"folder") {
			package("folder.docx", {{"word/document.xml/", {}}, {"[Content_Types].xml", kContentTypes}});
		}
		const WordImportResult result = importWordDocument(path);
		QCOMPARE(result.error, error);
		QVERIFY(result.html.isEmpty());
		QVERIFY(!result.simplified);
	}

	// Only the document part is required; parts are matched like package part names.
	void partsOfAPackage()
	{
		const QByteArray styles = R"(<w:styles xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main">)"
					  R"(<w:style w:type="paragraph" w:default="1" w:styleId="Normal"><w:rPr><w:b/></w:rPr></w:style></w:styles>)";
		const ImportedFile bare(package("bare.docx", {{"word/document.xml", simpleDocument("bare")}}));
		QVERIFY2(bare.result.error.isEmpty(), qPrintable(bare.result.error));
		QCOMPARE(bare.paragraphs(), QStringList{"bare"});
		QCOMPARE(bare.formatIn(0, "bare").fontWeight(), 400);

		const ImportedFile cased(package("cased.docx", {{"WORD/Styles.XML", styles}, {"Word/Document.xml", simpleDocument("cased")}}));
		QVERIFY2(cased.result.error.isEmpty(), qPrintable(cased.result.error));
		QCOMPARE(cased.paragraphs(), QStringList{"cased"});
		QCOMPARE(cased.formatIn(0, "cased").fontWeight(), 700);

		// A styles part over 24 MiB counts as missing; the text still comes in.
		QByteArray bigStyles = styles;
		bigStyles.insert(bigStyles.indexOf("<w:style "), QByteArray(int(kWordMaxPartSize), ' '));
		const ImportedFile unstyled(package("bigstyles.docx", {{"word/document.xml", simpleDocument("plain")}, {"word/styles.xml", bigStyles}}));
		QVERIFY2(unstyled.result.error.isEmpty(), qPrintable(unstyled.result.error));
		QCOMPARE(unstyled.formatIn(0, "plain").fontWeight(), 400);

		// Media larger than any part may be do not spoil the package.
		const ImportedFile media(package("media.docx", {{"word/document.xml", simpleDocument("with media")},
								  {"word/media/video.bin", QByteArray(65 * 1024 * 1024, '\0')}}));
		QVERIFY2(media.result.error.isEmpty(), qPrintable(media.result.error));
		QCOMPARE(media.paragraphs(), QStringList{"with media"});

		// A broken document part in a sound package is reported with the parser's message.
		const ImportedFile broken(package("broken.docx", {{"word/document.xml", simpleDocument("x").chopped(3)}}));
		QVERIFY(broken.result.error.startsWith(text("WordXmlError")));
	}

#ifdef Q_OS_UNIX
	// A FIFO has no end: opening it must neither block nor read from it.
	void namedPipe()
	{
		const QString path = m_dir.filePath(QStringLiteral("pipe.docx"));
		QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
		auto import = std::async(std::launch::async, [path] { return importWordDocument(path); });
		if (import.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
			// Release the blocked reader so that the test can end.
			const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
			if (fd >= 0)
				::close(fd);
			import.wait();
			QFAIL("the import blocked on a FIFO");
		}
		QCOMPARE(import.get().error, text("WordSizeError"));
	}
#endif
};

QTEST_MAIN(TestWordPackage)
#include "tst_word_package.moc"
