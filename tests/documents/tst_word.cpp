// The Word import, one table of cases each read through a whole .docx file and checked on the note
// as the dock stores it (its HTML read back). Most cases are data (tests/data/docx/cases.json:
// XML parts, or fixtures written by python-docx, pandoc and LibreOffice); the ones built here are
// too large to spell out or are files of other kinds.

#include "blocks_vectors.h"
#include "documents/blocks_model.h"
#include "documents/word_import.h"
#include "documents/zip.h"
#include "module/text.h"
#include "test_util.h"

#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextList>

#include <chrono>
#include <functional>
#include <future>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quillmar;

namespace {

const QByteArray kNamespaces = R"(xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main" )"
			       R"(xmlns:mc="http://schemas.openxmlformats.org/markup-compatibility/2006")";

QByteArray documentXml(const QByteArray &body)
{
	return R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?><w:document )" + kNamespaces + "><w:body>" + body + "</w:body></w:document>";
}
QByteArray paragraph(const QByteArray &text) { return "<w:p><w:r><w:t>" + text + "</w:t></w:r></w:p>"; }
// A package of the document body and, where given, the inside of the styles and numbering parts.
ZipFileList parts(const QByteArray &body, const QByteArray &styles = {}, const QByteArray &numbering = {})
{
	ZipFileList out{{"word/document.xml", documentXml(body)}};
	if (!styles.isEmpty())
		out.append({"word/styles.xml", "<w:styles " + kNamespaces + ">" + styles + "</w:styles>"});
	if (!numbering.isEmpty())
		out.append({"word/numbering.xml", "<w:numbering " + kNamespaces + ">" + numbering + "</w:numbering>"});
	return out;
}

// One property of a format, spelt so that tables can state it.
QString describe(const QTextCharFormat &f, const QString &property)
{
	const auto color = [](const QBrush &b) { return b.style() == Qt::NoBrush ? QStringLiteral("none") : b.color().name(); };
	const QHash<QString, std::function<QString()>> of{
		{"weight", [&] { return QString::number(f.fontWeight()); }},
		{"italic", [&] { return QString::fromLatin1(f.fontItalic() ? "yes" : "no"); }},
		{"underline", [&] { return QStringList{"none", "single"}.value(int(f.underlineStyle()), QString::number(int(f.underlineStyle()))); }},
		{"strike", [&] { return QString::fromLatin1(f.fontStrikeOut() ? "yes" : "no"); }},
		{"size", [&] { return f.hasProperty(QTextFormat::FontPointSize) ? QString::number(f.fontPointSize()) : QStringLiteral("unset"); }},
		{"family", [&] { return f.fontFamilies().toStringList().join(u','); }},
		{"color", [&] { return color(f.foreground()); }},
		{"background", [&] { return color(f.background()); }},
		{"vertical", [&] { return QStringList{"normal", "super", "sub"}.value(int(f.verticalAlignment()), "?"); }}};
	return of.contains(property) ? of[property]() : QStringLiteral("?");
}

// The text of each paragraph of the note as stored and read back; a list item starts with its
// list's style, indent, order of appearance and the item's number, such as "[decimal 1 #0 4] ".
QStringList paragraphTexts(const QTextDocument &document)
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
					.arg(blocks::listStartOf(list->format()) + list->itemNumber(b))
			     : QString()) +
			       b.text();
	}
	return out;
}

// "paragraph|word|property|value": the format inside the word's first occurrence in that
// paragraph; "paragraph||align|value" its alignment, "paragraph||mark property|value" the format
// of its paragraph mark. Empty when the note agrees, else what differs.
QString mismatch(const QTextDocument &document, const QString &row)
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

// A size that stands for a named pipe.
constexpr qint64 kFifo = -3;

// A file: the fixture, else a package of the parts, else the bytes (of size bytes if not
// negative). It fails with a text that starts with error (the bare "WordXmlError" needs the
// parser's detail after it), or gives these paragraphs, flag and checks.
struct Case {
	QString fixture;
	ZipFileList parts;
	QByteArray raw;
	qint64 size;
	QString error;
	QStringList paragraphs;
	bool simplified;
	QStringList checks;
};

void row(const char *name, const ZipFileList &parts, const QString &error, const QStringList &paragraphs = {},
	 bool simplified = false, const QStringList &checks = {}, const QString &file = {}, const QByteArray &raw = {},
	 qint64 size = -1)
{
	QTest::newRow(name) << Case{file, parts, raw, size, error, paragraphs, simplified, checks};
}
QString xmlError(const char *detail = nullptr) { return text("WordXmlError") + (detail ? text(detail) : QString()); }

void packageRows()
{
	const auto file = [](const char *name, const char *error, qint64 size, const QByteArray &raw = {}) { row(name, {}, text(error), {}, false, {}, {}, raw, size); };
	file("missing", "WordSizeError", -1);
	// A FIFO has no end: opening it must neither block nor read from it.
	file("named pipe", "WordSizeError", kFifo);
	file("101 MiB", "WordSizeError", kWordMaxFileSize + (1 << 20));
	file("exactly 100 MiB, not a zip", "WordOpenError", kWordMaxFileSize);
	QTemporaryDir dir;
	QString error;
	QVERIFY(writeZip(dir.filePath("d"), parts(paragraph("x")), error));
	QByteArray damaged = test::fileBytes(dir.filePath("d"));
	damaged[damaged.indexOf("PK\x01\x02") + 16] ^= 0x5a; // the directory's CRC
	file("damaged document part", "WordBodyError", -1, damaged);
	row("document part over 24 MiB", parts(QByteArray(kWordMaxPartSize, ' ') + paragraph("x")), text("WordBodyError"));
	// Refused at the paragraph limit, before the text is read whole.
	row("text node just under the part limit", parts(paragraph(QByteArray(kWordMaxPartSize - documentXml(paragraph({})).size() - 1, 'x'))),
	    text("TextLimit"));
	// A styles part over 24 MiB counts as missing; media larger than any part may be do not spoil
	// the package.
	const QByteArray bold = R"(<w:style w:type="paragraph" w:default="1" w:styleId="Normal"><w:rPr><w:b/></w:rPr></w:style>)";
	row("styles over 24 MiB", parts(paragraph("plain"), QByteArray(kWordMaxPartSize, ' ') + bold), {}, {"plain"}, false, {"0|plain|weight|400"});
	row("media over 24 MiB", parts(paragraph("media")) << ZipFileList{{"word/media/video.bin", QByteArray(65 << 20, '\0')}}, {}, {"media"});
}

void dataRows()
{
	const QJsonArray cases = blocktest::expand(QJsonDocument::fromJson(test::fileBytes(QUILLMAR_SOURCE_DIR "/tests/data/docx/cases.json"))
							   .object()
							   .value("cases"))
					 .toArray();
	QVERIFY(cases.size() > 100);
	for (const QJsonValue &v : cases) {
		const QJsonObject c = v.toObject();
		const auto xml = [&c](const char *key) { return blocktest::joined(c[QLatin1String(key)]).toUtf8(); };
		const auto strings = [&c](const char *key) {
			QStringList out;
			for (const QJsonValue &s : c[QLatin1String(key)].toArray())
				out << blocktest::joined(s);
			return out;
		};
		ZipFileList files = c.contains("document") ? parts(xml("document"), xml("styles"), xml("numbering")) : ZipFileList();
		for (const QJsonValue &part : c.value("parts").toArray())
			files.append({part[0].toString(), blocktest::joined(part[1]).toUtf8()});
		const QByteArray key = c["error"].toString().toUtf8();
		const QString error = key.isEmpty()	      ? QString()
				      : key.endsWith("Refused") ? xmlError(key.constData())
				      : key == "WordXmlError"   ? xmlError()
								: text(key.constData());
		row(qPrintable(c["name"].toString()), files, error, strings("paragraphs"), c.value("simplified").toBool(), strings("checks"),
		    c["fixture"].toString());
	}
}

} // namespace

Q_DECLARE_METATYPE(Case)

class TestWord : public QObject {
	Q_OBJECT

	QTemporaryDir m_dir;

private Q_SLOTS:
	void import_data()
	{
		QTest::addColumn<Case>("c");
		dataRows();
		packageRows();
	}

	void import()
	{
		QFETCH(Case, c);
		const auto &[fixture, parts, raw, size, error, paragraphs, simplified, checks] = c;
		const QString path = fixture.isEmpty() ? m_dir.filePath(QLatin1String(QTest::currentDataTag()) + QStringLiteral(".docx"))
						       : QStringLiteral(QUILLMAR_SOURCE_DIR "/tests/data/docx/") + fixture;
		const QByteArray native = QFile::encodeName(path);
		QString writeError;
		if (!parts.isEmpty())
			QVERIFY2(writeZip(path, parts, writeError), qPrintable(writeError));
		else if (size == kFifo)
			QCOMPARE(::mkfifo(native.constData(), 0600), 0);
		else if (!raw.isEmpty() || size >= 0)
			QVERIFY(test::writeBytes(path, raw) && (size < 0 || QFile::resize(path, size)));
		auto import = std::async(std::launch::async, [path] { return importWordDocument(path); });
		if (import.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
			// Release a reader blocked on the pipe so that the test can end.
			if (const int fd = ::open(native.constData(), O_WRONLY | O_NONBLOCK); fd >= 0)
				::close(fd);
			import.wait();
			QFAIL("the import blocked");
		}
		const WordImportResult result = import.get();
		if (!error.isEmpty()) {
			QVERIFY2(result.error.startsWith(error), qPrintable(result.error));
			QVERIFY(error != xmlError() || result.error.size() > error.size());
			QVERIFY(result.html.isEmpty() && !result.simplified);
			return;
		}
		QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
		QTextDocument note;
		note.setHtml(result.html);
		QCOMPARE(paragraphTexts(note), paragraphs);
		QCOMPARE(result.simplified, simplified);
		for (const QString &check : checks)
			QVERIFY2(mismatch(note, check).isEmpty(), qPrintable(mismatch(note, check)));
		// Hidden text, field instructions and deleted text never come in.
		for (const char *absent : {"SECRET", "PAGE", "REMOVED"})
			QVERIFY2(!result.html.contains(QLatin1String(absent)), absent);
	}

	// Every key the import reports has an English text.
	void localeKeys()
	{
		const QByteArray ini = test::fileBytes(QUILLMAR_SOURCE_DIR "/data/locale/en-US.ini");
		for (const char *key : {"TextLimit", "WordSizeError", "WordOpenError", "WordBodyError", "WordXmlError", "WordDtdRefused",
					"WordNestingRefused", "WordMarkupRefused"})
			QVERIFY2(ini.contains("\n" + QByteArray(key) + "=\""), key);
	}
};

QTEST_MAIN(TestWord)
#include "tst_word.moc"
