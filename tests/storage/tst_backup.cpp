#include "documents/zip.h"
#include "module/text.h"
#include "storage/backup.h"
#include "storage/note_file.h"
#include "test_util.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUuid>

#include <cstring>

using namespace quillmar;

namespace {

const QString IdA = "{3f2b8a1e-6c1d-4e59-9a61-0d3c2f8b7e11}";
const QString IdB = "{9c0e7d52-1b4a-4f83-8e2d-5a6b7c8d9e10}";
const QString IdC = "{0a1b2c3d-4e5f-4061-8273-94a5b6c7d8e9}";

const auto readAll = test::fileBytes;

// The path written, or an empty string.
QString writeAll(const QString &path, const QByteArray &bytes)
{
	QFile file(path);
	return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() ? path : QString();
}

QByteArray note(const QString &sceneId, const QString &html = "<p>Welcome to the show</p>")
{
	return encodeNoteFile(sceneId, "Scene " + sceneId.mid(1, 4), html);
}

QByteArray paragraph(int characters)
{
	return "<p>" + QByteArray(characters, 'a') + "</p>";
}

} // namespace

class BackupTest : public QObject {
	Q_OBJECT

private:
	QTemporaryDir m_dir;
	int m_serial = 0;

	// A fresh directory for each case, so that stray files of one cannot hide in another's.
	QString freshDir()
	{
		const QString dir = m_dir.filePath(QString::number(++m_serial));
		QDir().mkpath(dir);
		return dir;
	}

private Q_SLOTS:
	void initTestCase() { QVERIFY(m_dir.isValid()); }

	// Written and restored on a worker thread, as the dock does. One note to a ".json" name is
	// the note file itself; several make an archive of the files under their own names in the
	// order given. Each restores byte for byte as 0.json, 1.json, ..., in archive order, and so do
	// archives from elsewhere with folders.
	void roundTrips()
	{
		const QString dir = freshDir();
		const QList<QByteArray> bytes = {note(IdA), note(IdB, QString(paragraph(10000))),
						 note(IdC, QStringLiteral("<p><b>Grüße</b> ◆[cue] 名前</p>"))};
		const QStringList names = {"zeta.json", "Alpha.json", QStringLiteral("Ünïcode 名前.json")};
		QStringList paths;
		ZipFileList foreign;
		for (int i = 0; i < 3; ++i) {
			paths << writeAll(dir + "/" + names[i], bytes[i]);
			foreign.append({QStringList{"notes/zeta.json", "notes/sub/alpha.JSON", "c.json"}[i], bytes[i]});
		}
		const QStringList backups = {dir + "/SCENE.JSON", dir + "/backup.zip", dir + "/foreign.zip"};
		QString error;
		QVERIFY(writeZip(backups[2], foreign, error));
		QList<QList<RestoreEntry>> restored;
		QThread *thread = QThread::create([&] {
			if (writeBackup(backups[0], {paths[2]}, error) && writeBackup(backups[1], paths, error)) {
				for (const QString &backup : backups)
					restored << readBackup(backup, backup + ".staged", error);
			}
		});
		thread->start();
		QVERIFY(thread->wait(30000));
		delete thread;
		QVERIFY2(error.isEmpty(), qPrintable(error));
		QCOMPARE(readAll(backups[0]), bytes[2]);
		ZipReader reader;
		QVERIFY(reader.open(backups[1]));
		QCOMPARE(reader.entries().size(), size_t(3));
		for (int i = 0; i < 3; ++i)
			QCOMPARE(reader.entries()[size_t(i)].name, names[i]);

		const QStringList ids = {IdA, IdB, IdC};
		QCOMPARE(restored.size(), 3);
		for (int run = 0; run < 3; ++run) {
			const int first = run == 0 ? 2 : 0;
			const QString staging = backups[run] + ".staged";
			QCOMPARE(restored[run].size(), 3 - first);
			QCOMPARE(QDir(staging).entryList(QDir::Files | QDir::Hidden).size(), 3 - first);
			for (int i = first; i < 3; ++i) {
				const RestoreEntry &entry = restored[run][i - first];
				QCOMPARE(entry.stagedPath, QStringLiteral("%1/%2.json").arg(staging).arg(i - first));
				QCOMPARE(entry.sceneId, ids[i]);
				QCOMPARE(readAll(entry.stagedPath), bytes[i]);
			}
		}

		// A single note is not read through a link either.
		QVERIFY(QFile::link(paths[0], dir + "/link.json"));
		QVERIFY(readBackup(dir + "/link.json", dir + "/staging-link", error).isEmpty());
		QCOMPARE(error, text("FileReadFailed") + dir + "/link.json");
	}

	void writeFailuresLeaveTarget_data()
	{
		QTest::addColumn<QString>("target");
		QTest::addColumn<QString>("fault");
		for (const char *target : {"backup.zip", "backup.json"}) {
			for (const char *fault : {"invalid", "missing", "link", "large"})
				QTest::addRow("%s %s", target, fault) << target << fault;
		}
		QTest::newRow("same scene twice") << "backup.zip" << "duplicate";
		QTest::newRow("same scene in another spelling") << "backup.zip" << "duplicate spelling";
		QTest::newRow("two notes to a note file") << "backup.json" << "two";
		QTest::newRow("no notes") << "backup.zip" << "none";
		QTest::newRow("10001 notes") << "backup.zip" << "10001";
	}

	// Whatever goes wrong, no backup appears, an existing one stays as it was, and nothing else
	// is left behind.
	void writeFailuresLeaveTarget()
	{
		QFETCH(QString, target);
		QFETCH(QString, fault);
		const QString dir = freshDir();
		const QString good = writeAll(dir + "/good.json", note(IdA));
		const QString bad = dir + "/bad.json";
		QStringList paths = target.endsWith(".json") ? QStringList{bad} : QStringList{good, bad};
		QString expected = text("BackupInvalid");
		if (fault == "invalid") {
			QVERIFY(!writeAll(bad, R"({"format":"OBS-Quillmar","version":2})").isEmpty());
		} else if (fault == "missing" || fault == "link") {
			QVERIFY(fault == "missing" || QFile::link(good, bad));
			expected = text("FileReadFailed") + bad;
		} else if (fault == "large") {
			QFile big(bad);
			QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(64 * 1024 * 1024 + 1));
			expected = text("BackupTooLarge");
		} else if (fault == "two") {
			QVERIFY(!writeAll(bad, note(IdB)).isEmpty());
			paths = {good, bad};
			expected = text("BackupSingleNote");
		} else if (fault == "none" || fault == "10001") {
			paths = fault == "none" ? QStringList() : QStringList(10001, good);
			expected = text("BackupEmpty");
		} else {
			QVERIFY(!writeAll(bad, note(fault == "duplicate" ? IdA : IdA.mid(1, 36).toUpper())).isEmpty());
		}

		const QString path = dir + "/" + target;
		for (const bool existing : {false, true}) {
			QVERIFY(!existing || !writeAll(path, "the previous backup").isEmpty());
			const QStringList before = QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System);
			QString error;
			QVERIFY(!writeBackup(path, paths, error));
			QCOMPARE(error, expected);
			QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System), before);
		}
		QCOMPARE(readAll(path), QByteArray("the previous backup"));
	}

	void restoreRefusals_data()
	{
		QTest::addColumn<QList<QByteArray>>("entries");
		QTest::addColumn<QString>("error");
		// The last entry restored alone, as a single-note backup.
		QTest::addColumn<QString>("lastAlone");
		QTest::newRow("paragraph of 10000")
			<< QList<QByteArray>{note(IdA, paragraph(10000))} << QString() << QString();
		QTest::newRow("paragraph of 10001")
			<< QList<QByteArray>{note(IdA), note(IdB, paragraph(10001))} << "TextLimit" << "TextLimit";
		QTest::newRow("same scene twice")
			<< QList<QByteArray>{note(IdA), note(IdA, "<p>other</p>")} << "BackupInvalid" << QString();
		QTest::newRow("same scene without braces")
			<< QList<QByteArray>{note(IdA), note(IdA.mid(1, 36))} << "BackupInvalid" << QString();
		QTest::newRow("not a note")
			<< QList<QByteArray>{note(IdA), QByteArray("{\"notes\":[]}")} << "BackupInvalid" << "BackupInvalid";
	}

	// Every entry is a valid note within the limits, for a scene of its own; else nothing is
	// restored.
	void restoreRefusals()
	{
		QFETCH(QList<QByteArray>, entries);
		QFETCH(QString, error);
		QFETCH(QString, lastAlone);
		const QString dir = freshDir();
		ZipFileList files;
		for (int i = 0; i < entries.size(); ++i)
			files.append({QStringLiteral("note %1.json").arg(i), entries[i]});
		QString readError;
		QVERIFY(writeZip(dir + "/b.zip", files, readError));
		const QList<RestoreEntry> restored = readBackup(dir + "/b.zip", dir + "/staging", readError);
		QCOMPARE(restored.size(), error.isEmpty() ? entries.size() : 0);
		QCOMPARE(readError, error.isEmpty() ? QString() : text(qPrintable(error)));

		const QString single = writeAll(dir + "/last.json", entries.last());
		readError.clear();
		const QList<RestoreEntry> one = readBackup(single, dir + "/staging-single", readError);
		QCOMPARE(one.size(), lastAlone.isEmpty() ? 1 : 0);
		QCOMPARE(readError, lastAlone.isEmpty() ? QString() : text(qPrintable(lastAlone)));
	}

	// Staging writes only new files: whatever already lies in the staging directory, a link
	// above all, is neither replaced nor written through.
	void stagingWritesOnlyNewFiles()
	{
		const QString dir = freshDir();
		const QString source = writeAll(dir + "/a.json", note(IdA));
		QVERIFY(!writeAll(dir + "/victim", "keep me").isEmpty());
		QVERIFY(QDir().mkpath(dir + "/staging"));
		QVERIFY(QFile::link(dir + "/victim", dir + "/staging/0.json"));
		QString error;
		QVERIFY(readBackup(source, dir + "/staging", error).isEmpty());
		QVERIFY(!error.isEmpty());
		QCOMPARE(readAll(dir + "/victim"), QByteArray("keep me"));
		QVERIFY(QFileInfo(dir + "/staging/0.json").isSymLink());
	}

	// A file system that fills up halfway: the error is the device's; the previous backup
	// stays and no temporary file is left; a restore stops.
	void fullDisk()
	{
		const QString dir = freshDir();
		// Four notes of 180000 hexadecimal digits: half as large deflated, over 256 KiB together.
		QStringList paths;
		for (int n = 0; n < 4; ++n) {
			QString html;
			for (int p = 0; p < 20; ++p) {
				QByteArray noise(4500, Qt::Uninitialized);
				for (char &c : noise)
					c = char(QRandomGenerator::global()->bounded(256));
				html += "<p>" + QString::fromLatin1(noise.toHex()) + "</p>";
			}
			paths << writeAll(QStringLiteral("%1/%2.json").arg(dir).arg(n), note(QUuid::createUuid().toString(), html));
		}
		QString error;
		QVERIFY(writeBackup(dir + "/fits.zip", paths, error));
		const QString small = dir + "/small";
		QVERIFY(QDir().mkpath(small));
		// Root needs a real file system to run out of space.
		const QString why = test::mountPrivateTmpfs(small, "size=256k");
		QVERIFY2(why.isEmpty(), qPrintable(why));
		const QString full = QString::fromLocal8Bit(strerror(ENOSPC));

		QVERIFY(!writeAll(small + "/backup.zip", "the previous backup").isEmpty());
		QVERIFY(!writeBackup(small + "/backup.zip", paths, error));
		QCOMPARE(error, full);
		QCOMPARE(readAll(small + "/backup.zip"), QByteArray("the previous backup"));
		QCOMPARE(QDir(small).entryList(QDir::Files | QDir::Hidden), QStringList{"backup.zip"});

		error.clear();
		QVERIFY(readBackup(dir + "/fits.zip", small + "/staging", error).isEmpty());
		QCOMPARE(error, full);
		test::unmount(small);
	}

	// Notes are checked side by side, but the failure reported is the first in order, even when
	// a later note fails much sooner.
	void firstFailureInOrder()
	{
		const QString dir = freshDir();
		// Slow to check and over the limits: 2001 paragraphs of 100 characters in one, and a
		// 10001-character paragraph at the end.
		QString slow = QString(paragraph(100)).repeated(2000) + QString(paragraph(10001));
		ZipFileList files;
		QStringList paths;
		for (int i = 0; i < 6; ++i) {
			files.append({QStringLiteral("%1.json").arg(i), note(QUuid::createUuid().toString())});
			paths << writeAll(QStringLiteral("%1/n%2.json").arg(dir).arg(i), files.last().second);
		}
		files.append({"slow.json", note(IdA, slow)});
		files.append({QStringLiteral("broken.json"), QByteArray("{\"format\":\"OBS-Quillmar\"}")});
		for (int i = 0; i < 6; ++i)
			files.append({QStringLiteral("z%1.json").arg(i), note(IdB)});
		QString error;
		QVERIFY(writeZip(dir + "/b.zip", files, error));
		QVERIFY(readBackup(dir + "/b.zip", dir + "/staging", error).isEmpty());
		QCOMPARE(error, text("TextLimit"));

		// Writing: a large file that is not a note comes before a missing one.
		QByteArray wrongVersion = note(IdC, QString(paragraph(100)).repeated(200000));
		wrongVersion.replace("\"version\":1", "\"version\":2");
		paths << writeAll(dir + "/wrong.json", wrongVersion) << dir + "/missing.json";
		QVERIFY(!writeBackup(dir + "/out.zip", paths, error));
		QCOMPARE(error, text("BackupInvalid"));
		QVERIFY(!QFileInfo::exists(dir + "/out.zip"));
	}
};

QTEST_MAIN(BackupTest)
#include "tst_backup.moc"
