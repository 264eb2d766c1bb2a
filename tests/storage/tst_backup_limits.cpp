// The 512 MiB bound of a whole backup, exactly at it and one byte beyond, on both sides. Notes of
// 64 MiB are valid note files padded with JSON white space; nothing holds more than one note in
// memory.

#include "documents/zip.h"
#include "module/text.h"
#include "storage/backup.h"
#include "storage/note_file.h"
#include "test_util.h"

#include <QTemporaryDir>
#include <QUuid>

using namespace quillmar;

class BackupLimitsTest : public QObject {
	Q_OBJECT

private Q_SLOTS:
	// Note files that sum to exactly 512 MiB make an archive that restores in full; one byte
	// more and no archive appears, nor is anything of such an archive staged.
	void totalOfAllNotes()
	{
		QTemporaryDir dir;
		// Together 536870912 bytes with the 200-byte note, one more with the 201-byte one.
		const QList<qint64> sizes = QList<qint64>(7, MaxNoteFileBytes) << MaxNoteFileBytes - 200 << 200 << 201;
		QStringList paths;
		for (const qint64 size : sizes) {
			const QByteArray body = encodeNoteFile(QUuid::createUuid().toString(), "Big", "<p>padded</p>").mid(1);
			paths << dir.filePath(QString::number(paths.size()) + ".json");
			QVERIFY(test::writeBytes(paths.last(), "{" + QByteArray(size - 1 - body.size(), ' ') + body));
		}
		const QStringList exact = paths.mid(0, 9), over = paths.mid(0, 8) << paths[9];
		QString error;
		QVERIFY(!writeBackup(dir.filePath("over.zip"), over, error));
		QCOMPARE(error, text("BackupTooLarge"));
		QVERIFY(!QFile::exists(dir.filePath("over.zip")));
		error.clear();
		QVERIFY2(writeBackup(dir.filePath("exact.zip"), exact, error), qPrintable(error));
		QVERIFY(QFile(dir.filePath("exact.zip")).size() < 4 * 1024 * 1024);
		// An archive one byte over, as another program could make it, one note at a time.
		ZipWriter writer;
		QVERIFY(writer.open(dir.filePath("over.zip"), error));
		for (const QString &path : over)
			QVERIFY(writer.add(QFileInfo(path).fileName(), test::fileBytes(path), error));
		QVERIFY(writer.commit(error));
		for (int i = 0; i < 8; ++i)
			QVERIFY(QFile::remove(paths[i]));

		const QList<RestoreEntry> entries = readBackup(dir.filePath("exact.zip"), dir.filePath("staged"), error);
		QVERIFY2(error.isEmpty(), qPrintable(error));
		QCOMPARE(entries.size(), 9);
		for (int i = 0; i < 9; ++i)
			QCOMPARE(QFileInfo(entries[i].stagedPath).size(), sizes[i]);
		QCOMPARE(test::fileBytes(entries.last().stagedPath), test::fileBytes(paths[8]));
		QVERIFY(QDir(dir.filePath("staged")).removeRecursively());
		QVERIFY(readBackup(dir.filePath("over.zip"), dir.filePath("staged"), error).isEmpty());
		QCOMPARE(error, text("BackupTooLarge"));
		QVERIFY(QDir(dir.filePath("staged")).entryList(QDir::Files | QDir::Hidden).isEmpty());
	}
};

QTEST_MAIN(BackupLimitsTest)
#include "tst_backup_limits.moc"
