#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QIODevice;

namespace quillmar {

// What a reader accepts. Everything is checked when the archive is opened, before any entry is
// inflated. The defaults are those of note backups except the name rule and the total, which
// backups add.
struct ZipLimits {
	qint64 maxArchiveSize = 0x21000000;
	int maxEntries = 10000;
	qint64 maxDirectorySize = 0x800000;
	quint32 maxCompressedSize = 0x4010000;
	// Uncompressed size of any one entry.
	quint32 maxEntrySize = 0x4000000;
	// Sum of the uncompressed sizes of all file entries; negative means no bound. Exceeding it
	// is ZipReader::Error::TooLarge, every other limit is Error::Invalid.
	qint64 maxTotalSize = -1;
	// Every name that does not end in "/" must pass; an empty function accepts any name.
	std::function<bool(const QString &name)> acceptName;
	// Refuse two entries whose names are equal ignoring letter case.
	bool uniqueNames = false;
};

// Names that stay inside the folder they would be extracted to: no "..", no leading "/", no
// backslash, no colon (drive letters, alternate streams).
bool isSafeZipName(const QString &name);

struct ZipEntry {
	QString name;
	quint32 size = 0;
	quint32 compressedSize = 0;
	quint32 crc = 0;
	quint16 method = 0;
	quint16 flags = 0;
	qint64 headerOffset = 0;
	qint64 dataOffset = 0;

	bool isDirectory() const { return name.endsWith(QLatin1Char('/')); }
};

// A strict reader of plain single-disk archives (stored and deflate, no encryption, no ZIP64):
// open() validates the end record, the whole central directory and every local header, and
// refuses entries whose headers or data overlap; extract() inflates one entry and checks its
// size and CRC-32.
class ZipReader {
public:
	enum class Error { None, Io, Invalid, TooLarge };

	explicit ZipReader(ZipLimits limits = {});
	~ZipReader();
	ZipReader(const ZipReader &) = delete;
	ZipReader &operator=(const ZipReader &) = delete;

	// Only regular files are read; a symbolic link is refused, not followed.
	bool open(const QString &path);
	// A random-access device already open for reading; it stays owned by the caller and must
	// outlive the reader's use of it.
	bool open(QIODevice *device);
	void close();

	// All entries in central directory order, directories included.
	const std::vector<ZipEntry> &entries() const;
	// The first entry with this name, or -1.
	int indexOf(const QString &name, Qt::CaseSensitivity cs = Qt::CaseSensitive) const;
	bool extract(int index, QByteArray &bytes);
	// extract() in two steps, so that inflating can run on other threads: readStored() reads an
	// entry's bytes as they lie in the archive; decode() inflates them (or takes them as they
	// are), checks size and CRC-32 and is safe on any thread. A failed decode() clears data and
	// means "BackupInvalid".
	bool readStored(int index, QByteArray &data);
	static bool decode(const ZipEntry &entry, QByteArray &data);

	Error error() const;
	// The module text of "BackupInvalid" or "BackupTooLarge", or the device's error.
	QString errorString() const;

private:
	struct Private;
	std::unique_ptr<Private> d;
};


// One entry deflated ahead of writing, possibly on another thread.
struct ZipPreparedEntry {
	QByteArray name; // UTF-8
	QByteArray data; // raw deflate
	quint32 crc = 0;
	qint64 size = 0;
	QString error; // set when the entry cannot be written
};

// Writes one fixed, minimal layout: deflate, UTF-8 names, no extra fields, no data descriptors,
// no comment. The target appears or is replaced only when commit() succeeds.
class ZipWriter {
public:
	ZipWriter();
	~ZipWriter();
	ZipWriter(const ZipWriter &) = delete;
	ZipWriter &operator=(const ZipWriter &) = delete;

	bool open(const QString &path, QString &error);
	bool add(const QString &name, const QByteArray &bytes, QString &error);
	// Deflates at level 1; safe on any thread.
	static ZipPreparedEntry prepare(const QString &name, const QByteArray &bytes);
	bool add(const ZipPreparedEntry &entry, QString &error);
	bool commit(QString &error);

private:
	struct Private;
	std::unique_ptr<Private> d;
};

using ZipFileList = QList<QPair<QString, QByteArray>>;
bool writeZip(const QString &path, const ZipFileList &files, QString &error);

} // namespace quillmar
