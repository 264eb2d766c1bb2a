// The Word import, one table of cases each read through a whole .docx file and checked on the note
// as the dock stores it (its HTML read back). Most cases are data (tests/data/docx/cases.json:
// XML parts, or fixtures written by python-docx, pandoc and LibreOffice); the ones built here are
// too large to spell out or are files of other kinds. Lists are also checked on random numbering
// definitions.

#include "blocks_vectors.h"
#include "documents/blocks_model.h"
#include "documents/word_import.h"
#include "documents/zip.h"
#include "module/text.h"
#include "zip_builder.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

void limitRows()
{
	// Refused at the paragraph limit, before the text is read whole.
	row("text node just under the part limit", parts(paragraph(QByteArray(kWordMaxPartSize - documentXml(paragraph({})).size() - 1, 'x'))),
	    text("TextLimit"));
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
	row("document part over 24 MiB", parts(QByteArray(kWordMaxPartSize, ' ') + paragraph("x")), text("WordBodyError"));
	// A styles part over 24 MiB counts as missing; media larger than any part may be do not spoil
	// the package.
	const QByteArray bold = stylesXml(R"(<w:style w:type="paragraph" w:default="1" w:styleId="Normal"><w:rPr><w:b/></w:rPr></w:style>)");
	fits("styles over 24 MiB", parts(paragraph("plain"), QByteArray(kWordMaxPartSize, ' ') + bold), {"plain"}, {"0|plain|weight|400"});
	fits("media over 24 MiB", parts(paragraph("media")) << ZipFileList{{"word/media/video.bin", QByteArray(65 << 20, '\0')}}, {"media"});
}

void dataRows()
{
	QFile file(QStringLiteral(QUILLMAR_SOURCE_DIR "/tests/data/docx/cases.json"));
	QVERIFY(file.open(QIODevice::ReadOnly));
	const QJsonArray cases = blocktest::expand(QJsonDocument::fromJson(file.readAll()).object().value("cases")).toArray();
	QVERIFY(cases.size() > 100);
	const auto strings = [](const QJsonValue &v) {
		QStringList out;
		for (const QJsonValue &s : v.toArray())
			out << blocktest::joined(s);
		return out;
	};
	for (const QJsonValue &v : cases) {
		const QJsonObject c = v.toObject();
		ZipFileList files;
		if (c.contains("document"))
			files = parts(blocktest::joined(c["document"]).toUtf8(), c.contains("styles") ? stylesXml(blocktest::joined(c["styles"]).toUtf8()) : QByteArray(),
				      c.contains("numbering") ? numberingXml(blocktest::joined(c["numbering"]).toUtf8()) : QByteArray());
		for (const QJsonValue &part : c.value("parts").toArray())
			files.append({part[0].toString(), blocktest::joined(part[1]).toUtf8()});
		const QByteArray key = c["error"].toString().toUtf8();
		const QString error = key.isEmpty()	      ? QString()
				      : key.endsWith("Refused") ? xmlError(key.constData())
				      : key == "WordXmlError"   ? xmlError()
								: text(key.constData());
		row(qPrintable(c["name"].toString()), files, error, strings(c.value("paragraphs")), c.value("simplified").toBool(),
		    strings(c.value("checks")), c["fixture"].toString());
	}
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
		dataRows();
		limitRows();
		packageRows();
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
