#include "documents/zip.h"
#include "module/text.h"
#include "storage/backup.h"
#include "test_util.h"
#include "zip_builder.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#include <sys/stat.h>

using namespace quillmar;
using namespace quillmar::ziptest;

namespace {

struct ReadResult {
	bool ok = false;
	QString error;
	QStringList names;
	QList<QByteArray> bodies;
};

ReadResult readArchive(const QString &path)
{
	ReadResult r;
	r.ok = readZip(
		path, backupZipLimits(),
		[&r](const QString &name, const QByteArray &bytes, QString &) {
			r.names << name;
			r.bodies << bytes;
			return true;
		},
		r.error);
	return r;
}

QByteArray randomBytes(qsizetype size, quint32 seed)
{
	QRandomGenerator gen(seed);
	QByteArray out(size, Qt::Uninitialized);
	for (char &c : out)
		c = char(gen.generate() & 0xFF);
	return out;
}

const auto readAll = test::fileBytes;

const QByteArray NoteBody = "{\"format\":\"OBS-Quillmar\",\"html\":\"<p>Hi</p>\"}";

Archive of(std::vector<Item> items)
{
	Archive a;
	a.items = std::move(items);
	return a;
}

Item named(const QByteArray &name)
{
	return deflated(name, NoteBody);
}

// A sound "a.json" and a changed "b.json": a fault found only while extracting would let the
// first through.
Archive second(const std::function<void(Item &)> &change)
{
	Archive a = of({named("a.json"), named("b.json")});
	change(a.items[1]);
	return a;
}

Archive whole(const std::function<void(Archive &)> &change)
{
	Archive a = of({named("a.json")});
	change(a);
	return a;
}

// One hostile or odd archive and what reading it under the backup rules must give.
struct Case {
	const char *name;
	Archive archive;
	const char *error; // null: accepted
	int consumed;      // entries passed on before the failure, or accepted in total
};

// Layouts of other tools (stored, data descriptors, extra fields, folders) are read in the
// interoperability test from archives those tools made.
std::vector<Case> cases()
{
	const char *invalid = "BackupInvalid";
	Archive many;
	for (int i = 0; i < 10001; ++i)
		many.items.push_back(stored(QByteArray::number(i) + ".json", "{}"));
	return {
		// Accepted variations.
		{"empty deflate entry", of({deflated("a.json", QByteArray())}), nullptr, 1},
		{"directory entries skipped", of({stored("notes/", QByteArray()), named("notes/a.json")}), nullptr, 1},
		{"level hint flags", second([](Item &i) { i.flags = 0x0006; }), nullptr, 2},
		// A fake end record inside the comment must not be taken for the real one.
		{"longest comment", whole([](Archive &a) { a.comment = QByteArray(0xFFFF, 'c').replace(100, 4, "PK\x05\x06"); }),
		 nullptr, 1},

		// Overlaps.
		{"two entries share a local header", second([](Item &i) { i.offset = 0; }), invalid, 0},
		{"data runs into the directory", second([](Item &i) { i.compressedSize += 1; }), invalid, 0},
		{"local header inside the directory", whole([](Archive &a) {
			 a.items.push_back(named("b.json"));
			 a.items[1].offset = a.build().indexOf("PK\x01\x02");
		 }), invalid, 0},

		// Local and central headers that disagree.
		{"flags differ", second([](Item &i) { i.localFlags = 0; }), invalid, 0},
		{"method differs", second([](Item &i) { i.localMethod = 0; }), invalid, 0},
		{"name differs", second([](Item &i) { i.localName = "c.json"; }), invalid, 0},

		// End record and directory.
		{"bytes between directory and end record", whole([](Archive &a) { a.betweenDirectoryAndEnd = "junk"; }),
		 invalid, 0},
		{"directory with trailing bytes", whole([](Archive &a) { a.directoryPadding = QByteArray(46, '\0'); }),
		 invalid, 0},
		// A comment one byte too long for the search span hides the record.
		{"comment past the search span",
		 whole([](Archive &a) { a.comment = QByteArray(0xFFFF, 'c'), a.trailing = "c", a.commentLength = 0xFFFF; }),
		 invalid, 0},
		{"no entries", Archive(), invalid, 0},
		{"only directories", of({stored("notes/", QByteArray())}), invalid, 0},
		{"entry count larger than directory", whole([](Archive &a) { a.total = a.onDisk = 2; }), invalid, 0},
		{"10001 entries", many, invalid, 0},
		{"this disk is 1", whole([](Archive &a) { a.disk = 1; }), invalid, 0},

		// Entry data.
		{"wrong CRC", second([](Item &i) { i.crc ^= 0x80000000u; }), invalid, 1},
		{"inflates to one byte more", second([](Item &i) { i.size -= 1; }), invalid, 1},
		{"deflate stream followed by unused bytes", second([](Item &i) { i.data += "xy", i.compressedSize += 2; }), invalid, 1},
		{"corrupt deflate stream", second([](Item &i) { i.data[0] = char(0xFF); }), invalid, 1},
		{"stored sizes differ", second([](Item &i) { i = stored("b.json", NoteBody), i.size -= 1; }), invalid, 0},
		{"more than deflate can expand to", second([](Item &i) { i.size = i.compressedSize * 1032 + 1; }), invalid, 0},
		{"entry above 64 MiB", second([](Item &i) {
			 i = stored("b.json", NoteBody);
			 i.size = i.compressedSize = 0x4000001;
		 }), invalid, 0},
		{"encrypted", second([](Item &i) { i.flags = 0x0801; }), invalid, 0},
		{"method 12", second([](Item &i) { i.method = 12; }), invalid, 0},

		// Names.
		{"parent component", of({named("../a.json")}), invalid, 0},
		{"leading slash", of({named("/a.json")}), invalid, 0},
		{"backslash", of({named("notes\\a.json")}), invalid, 0},
		{"bad name after a good entry", of({named("a.json"), named("a.json.txt")}), invalid, 0},
	};
}

} // namespace

class ZipTest : public QObject {
	Q_OBJECT

private:
	QTemporaryDir m_dir;
	std::vector<Case> m_cases;

	QString path(const QString &name) const { return m_dir.filePath(name); }

private Q_SLOTS:
	void initTestCase() { QVERIFY(m_dir.isValid()); }

	// What the writer makes, the reader gives back unchanged; the layout is the fixed one, down
	// to the byte: Unix mode 0644, UTF-8 names, the two headers alike, no extras.
	void roundTrip()
	{
		QStringList names{"empty.json", "binary.json", QStringLiteral("Ünïcode 名前 🎬.json"), "notes/deep/x.json"};
		QList<QByteArray> bodies{QByteArray(), randomBytes(1 << 20, 7), QByteArray("é").repeated(5000),
					 QByteArray(300000, 'a')};
		for (int i = 0; i < 500; ++i) {
			names << QStringLiteral("scene %1.json").arg(i);
			bodies << randomBytes(i * 7, quint32(i));
		}
		ZipFileList files;
		Archive expected;
		for (int i = 0; i < names.size(); ++i) {
			files.append({names[i], bodies[i]});
			Item item = deflated(names[i].toUtf8(), bodies[i]);
			item.data = ZipWriter::prepare(names[i], bodies[i]).data;
			item.compressedSize = quint32(item.data.size());
			item.madeBy = 0x0314;
			item.externalAttributes = 0x81A40000u;
			expected.items.push_back(item);
		}
		const QString target = path("round.zip");
		QString error;
		QVERIFY2(writeZip(target, files, error), qPrintable(error));
		QVERIFY(readAll(target) == expected.build());

		const ReadResult r = readArchive(target);
		QVERIFY2(r.ok, qPrintable(r.error));
		QCOMPARE(r.names, names);
		QCOMPARE(r.bodies, bodies);
	}

	// Nothing at the target changes unless the whole archive was written.
	void writerFailuresLeaveTargetAlone()
	{
		const QString target = path("keep.zip");
		const QByteArray old = "previous backup";
		{
			QFile f(target);
			QVERIFY(f.open(QIODevice::WriteOnly) && f.write(old) == old.size());
		}
		QString error;
		{
			ZipWriter writer;
			QVERIFY(writer.open(target, error));
			QVERIFY(writer.add("a.json", "never committed", error));
		}
		// A writer that failed once writes nothing more.
		ZipWriter writer;
		QVERIFY(writer.open(target, error));
		QVERIFY(writer.add("a.json", "x", error));
		QVERIFY(!writer.add(QString(), "y", error));
		QCOMPARE(error, text("BackupFailed"));
		QVERIFY(!writer.add("b.json", "x", error));
		QVERIFY(!writer.commit(error));
		QCOMPARE(readAll(target), old);
		QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden).filter("keep"), QStringList{"keep.zip"});

		// A missing folder is not made, a directory not replaced, a link neither replaced nor
		// written through.
		QVERIFY(QDir(m_dir.path()).mkpath("a-directory"));
		QVERIFY(QFile::link(target, path("link.zip")));
		for (const char *bad : {"missing/dir/x.zip", "a-directory", "link.zip"}) {
			error.clear();
			QVERIFY2(!writeZip(path(bad), {{"a.json", "x"}}, error), bad);
			QVERIFY(!error.isEmpty());
		}
		QCOMPARE(error, text("BackupFailed"));
		QVERIFY(!QFileInfo::exists(path("missing")));
		QVERIFY(QFileInfo(path("a-directory")).isDir());
		QVERIFY(QFileInfo(path("link.zip")).isSymLink());
		QCOMPARE(readAll(target), old);
	}

	void hostile_data()
	{
		QTest::addColumn<int>("index");
		m_cases = cases();
		for (size_t i = 0; i < m_cases.size(); ++i)
			QTest::newRow(m_cases[i].name) << int(i);
	}

	// Each archive is read under the backup rules: accepted as it should be, or refused with
	// the right key, passing on nothing that lies past the fault.
	void hostile()
	{
		QFETCH(int, index);
		const Case &c = m_cases[size_t(index)];
		QVERIFY(c.archive.save(path("case.zip")));
		const ReadResult r = readArchive(path("case.zip"));
		QVERIFY2(r.ok == !c.error, qPrintable(r.error));
		QCOMPARE(r.error, c.error ? text(c.error) : QString());
		QCOMPARE(r.names.size(), c.consumed);
		for (const QByteArray &body : r.bodies)
			QVERIFY(body == NoteBody || body.isEmpty());
	}

	void archiveSizes()
	{
		// Below the smallest archive.
		QFile small(path("small.zip"));
		QVERIFY(small.open(QIODevice::WriteOnly));
		small.write(QByteArray("PK\x05\x06", 4) + QByteArray(17, '\0'));
		small.close();
		QCOMPARE(readArchive(small.fileName()).error, text("BackupInvalid"));

		// A sound archive behind a sparse prefix: accepted at exactly the limit, refused one
		// byte above it.
		for (const qint64 size : {qint64(0x21000000), qint64(0x21000001)}) {
			Archive moved = of({named("a.json")});
			const qint64 length = moved.build().size();
			moved.base = quint32(size - length);
			QFile big(path("big.zip"));
			QVERIFY(big.open(QIODevice::WriteOnly | QIODevice::Truncate));
			QVERIFY(big.resize(moved.base) && big.seek(moved.base));
			QCOMPARE(big.write(moved.build()), length);
			big.close();
			const ReadResult r = readArchive(big.fileName());
			QCOMPARE(r.names.size(), size == 0x21000000 ? 1 : 0);
			QCOMPARE(r.error, r.ok ? QString() : text("BackupInvalid"));
			QVERIFY(big.remove());
		}
	}

	// The reader core as other importers use it: other limits and name rules, lookup by name,
	// one entry at a time, from any random-access device.
	void readerCore()
	{
		QByteArray bytes = of({stored("word/", QByteArray()), deflated("word/document.xml", "<w:document/>"),
				       deflated("[Content_Types].xml", "<Types/>"), stored("../odd name", "x"),
				       deflated("Word/Document.XML", "b")})
					   .build();
		QBuffer buffer(&bytes);
		QVERIFY(buffer.open(QIODevice::ReadOnly));
		ZipReader reader{ZipLimits()};
		QVERIFY2(reader.open(&buffer), qPrintable(reader.errorString()));
		QCOMPARE(reader.entries().size(), size_t(5));
		QVERIFY(reader.entries()[0].isDirectory());
		QCOMPARE(reader.entries()[1].size, 13u);
		QCOMPARE(reader.indexOf("Word/Document.XML"), 4);
		QCOMPARE(reader.indexOf("WORD/Document.xml"), -1);
		QCOMPARE(reader.indexOf("WORD/Document.xml", Qt::CaseInsensitive), 1);
		QByteArray out;
		QVERIFY(reader.extract(2, out));
		QCOMPARE(out, QByteArray("<Types/>"));
		QVERIFY(reader.extract(1, out));
		QCOMPARE(out, QByteArray("<w:document/>"));
		QVERIFY(!reader.extract(9, out));
		QCOMPARE(reader.error(), ZipReader::Error::Invalid);
		QVERIFY(out.isEmpty());

		// The name rule is the caller's, names alike but for case are refused when the caller
		// asks, and smaller limits apply at open: each is one step under what this archive needs.
		const std::function<void(ZipLimits &)> tighter[] = {
			[](ZipLimits &l) { l.acceptName = isSafeZipName; },
			[](ZipLimits &l) { l.uniqueNames = true; },
			[](ZipLimits &l) { l.maxEntrySize = 12; },
			[](ZipLimits &l) { l.maxEntries = 4; },
			[&bytes](ZipLimits &l) { l.maxArchiveSize = bytes.size() - 1; },
		};
		for (const auto &tighten : tighter) {
			ZipLimits limits;
			tighten(limits);
			ZipReader strict(limits);
			QVERIFY(!strict.open(&buffer));
			QCOMPARE(strict.errorString(), text("BackupInvalid"));
			QVERIFY(strict.entries().empty());
		}
	}

	// Two entries on one local header, as overlapping zip bombs are made, under any rules.
	void overlappingEntries()
	{
		QByteArray bomb = second([](Item &i) { i.name = "a.json", i.offset = 0; }).build();
		QBuffer buffer(&bomb);
		QVERIFY(buffer.open(QIODevice::ReadOnly));
		ZipReader reader{ZipLimits()};
		QVERIFY(!reader.open(&buffer));
	}

	// Only regular files are opened: no link is followed and no pipe is waited on.
	void readerOpensOnlyRegularFiles()
	{
		QString error;
		QVERIFY(writeZip(path("real.zip"), {{"a.json", NoteBody}}, error));
		QVERIFY(QFile::link(path("real.zip"), path("alias.zip")));
		QVERIFY(::mkfifo(QFile::encodeName(path("pipe.zip")).constData(), 0600) == 0);
		for (const QString &file : {path("alias.zip"), path("pipe.zip"), m_dir.path(), path("absent.zip")}) {
			const ReadResult r = readArchive(file);
			QVERIFY(!r.ok);
			QCOMPARE(r.error, text("FileReadFailed") + file);
		}
		ZipReader reader;
		QVERIFY(!reader.open(path("absent.zip")));
		QCOMPARE(reader.error(), ZipReader::Error::Io);
	}

	// A consumer's failure ends the read with the consumer's own error.
	void consumerFailureStops()
	{
		QString error;
		QVERIFY(writeZip(path("three.zip"), {{"a.json", "1"}, {"b.json", "2"}, {"c.json", "3"}}, error));
		int calls = 0;
		const auto consumer = [&calls](const QString &name, const QByteArray &, QString &e) {
			++calls;
			e = "consumer said no";
			return name != "b.json";
		};
		QVERIFY(!readZip(path("three.zip"), backupZipLimits(), consumer, error));
		QCOMPARE(calls, 2);
		QCOMPARE(error, QString("consumer said no"));
	}
};

QTEST_GUILESS_MAIN(ZipTest)
#include "tst_zip.moc"
