// The archive reader and writer. What the writer makes, this reader and archive tools no one here
// wrote (Info-ZIP, bsdtar, 7-Zip, Python's zipfile) read back whole; what those tools made reads
// here; hand-built hostile archives (tests/data/zip/cases.json) are refused, passing on nothing past
// the fault.

#include "documents/zip.h"
#include "module/text.h"
#include "storage/backup.h"
#include "test_util.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <functional>

#include <sys/stat.h>

using namespace quillmar;

namespace {

QString entry(const QString &name, const QByteArray &body)
{
	return name + ' ' + QString::number(body.size()) + ' ' + QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex();
}

// The error key (empty when read whole) and the file entries read up to it.
std::pair<QString, QStringList> readArchive(const QString &path)
{
	ZipReader reader(backupZipLimits());
	bool ok = reader.open(path);
	QStringList entries;
	QByteArray bytes;
	for (size_t i = 0; ok && i < reader.entries().size(); ++i)
		if (!reader.entries()[i].isDirectory() && (ok = reader.extract(int(i), bytes)))
			entries << entry(reader.entries()[i].name, bytes);
	return {ok ? QString() : reader.errorString(), entries};
}

const auto readAll = test::fileBytes;
const QString kData = QStringLiteral(QUILLMAR_SOURCE_DIR "/tests/data/zip/");

} // namespace

class ZipTest : public QObject {
	Q_OBJECT

private:
	QTemporaryDir m_dir;

	QString path(const QString &name) const { return m_dir.filePath(name); }

private Q_SLOTS:
	void ourArchivesRead_data()
	{
		QTest::addColumn<QString>("program"); // none: this reader
		QTest::addColumn<QStringList>("arguments"); // %1 the archive, %2 the output directory
		QTest::newRow("ours") << QString() << QStringList();
		QTest::newRow("unzip") << "unzip" << QStringList{"-q", "-o", "%1", "-d", "%2"};
		QTest::newRow("bsdtar") << "bsdtar" << QStringList{"-xf", "%1", "-C", "%2"};
		QTest::newRow("7z") << "7z" << QStringList{"x", "-y", "-bd", "-o%2", "%1"};
		QTest::newRow("python") << "python3"
					<< QStringList{"-c", "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\nassert z.testzip() is None\n"
							     "z.extractall(sys.argv[2])\n", "%1", "%2"};
	}

	// Every file comes back as written, without a warning; this reader also keeps the order.
	void ourArchivesRead()
	{
		QFETCH(QString, program);
		QFETCH(QStringList, arguments);
		QTemporaryDir dir;
		// Empty, incompressible, long and many files, names in folders and beyond ASCII.
		QRandomGenerator gen(42);
		const auto noise = [&gen](qsizetype size) {
			QByteArray out(size, Qt::Uninitialized);
			for (char &c : out)
				c = char(gen.generate() & 0xFF);
			return out;
		};
		ZipFileList files{{"empty.json", QByteArray()}, {"random.json", noise(1 << 20)},
				  {QStringLiteral("Ünïcode 名前 🎬.json"), QStringLiteral("Grüße ◆[cue]").toUtf8().repeated(200)},
				  {"sub/deep/b.json", QByteArray("<p>Line of the show notes</p>").repeated(10000)}};
		for (int i = 0; i < 300; ++i)
			files.append({QStringLiteral("scene %1.json").arg(i), noise(i * 7)});
		const QString archive = dir.filePath("ours.zip"), out = dir.filePath("out");
		QString error;
		QVERIFY2(writeZip(archive, files, error), qPrintable(error));
		QStringList expected, extracted;
		for (const auto &[name, bytes] : files)
			expected << entry(name, bytes);
		if (program.isEmpty()) {
			QCOMPARE(readArchive(archive), std::make_pair(QString(), expected));
			return;
		}
		QVERIFY(QDir().mkpath(out));
		for (QString &a : arguments)
			a.replace("%1", archive).replace("%2", out);
		QProcess p;
		p.start(program, arguments);
		QVERIFY2(p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0,
			 qPrintable(program + ": " + p.errorString() + p.readAllStandardError() + p.readAllStandardOutput()));
		QDirIterator it(out, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
		while (it.hasNext()) {
			const QFileInfo info(it.next());
			extracted << entry(QDir(out).relativeFilePath(info.filePath()), readAll(info.filePath()));
			// Ordinary readable files, not mode 0000.
			QVERIFY2(info.permissions().testFlags(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther), qPrintable(info.filePath()));
		}
		expected.sort(), extracted.sort();
		QCOMPARE(extracted, expected);
	}

	void archivesRead_data() { test::jsonTable("zip/manifest.json", "archives", "file"); }

	// As the generator's manifest says from Python's own reading of each archive, or the entries
	// passed on before the fault; what a tool made restores in full as a backup.
	void archivesRead()
	{
		QFETCH(QJsonObject, row);
		QString file = kData + row["file"].toString();
		const QString error = row["error"].toString();
		if (row.contains("prefix")) { // a sparse prefix puts the archive at the size it names
			const QByteArray bytes = readAll(file);
			QFile big(file = path("big.zip"));
			QVERIFY(big.open(QIODevice::WriteOnly | QIODevice::Truncate) && big.resize(row["prefix"].toInteger()));
			QVERIFY(big.seek(big.size()) && big.write(bytes) == bytes.size());
		}
		QStringList expected;
		for (const QJsonValue &e : row["entries"].toArray())
			expected << e["name"].toString() + " " + QString::number(e["size"].toInt()) + " " + e["sha256"].toString();
		QCOMPARE(readArchive(file), std::make_pair(error.isEmpty() ? QString() : text(qPrintable(error)), expected));
		if (!error.isEmpty() || !file.contains("/tools/"))
			return;
		QTemporaryDir staging;
		QString restoreError;
		QCOMPARE(readBackup(file, staging.filePath("s"), restoreError).size(), expected.size());
		QCOMPARE(restoreError, QString());
	}

	// Nothing at the target changes unless the whole archive was written.
	void writerFailuresLeaveTargetAlone()
	{
		const QString target = path("keep.zip");
		const QByteArray old = "previous backup";
		QVERIFY(test::writeBytes(target, old));
		QString error;
		{
			ZipWriter writer; // never committed
			QVERIFY(writer.open(target, error) && writer.add("a.json", "x", error));
		}
		// A writer that failed once writes nothing more.
		ZipWriter writer;
		QVERIFY(writer.open(target, error) && writer.add("a.json", "x", error));
		QVERIFY(!writer.add(QString(), "y", error));
		QCOMPARE(error, text("BackupFailed"));
		QVERIFY(!writer.add("b.json", "x", error) && !writer.commit(error));
		QCOMPARE(readAll(target), old);
		QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden).filter("keep"), QStringList{"keep.zip"});

		// A missing folder is not made, a directory not replaced, a link neither replaced nor
		// written through.
		QVERIFY(QDir(m_dir.path()).mkpath("a-directory") && QFile::link(target, path("link.zip")));
		for (const char *bad : {"missing/dir/x.zip", "a-directory", "link.zip"}) {
			error.clear();
			QVERIFY2(!writeZip(path(bad), {{"a.json", "x"}}, error) && !error.isEmpty(), bad);
		}
		QCOMPARE(error, text("BackupFailed"));
		QVERIFY(!QFileInfo::exists(path("missing")) && QFileInfo(path("a-directory")).isDir() && QFileInfo(path("link.zip")).isSymLink());
		QCOMPARE(readAll(target), old);
	}

	// The reader core under other rules, as the Word import uses it: the name rule is the caller's,
	// names alike but for case are refused when the caller asks, and smaller limits apply at open,
	// each one step under what this archive needs; overlapping entries, as zip bombs are made,
	// are refused under any rules.
	void readerCore()
	{
		QByteArray bytes = readAll(kData + "cases/names-only-the-caller-judges.zip");
		QBuffer buffer(&bytes);
		QVERIFY(buffer.open(QIODevice::ReadOnly));
		QVERIFY2(ZipReader(ZipLimits()).open(&buffer), "refused under the default rules");
		QVERIFY(!ZipReader(ZipLimits()).open(kData + "hostile/bomb-full-overlap.zip"));
		const std::function<void(ZipLimits &)> tighter[] = {
			[](ZipLimits &l) { l.acceptName = isSafeZipName; },
			[](ZipLimits &l) { l.uniqueNames = true; },
			[](ZipLimits &l) { l.maxEntrySize = 12; },
			[](ZipLimits &l) { l.maxEntries = 3; },
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

	// Only regular files are opened: no link is followed and no pipe is waited on.
	void readerOpensOnlyRegularFiles()
	{
		QString error;
		QVERIFY(writeZip(path("real.zip"), {{"a.json", "{}"}}, error) && QFile::link(path("real.zip"), path("alias.zip")));
		QVERIFY(::mkfifo(QFile::encodeName(path("pipe.zip")).constData(), 0600) == 0);
		for (const QString &file : {path("alias.zip"), path("pipe.zip"), m_dir.path(), path("absent.zip")})
			QCOMPARE(readArchive(file).first, text("FileReadFailed") + file);
		ZipReader reader;
		QVERIFY(!reader.open(path("absent.zip")) && reader.error() == ZipReader::Error::Io);
	}
};

QTEST_GUILESS_MAIN(ZipTest)
#include "tst_zip.moc"
