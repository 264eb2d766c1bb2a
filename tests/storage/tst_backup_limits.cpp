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
using quillmar::ziptest::put16;
using quillmar::ziptest::put32;

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

QString writePaddedNote(const QString &path, const QString &sceneId, qint64 size)
{
	QFile file(path);
	if (!file.open(QIODevice::WriteOnly))
		return QString();
	paddedNote(sceneId, size, [&file](const QByteArray &piece) { file.write(piece); });
	return file.size() == size ? path : QString();
}

// A plain archive of padded notes, deflated piece by piece.
bool writePaddedArchive(const QString &path, const QList<qint64> &sizes)
{
	QFile file(path);
	if (!file.open(QIODevice::WriteOnly))
		return false;
	QByteArray directory;
	for (int i = 0; i < sizes.size(); ++i) {
		z_stream zs{};
		deflateInit2(&zs, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_RLE);
		uLong crc = crc32(0, nullptr, 0);
		QByteArray compressed;
		QByteArray buffer(1 << 16, Qt::Uninitialized);
		auto pump = [&](const QByteArray &piece, int flush) {
			zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(piece.constData()));
			zs.avail_in = uInt(piece.size());
			do {
				zs.next_out = reinterpret_cast<Bytef *>(buffer.data());
				zs.avail_out = uInt(buffer.size());
				deflate(&zs, flush);
				compressed.append(buffer.constData(), buffer.size() - qsizetype(zs.avail_out));
			} while (zs.avail_out == 0);
		};
		paddedNote(QUuid::createUuid().toString(), sizes[i], [&](const QByteArray &piece) {
			crc = crc32_z(crc, reinterpret_cast<const Bytef *>(piece.constData()), size_t(piece.size()));
			pump(piece, Z_NO_FLUSH);
		});
		pump(QByteArray(), Z_FINISH);
		deflateEnd(&zs);

		const QByteArray name = QByteArray::number(i) + ".json";
		QByteArray header;
		put32(header, 0x04034B50);
		for (quint32 v : {20u, 0x0800u, 8u, 0u, 0x21u})
			put16(header, v);
		put32(header, quint32(crc));
		put32(header, quint32(compressed.size()));
		put32(header, quint32(sizes[i]));
		put16(header, quint32(name.size()));
		put16(header, 0);
		const quint32 offset = quint32(file.pos());
		file.write(header + name);
		file.write(compressed);

		put32(directory, 0x02014B50);
		for (quint32 v : {20u, 20u, 0x0800u, 8u, 0u, 0x21u})
			put16(directory, v);
		put32(directory, quint32(crc));
		put32(directory, quint32(compressed.size()));
		put32(directory, quint32(sizes[i]));
		put16(directory, quint32(name.size()));
		for (int k = 0; k < 4; ++k)
			put16(directory, 0);
		put32(directory, 0);
		put32(directory, offset);
		directory += name;
	}
	QByteArray end;
	put32(end, 0x06054B50);
	put16(end, 0);
	put16(end, 0);
	put16(end, quint32(sizes.size()));
	put16(end, quint32(sizes.size()));
	put32(end, quint32(directory.size()));
	put32(end, quint32(file.pos()));
	put16(end, 0);
	return file.write(directory + end) == directory.size() + end.size();
}

qint64 filesIn(const QString &dir)
{
	return QDir(dir).entryList(QDir::Files | QDir::Hidden).size();
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
			paths << writePaddedNote(dir.filePath(QStringLiteral("big %1.json").arg(i)), QUuid::createUuid().toString(), MiB64);
		paths << writePaddedNote(dir.filePath("almost.json"), QUuid::createUuid().toString(), MiB64 - 200);
		const QString last200 = writePaddedNote(dir.filePath("small.json"), QUuid::createUuid().toString(), 200);
		const QString last201 = writePaddedNote(dir.filePath("small2.json"), QUuid::createUuid().toString(), 201);
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
		QCOMPARE(filesIn(dir.filePath("staged")), 0);
	}
};

QTEST_MAIN(BackupLimitsTest)
#include "tst_backup_limits.moc"
