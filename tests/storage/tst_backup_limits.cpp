// The 512 MiB bound of a whole backup, exactly at it and one byte beyond, on both sides. Notes of
// 64 MiB are valid note files padded with JSON white space; nothing holds a whole archive in
// memory.

#include "documents/zip.h"
#include "module/text.h"
#include "storage/backup.h"
#include "storage/note_file.h"
#include "../documents/zip_builder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <zlib.h>

#include <functional>
#include <numeric>

using namespace quillmar;

namespace {

constexpr qint64 MiB64 = 64 * 1024 * 1024;
constexpr qint64 Total = 536870912;

// Calls out with the note's bytes in pieces of at most 1 MiB.
void paddedNote(const QString &sceneId, qint64 size, const std::function<void(const QByteArray &)> &out)
{
	const QByteArray body = encodeNoteFile(sceneId, "Big", "<p>padded</p>").mid(1);
	qint64 pad = size - 1 - body.size();
	out("{");
	const QByteArray spaces(1 << 20, ' ');
	while (pad > 0) {
		const qint64 n = qMin<qint64>(pad, spaces.size());
		out(spaces.left(qsizetype(n)));
		pad -= n;
	}
	out(body);
}

QString writePaddedNote(const QString &path, qint64 size)
{
	QFile file(path);
	if (!file.open(QIODevice::WriteOnly))
		return QString();
	paddedNote(QUuid::createUuid().toString(), size, [&file](const QByteArray &piece) { file.write(piece); });
	return file.size() == size ? path : QString();
}

// A plain archive of padded notes, deflated piece by piece; only the small deflated data is held.
bool writePaddedArchive(const QString &path, const QList<qint64> &sizes)
{
	ziptest::Archive archive;
	for (int i = 0; i < sizes.size(); ++i) {
		ziptest::Item item;
		item.name = QByteArray::number(i) + ".json";
		item.size = quint32(sizes[i]);
		z_stream zs{};
		deflateInit2(&zs, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_RLE);
		QByteArray buffer(1 << 16, Qt::Uninitialized);
		auto pump = [&](const QByteArray &piece, int flush) {
			zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(piece.constData()));
			zs.avail_in = uInt(piece.size());
			do {
				zs.next_out = reinterpret_cast<Bytef *>(buffer.data());
				zs.avail_out = uInt(buffer.size());
				deflate(&zs, flush);
				item.data.append(buffer.constData(), buffer.size() - qsizetype(zs.avail_out));
			} while (zs.avail_out == 0);
		};
		paddedNote(QUuid::createUuid().toString(), sizes[i], [&](const QByteArray &piece) {
			item.crc = quint32(crc32_z(item.crc, reinterpret_cast<const Bytef *>(piece.constData()), size_t(piece.size())));
			pump(piece, Z_NO_FLUSH);
		});
		pump(QByteArray(), Z_FINISH);
		deflateEnd(&zs);
		item.compressedSize = quint32(item.data.size());
		archive.items.push_back(item);
	}
	return archive.save(path);
}

} // namespace

class BackupLimitsTest : public QObject {
	Q_OBJECT

private Q_SLOTS:
	// Note files that sum to exactly 512 MiB make an archive that restores in full; one byte
	// more and no archive appears, nor is anything of such an archive staged.
	void totalOfAllNotes()
	{
		QTemporaryDir dir;
		QVERIFY(dir.isValid());
		QStringList paths;
		for (int i = 0; i < 7; ++i)
			paths << writePaddedNote(dir.filePath(QStringLiteral("big %1.json").arg(i)), MiB64);
		paths << writePaddedNote(dir.filePath("almost.json"), MiB64 - 200);
		const QString last200 = writePaddedNote(dir.filePath("small.json"), 200);
		const QString last201 = writePaddedNote(dir.filePath("small2.json"), 201);
		QVERIFY(!paths.contains(QString()) && !last200.isEmpty() && !last201.isEmpty());

		QString error;
		QVERIFY(!writeBackup(dir.filePath("over.zip"), QStringList(paths) << last201, error));
		QCOMPARE(error, text("BackupTooLarge"));
		QVERIFY(!QFile::exists(dir.filePath("over.zip")));

		error.clear();
		QVERIFY2(writeBackup(dir.filePath("exact.zip"), QStringList(paths) << last200, error), qPrintable(error));
		QVERIFY(QFile(dir.filePath("exact.zip")).size() < 4 * 1024 * 1024);
		for (const QString &path : paths)
			QVERIFY(QFile::remove(path));

		const QList<RestoreEntry> entries = readBackup(dir.filePath("exact.zip"), dir.filePath("staged"), error);
		QVERIFY2(error.isEmpty(), qPrintable(error));
		QCOMPARE(entries.size(), 9);
		qint64 total = 0;
		for (const RestoreEntry &e : entries)
			total += QFile(e.stagedPath).size();
		QCOMPARE(total, Total);
		QFile small(last200), staged(entries.last().stagedPath);
		QVERIFY(small.open(QIODevice::ReadOnly) && staged.open(QIODevice::ReadOnly));
		QCOMPARE(staged.readAll(), small.readAll());
		QVERIFY(QDir(dir.filePath("staged")).removeRecursively());

		// An archive one byte over, as another program could make it.
		const QList<qint64> sizes = QList<qint64>(7, MiB64) << MiB64 - 200 << 201;
		QCOMPARE(std::accumulate(sizes.begin(), sizes.end(), qint64(0)), Total + 1);
		QVERIFY(writePaddedArchive(dir.filePath("over.zip"), sizes));
		QVERIFY(readBackup(dir.filePath("over.zip"), dir.filePath("staged"), error).isEmpty());
		QCOMPARE(error, text("BackupTooLarge"));
		QVERIFY(QDir(dir.filePath("staged")).entryList(QDir::Files | QDir::Hidden).isEmpty());
	}
};

QTEST_MAIN(BackupLimitsTest)
#include "tst_backup_limits.moc"
