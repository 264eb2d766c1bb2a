#include "documents/zip.h"
#include "module/text.h"
#include "storage/backup.h"
#include "storage/note_file.h"
#include "test_util.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUuid>

#include <cstring>
#include <memory>

using namespace quillmar;
using test::fileBytes;

namespace {

const QString IdA = "{3f2b8a1e-6c1d-4e59-9a61-0d3c2f8b7e11}";
const QString IdB = "{9c0e7d52-1b4a-4f83-8e2d-5a6b7c8d9e10}";
const QString IdC = "{0a1b2c3d-4e5f-4061-8273-94a5b6c7d8e9}";

// The path written, or an empty string.
QString put(const QString &path, const QByteArray &bytes) { return test::writeBytes(path, bytes) ? path : QString(); }

QByteArray note(const QString &sceneId, const QString &html = "<p>Welcome to the show</p>")
{
	return encodeNoteFile(sceneId, "Scene " + sceneId.mid(1, 4), html);
}

QString paragraph(int characters) { return "<p>" + QString(characters, 'a') + "</p>"; }

// The notes of an archive, its restore's error, and the error restoring its last note alone.
using RestoreRow = std::tuple<QList<QByteArray>, QString, QString>;

} // namespace

Q_DECLARE_METATYPE(RestoreRow)

class BackupTest : public QObject {
	Q_OBJECT

	// A fresh folder for each case, so that stray files of one cannot hide in another's.
	std::unique_ptr<QTemporaryDir> m_dir;
	QString m_d, m_error;

private Q_SLOTS:
	void init()
	{
		m_dir = std::make_unique<QTemporaryDir>();
		m_d = m_dir->path();
		m_error.clear();
	}

	// One note to a ".json" name is the note file itself; several make an archive of the files
	// under their own names in the order given. Each restores byte for byte as 0.json, 1.json,
	// ..., in archive order, and so do archives from elsewhere with folders.
	void roundTrips()
	{
		const QList<QByteArray> bytes = {note(IdA), note(IdB, paragraph(10000)), note(IdC, "<p><b>Grüße</b> ◆[cue] 名前</p>")};
		const QStringList names = {"zeta.json", "Alpha.json", "Ünïcode 名前.json"};
		const QStringList backups = {m_d + "/SCENE.JSON", m_d + "/backup.zip", m_d + "/foreign.zip"};
		QStringList paths;
		ZipFileList foreign;
		for (int i = 0; i < 3; ++i) {
			paths << put(m_d + "/" + names[i], bytes[i]);
			foreign.append({QStringList{"notes/zeta.json", "notes/sub/alpha.JSON", "c.json"}[i], bytes[i]});
		}
		QVERIFY(writeZip(backups[2], foreign, m_error) && writeBackup(backups[0], {paths[2]}, m_error) && writeBackup(backups[1], paths, m_error));
		QList<QList<RestoreEntry>> restored;
		for (const QString &backup : backups)
			restored << readBackup(backup, backup + ".staged", m_error);
		QVERIFY2(m_error.isEmpty(), qPrintable(m_error));
		QCOMPARE(fileBytes(backups[0]), bytes[2]);
		ZipReader reader;
		QVERIFY(reader.open(backups[1]));
		for (int i = 0; i < 3; ++i)
			QCOMPARE(reader.entries()[i].name, names[i]);
		for (int run = 0; run < 3; ++run) {
			const int first = run == 0 ? 2 : 0;
			QCOMPARE(restored[run].size(), 3 - first);
			for (int i = first; i < 3; ++i) {
				const RestoreEntry &entry = restored[run][i - first];
				QCOMPARE(entry.stagedPath + entry.sceneId, backups[run] + ".staged/" + QString::number(i - first) + ".json" + (QStringList{IdA, IdB, IdC}[i]));
				QCOMPARE(fileBytes(entry.stagedPath), bytes[i]);
			}
		}
	}

	void writeFailuresLeaveTarget_data()
	{
		QTest::addColumn<QString>("target");
		QTest::addColumn<QString>("fault");
		for (const char *target : {"backup.zip", "backup.json"})
			for (const char *fault : {"invalid", "missing", "link", "large"})
				QTest::addRow("%s %s", target, fault) << target << fault;
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
		const QString good = put(m_d + "/good.json", note(IdA)), bad = m_d + "/bad.json";
		QStringList paths = target.endsWith(".json") ? QStringList{bad} : QStringList{good, bad};
		QString expected = text("BackupInvalid");
		if (fault == "invalid") {
			QVERIFY(!put(bad, R"({"format":"OBS-Quillmar","version":2})").isEmpty());
		} else if (fault == "missing" || fault == "link") {
			QVERIFY(fault == "missing" || QFile::link(good, bad));
			expected = text("FileReadFailed") + bad;
		} else if (fault == "large") {
			QVERIFY(!put(bad, "").isEmpty() && QFile::resize(bad, MaxNoteFileBytes + 1));
			expected = text("BackupTooLarge");
		} else if (fault == "two") {
			paths = {good, put(bad, note(IdB))};
			expected = text("BackupSingleNote");
		} else if (fault == "none" || fault == "10001") {
			paths = fault == "none" ? QStringList() : QStringList(10001, good);
			expected = text("BackupEmpty");
		} else {
			QVERIFY(!put(bad, note(IdA.mid(1, 36).toUpper())).isEmpty());
		}
		const QString path = m_d + "/" + target;
		for (const bool existing : {false, true}) {
			QVERIFY(!existing || !put(path, "the previous backup").isEmpty());
			const QStringList before = QDir(m_d).entryList(QDir::AllEntries | QDir::Hidden | QDir::System);
			QVERIFY(!writeBackup(path, paths, m_error));
			QCOMPARE(m_error, expected);
			QCOMPARE(QDir(m_d).entryList(QDir::AllEntries | QDir::Hidden | QDir::System), before);
		}
		QCOMPARE(fileBytes(path), QByteArray("the previous backup"));
	}

	void restoreRefusals_data()
	{
		QTest::addColumn<RestoreRow>("row");
		QTest::newRow("paragraph of 10000") << RestoreRow{{note(IdA, paragraph(10000))}, "", ""};
		QTest::newRow("paragraph of 10001") << RestoreRow{{note(IdA), note(IdB, paragraph(10001))}, "TextLimit", "TextLimit"};
		QTest::newRow("same scene without braces") << RestoreRow{{note(IdA), note(IdA.mid(1, 36))}, "BackupInvalid", ""};
		QTest::newRow("not a note") << RestoreRow{{note(IdA), "{\"notes\":[]}"}, "BackupInvalid", "BackupInvalid"};
	}

	// Every entry is a valid note within the limits, for a scene of its own; else nothing is
	// restored.
	void restoreRefusals()
	{
		QFETCH(RestoreRow, row);
		const auto &[entries, error, lastAlone] = row;
		ZipFileList files;
		for (int i = 0; i < entries.size(); ++i)
			files.append({QStringLiteral("note %1.json").arg(i), entries[i]});
		QVERIFY(writeZip(m_d + "/b.zip", files, m_error));
		QCOMPARE(readBackup(m_d + "/b.zip", m_d + "/staging", m_error).size(), error.isEmpty() ? entries.size() : 0);
		QCOMPARE(m_error, error.isEmpty() ? QString() : text(qPrintable(error)));
		m_error.clear();
		QCOMPARE(readBackup(put(m_d + "/last.json", entries.last()), m_d + "/single", m_error).size(), lastAlone.isEmpty() ? 1 : 0);
		QCOMPARE(m_error, lastAlone.isEmpty() ? QString() : text(qPrintable(lastAlone)));
	}

	// Staging writes only new files: whatever already lies in the staging folder, a link above
	// all, is neither replaced nor written through.
	void stagingWritesOnlyNewFiles()
	{
		QVERIFY(!put(m_d + "/victim", "keep me").isEmpty() && QDir().mkpath(m_d + "/staging") && QFile::link(m_d + "/victim", m_d + "/staging/0.json"));
		QVERIFY(readBackup(put(m_d + "/a.json", note(IdA)), m_d + "/staging", m_error).isEmpty() && !m_error.isEmpty());
		QCOMPARE(fileBytes(m_d + "/victim"), QByteArray("keep me"));
		QVERIFY(QFileInfo(m_d + "/staging/0.json").isSymLink());
	}

	// A file system that fills up halfway: the error is the device's; the previous backup stays
	// and no temporary file is left; a restore stops.
	void fullDisk()
	{
		// Four notes of 180000 hexadecimal digits: half as large deflated, over 256 KiB together.
		QStringList paths;
		for (int n = 0; n < 4; ++n) {
			QString html;
			for (int p = 0; p < 20; ++p) {
				quint32 noise[1125];
				QRandomGenerator::global()->fillRange(noise);
				html += "<p>" + QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(noise), sizeof noise).toHex()) + "</p>";
			}
			paths << put(m_d + "/" + QString::number(n) + ".json", note(QUuid::createUuid().toString(), html));
		}
		QVERIFY(writeBackup(m_d + "/fits.zip", paths, m_error));
		// Root needs a real file system to run out of space.
		const QString small = m_d + "/small", why = test::mountPrivateTmpfs(small, "size=256k");
		QVERIFY2(why.isEmpty(), qPrintable(why));
		const QString full = QString::fromLocal8Bit(strerror(ENOSPC));
		QVERIFY(!put(small + "/backup.zip", "the previous backup").isEmpty() && !writeBackup(small + "/backup.zip", paths, m_error));
		QCOMPARE(m_error, full);
		QCOMPARE(fileBytes(small + "/backup.zip"), QByteArray("the previous backup"));
		QCOMPARE(QDir(small).entryList(QDir::Files | QDir::Hidden), QStringList{"backup.zip"});
		QVERIFY(readBackup(m_d + "/fits.zip", small + "/staging", m_error).isEmpty());
		QCOMPARE(m_error, full);
		test::unmount(small);
	}

	// Notes are checked side by side, but the failure reported is the first in order, even when
	// a later note fails much sooner.
	void firstFailureInOrder()
	{
		// Slow to check and over the limits: 2000 paragraphs, then one of 10001 characters.
		ZipFileList files;
		QStringList paths;
		for (int i = 0; i < 6; ++i) {
			files.append({QString::number(i) + ".json", note(QUuid::createUuid().toString())});
			paths << put(m_d + "/n" + QString::number(i) + ".json", files.last().second);
		}
		files.append({"slow.json", note(IdA, paragraph(100).repeated(2000) + paragraph(10001))});
		files.append({"broken.json", QByteArray("{\"format\":\"OBS-Quillmar\"}")});
		for (int i = 0; i < 6; ++i)
			files.append({"z" + QString::number(i) + ".json", note(IdB)});
		QVERIFY(writeZip(m_d + "/b.zip", files, m_error) && readBackup(m_d + "/b.zip", m_d + "/staging", m_error).isEmpty());
		QCOMPARE(m_error, text("TextLimit"));
		// Writing: a large file that is not a note comes before a missing one.
		paths << put(m_d + "/wrong.json", note(IdC, paragraph(100).repeated(200000)).replace("\"version\":1", "\"version\":2"));
		QVERIFY(!writeBackup(m_d + "/out.zip", paths << m_d + "/missing.json", m_error) && !QFileInfo::exists(m_d + "/out.zip"));
		QCOMPARE(m_error, text("BackupInvalid"));
	}

	// Note files that sum to exactly 512 MiB make an archive that restores in full; one byte
	// more and no archive appears, nor is anything of such an archive staged. Notes of 64 MiB are
	// valid note files padded with JSON white space.
	void totalOfAllNotes()
	{
		// Together 536870912 bytes with the 200-byte note, one more with the 201-byte one.
		const QList<qint64> sizes = QList<qint64>(7, MaxNoteFileBytes) << MaxNoteFileBytes - 200 << 200 << 201;
		QStringList paths;
		for (const qint64 size : sizes) {
			const QByteArray body = note(QUuid::createUuid().toString()).mid(1);
			paths << put(m_d + "/" + QString::number(paths.size()) + ".json", "{" + QByteArray(size - 1 - body.size(), ' ') + body);
		}
		const QStringList exact = paths.mid(0, 9), over = paths.mid(0, 8) << paths[9];
		QVERIFY(!writeBackup(m_d + "/over.zip", over, m_error) && !QFile::exists(m_d + "/over.zip"));
		QCOMPARE(std::exchange(m_error, QString()), text("BackupTooLarge"));
		QVERIFY2(writeBackup(m_d + "/exact.zip", exact, m_error), qPrintable(m_error));
		QVERIFY(QFileInfo(m_d + "/exact.zip").size() < 4 * 1024 * 1024);
		// An archive one byte over, as another program could make it, one note at a time.
		ZipWriter writer;
		QVERIFY(writer.open(m_d + "/over.zip", m_error));
		for (const QString &path : over)
			QVERIFY(writer.add(QFileInfo(path).fileName(), fileBytes(path), m_error));
		QVERIFY(writer.commit(m_error));
		for (int i = 0; i < 8; ++i)
			QVERIFY(QFile::remove(paths[i]));
		const QList<RestoreEntry> entries = readBackup(m_d + "/exact.zip", m_d + "/staged", m_error);
		QVERIFY2(m_error.isEmpty() && entries.size() == 9, qPrintable(m_error));
		for (int i = 0; i < 9; ++i)
			QCOMPARE(QFileInfo(entries[i].stagedPath).size(), sizes[i]);
		QCOMPARE(fileBytes(entries.last().stagedPath), fileBytes(paths[8]));
		QVERIFY(QDir(m_d + "/staged").removeRecursively() && readBackup(m_d + "/over.zip", m_d + "/staged", m_error).isEmpty());
		QCOMPARE(m_error, text("BackupTooLarge"));
		QVERIFY(QDir(m_d + "/staged").entryList(QDir::Files | QDir::Hidden).isEmpty());
	}
};

QTEST_MAIN(BackupTest)
#include "tst_backup.moc"
