#include "documents/zip.h"

#include "module/text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>

#if defined(Q_OS_UNIX)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quillmar {

namespace {

constexpr quint32 LocalSignature = 0x04034B50;
constexpr quint32 CentralSignature = 0x02014B50;
constexpr quint32 EndSignature = 0x06054B50;
constexpr int LocalHeaderSize = 30;
constexpr int CentralHeaderSize = 46;
constexpr int EndRecordSize = 22;
constexpr qint64 EndSearchSpan = EndRecordSize + 0xFFFF;
// Bits 1 and 2 only record the deflate level the producer chose (Info-ZIP sets them for -1 and
// -9, even on stored entries); they change nothing about how an entry is read.
constexpr quint16 FlagLevelHints = 0x0006;
constexpr quint16 FlagDataDescriptor = 0x0008;
constexpr quint16 FlagUtf8 = 0x0800;
constexpr quint16 MethodStored = 0;
constexpr quint16 MethodDeflate = 8;
constexpr quint16 VersionWritten = 20;
// Made on Unix, as a plain rw-r--r-- file: Info-ZIP's unzip applies its DOS code-page translation
// to names from a DOS host even when the UTF-8 flag is set, which garbles every non-ASCII note
// name, and a Unix host with zero attributes would extract files that nobody may read.
constexpr quint16 VersionMadeBy = 0x0300 | VersionWritten;
constexpr quint32 ExternalAttributes = 0100644u << 16;
constexpr quint16 DateWritten = 0x0021; // 1 January 1980, the earliest date a header can hold
// No deflate stream yields more than 1032 bytes per byte (two one-bit codes per 258-byte
// match), so an entry claiming more cannot be genuine and is refused before any allocation.
constexpr quint64 MaxDeflateRatio = 1032;

quint16 u16(const char *p)
{
	return qFromLittleEndian<quint16>(p);
}

quint32 u32(const char *p)
{
	return qFromLittleEndian<quint32>(p);
}

void put16(QByteArray &out, quint16 v)
{
	char b[2];
	qToLittleEndian(v, b);
	out.append(b, 2);
}

void put32(QByteArray &out, quint32 v)
{
	char b[4];
	qToLittleEndian(v, b);
	out.append(b, 4);
}

quint32 crcOf(const char *data, qsizetype size)
{
	return quint32(crc32_z(0, reinterpret_cast<const Bytef *>(data), size_t(size)));
}

} // namespace

bool isSafeZipName(const QString &name)
{
	if (name.startsWith(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) || name.contains(QLatin1Char(':')))
		return false;
	const QStringList parts = name.split(QLatin1Char('/'));
	return !parts.contains(QStringLiteral(".."));
}

// ---------------------------------------------------------------------------------------------
// Reader

struct ZipReader::Private {
	ZipLimits limits;
	QFile file;
	QIODevice *device = nullptr;
	std::vector<ZipEntry> entries;
	Error error = Error::None;
	QString errorString;

	bool fail(Error e, const QString &detail = QString())
	{
		error = e;
		switch (e) {
		case Error::Invalid:
			errorString = text("BackupInvalid");
			break;
		case Error::TooLarge:
			errorString = text("BackupTooLarge");
			break;
		default:
			errorString = detail;
			break;
		}
		return false;
	}

	bool invalid() { return fail(Error::Invalid); }

	// A short read means the archive is not what its directory says; a device error is passed on.
	bool readAt(qint64 pos, char *out, qint64 length)
	{
		if (!device->seek(pos))
			return invalid();
		qint64 done = 0;
		while (done < length) {
			const qint64 n = device->read(out + done, length - done);
			if (n < 0)
				return fail(Error::Io, device->errorString());
			if (n == 0)
				return invalid();
			done += n;
		}
		return true;
	}

	bool validate();
	bool readDirectory(const QByteArray &directory, int count, std::vector<QByteArray> &rawNames);
	bool checkLocalHeaders(qint64 directoryOffset, const std::vector<QByteArray> &rawNames);
};

bool ZipReader::Private::validate()
{
	entries.clear();
	error = Error::None;
	errorString.clear();

	const qint64 size = device->size();
	if (size < EndRecordSize || size > limits.maxArchiveSize)
		return invalid();

	const qint64 tailStart = std::max<qint64>(0, size - EndSearchSpan);
	QByteArray tail(size - tailStart, Qt::Uninitialized);
	if (!readAt(tailStart, tail.data(), tail.size()))
		return false;

	// The record must end exactly at the end of the file, its comment included.
	qint64 end = -1;
	for (qint64 pos = tail.size() - EndRecordSize; pos >= 0; --pos) {
		const char *r = tail.constData() + pos;
		if (u32(r) == EndSignature && pos + EndRecordSize + u16(r + 20) == tail.size()) {
			end = pos;
			break;
		}
	}
	if (end < 0)
		return invalid();

	const char *r = tail.constData() + end;
	const quint16 disk = u16(r + 4), directoryDisk = u16(r + 6);
	const quint16 onDisk = u16(r + 8), total = u16(r + 10);
	const quint32 directorySize = u32(r + 12), directoryOffset = u32(r + 16);
	if (disk != 0 || directoryDisk != 0 || onDisk != total || total < 1 || total > limits.maxEntries ||
	    directorySize > limits.maxDirectorySize ||
	    qint64(directoryOffset) + directorySize != tailStart + end)
		return invalid();

	QByteArray directory(qsizetype(directorySize), Qt::Uninitialized);
	if (!readAt(directoryOffset, directory.data(), directory.size()))
		return false;

	std::vector<QByteArray> rawNames;
	return readDirectory(directory, total, rawNames) && checkLocalHeaders(directoryOffset, rawNames);
}

bool ZipReader::Private::readDirectory(const QByteArray &directory, int count, std::vector<QByteArray> &rawNames)
{
	const qint64 size = directory.size();
	entries.reserve(size_t(std::min<qint64>(count, size / CentralHeaderSize + 1)));
	rawNames.reserve(entries.capacity());
	qint64 p = 0;
	qint64 total = 0;
	int files = 0;
	QSet<QString> folded;
	for (int i = 0; i < count; ++i) {
		if (p + CentralHeaderSize > size)
			return invalid();
		const char *h = directory.constData() + p;
		if (u32(h) != CentralSignature)
			return invalid();
		ZipEntry e;
		e.flags = u16(h + 8);
		e.method = u16(h + 10);
		e.crc = u32(h + 16);
		e.compressedSize = u32(h + 20);
		e.size = u32(h + 24);
		const quint16 nameLength = u16(h + 28), extraLength = u16(h + 30), commentLength = u16(h + 32);
		e.headerOffset = u32(h + 42);
		if (p + CentralHeaderSize + nameLength + extraLength + commentLength > size || u16(h + 34) != 0)
			return invalid();
		if ((e.flags & ~(FlagLevelHints | FlagDataDescriptor | FlagUtf8)) != 0)
			return invalid();
		if (e.method != MethodStored && e.method != MethodDeflate)
			return invalid();
		if (e.compressedSize > limits.maxCompressedSize || e.size > limits.maxEntrySize)
			return invalid();
		if (e.method == MethodStored ? e.compressedSize != e.size
					     : quint64(e.size) > quint64(e.compressedSize) * MaxDeflateRatio)
			return invalid();

		QByteArray raw(h + CentralHeaderSize, nameLength);
		e.name = QString::fromUtf8(raw);
		if (!e.isDirectory()) {
			if (limits.acceptName && !limits.acceptName(e.name))
				return invalid();
			total += e.size;
			++files;
		}
		if (limits.uniqueNames) {
			const QString key = e.name.toCaseFolded();
			if (folded.contains(key))
				return invalid();
			folded.insert(key);
		}
		p += CentralHeaderSize + nameLength + extraLength + commentLength;
		entries.push_back(std::move(e));
		rawNames.push_back(std::move(raw));
	}
	if (p != size || files == 0)
		return invalid();
	if (limits.maxTotalSize >= 0 && total > limits.maxTotalSize)
		return fail(Error::TooLarge);
	return true;
}

bool ZipReader::Private::checkLocalHeaders(qint64 directoryOffset, const std::vector<QByteArray> &rawNames)
{
	// In file order, so that reads run forward and each entry's span can be checked against the
	// one before it: no two entries may share a byte.
	std::vector<size_t> order(entries.size());
	for (size_t i = 0; i < order.size(); ++i)
		order[i] = i;
	std::sort(order.begin(), order.end(),
		  [this](size_t a, size_t b) { return entries[a].headerOffset < entries[b].headerOffset; });

	qint64 previousEnd = 0;
	QByteArray header;
	for (size_t i : order) {
		ZipEntry &e = entries[i];
		const QByteArray &raw = rawNames[i];
		if (e.headerOffset < previousEnd || e.headerOffset + LocalHeaderSize + raw.size() > directoryOffset)
			return invalid();
		header.resize(LocalHeaderSize + raw.size());
		if (!readAt(e.headerOffset, header.data(), header.size()))
			return false;
		const char *h = header.constData();
		if (u32(h) != LocalSignature || u16(h + 6) != e.flags || u16(h + 8) != e.method ||
		    u16(h + 26) != raw.size() || QByteArrayView(h + LocalHeaderSize, raw.size()) != raw)
			return invalid();
		e.dataOffset = e.headerOffset + LocalHeaderSize + raw.size() + u16(h + 28);
		previousEnd = e.dataOffset + e.compressedSize;
		if (previousEnd > directoryOffset)
			return invalid();
	}
	return true;
}

ZipReader::ZipReader(ZipLimits limits) : d(std::make_unique<Private>())
{
	d->limits = std::move(limits);
}

ZipReader::~ZipReader() = default;

bool ZipReader::open(const QString &path)
{
	close();
	const QString unreadable = text("FileReadFailed") + QDir::toNativeSeparators(path);
#if defined(Q_OS_UNIX)
	// Checked on the opened file itself, so that nothing swapped in after a check is read: no
	// link is followed and a pipe is neither waited on nor read.
	const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
	if (fd < 0)
		return d->fail(Error::Io, unreadable);
	struct stat st;
	if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !d->file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
		::close(fd);
		return d->fail(Error::Io, unreadable);
	}
#else
	const QFileInfo info(path);
	if (info.isSymLink() || !info.isFile())
		return d->fail(Error::Io, unreadable);
	d->file.setFileName(path);
	if (!d->file.open(QIODevice::ReadOnly))
		return d->fail(Error::Io, unreadable);
#endif
	d->device = &d->file;
	if (d->validate())
		return true;
	close();
	return false;
}

bool ZipReader::open(QIODevice *device)
{
	close();
	if (!device || !device->isReadable() || device->isSequential())
		return d->fail(Error::Invalid);
	d->device = device;
	if (d->validate())
		return true;
	close();
	return false;
}

void ZipReader::close()
{
	d->entries.clear();
	d->device = nullptr;
	d->file.close();
}

const std::vector<ZipEntry> &ZipReader::entries() const
{
	return d->entries;
}

int ZipReader::indexOf(const QString &name, Qt::CaseSensitivity cs) const
{
	for (size_t i = 0; i < d->entries.size(); ++i) {
		if (d->entries[i].name.compare(name, cs) == 0)
			return int(i);
	}
	return -1;
}

bool ZipReader::readStored(int index, QByteArray &data)
{
	data.clear();
	if (!d->device || index < 0 || size_t(index) >= d->entries.size())
		return d->invalid();
	const ZipEntry &e = d->entries[size_t(index)];
	data.resize(qsizetype(e.compressedSize));
	if (d->readAt(e.dataOffset, data.data(), data.size()))
		return true;
	data.clear();
	return false;
}

bool ZipReader::decode(const ZipEntry &entry, QByteArray &data)
{
	if (data.size() != qsizetype(entry.compressedSize)) {
		data.clear();
		return false;
	}
	if (entry.method == MethodDeflate) {
		QByteArray out(qsizetype(entry.size), Qt::Uninitialized);
		z_stream zs{};
		bool exact = false;
		if (inflateInit2(&zs, -MAX_WBITS) == Z_OK) {
			// Read only: no copy of bytes another holder may still share.
			zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
			zs.avail_in = uInt(data.size());
			zs.next_out = reinterpret_cast<Bytef *>(out.data());
			zs.avail_out = uInt(out.size());
			// One call with room for exactly the recorded size: a stream that wants more,
			// stops short or leaves input unread is not the entry the directory describes.
			const int rc = inflate(&zs, Z_FINISH);
			exact = rc == Z_STREAM_END && zs.avail_in == 0 && zs.avail_out == 0;
			inflateEnd(&zs);
		}
		data = exact ? std::move(out) : QByteArray();
		if (!exact)
			return false;
	}
	if (crcOf(data.constData(), data.size()) == entry.crc)
		return true;
	data.clear();
	return false;
}

bool ZipReader::extract(int index, QByteArray &bytes)
{
	if (!readStored(index, bytes))
		return false;
	return decode(d->entries[size_t(index)], bytes) || d->invalid();
}

ZipReader::Error ZipReader::error() const
{
	return d->error;
}

QString ZipReader::errorString() const
{
	return d->errorString;
}

// ---------------------------------------------------------------------------------------------
// Writer

struct ZipWriter::Private {
	QSaveFile file;
	bool usable = false;
	QByteArray central;
	QByteArray header;
	qint64 offset = 0;
	int count = 0;

	bool fail(QString &error, const QString &text)
	{
		error = text;
		usable = false;
		return false;
	}

	// A short write that set no error is tried again, so that the device says why it stopped
	// (a full disk, say) instead of "Unknown error".
	bool write(const char *data, qsizetype size, QString &error)
	{
		while (size > 0) {
			const qint64 n = file.write(data, size);
			if (n <= 0)
				return fail(error, file.errorString());
			data += n;
			size -= qsizetype(n);
		}
		return true;
	}
};

ZipWriter::ZipWriter() : d(std::make_unique<Private>()) {}

ZipWriter::~ZipWriter() = default;

bool ZipWriter::open(const QString &path, QString &error)
{
	d->usable = false;
	// A save file would replace the link's target; a backup must never write through a link.
	if (QFileInfo(path).isSymLink())
		return d->fail(error, text("BackupFailed"));
	d->file.setFileName(path);
	if (!d->file.open(QIODevice::WriteOnly))
		return d->fail(error, d->file.errorString());
	d->central.clear();
	d->offset = 0;
	d->count = 0;
	d->usable = true;
	return true;
}

ZipPreparedEntry ZipWriter::prepare(const QString &name, const QByteArray &bytes)
{
	ZipPreparedEntry entry;
	entry.name = name.toUtf8();
	entry.size = bytes.size();
	if (entry.name.isEmpty() || entry.name.size() > 0xFFFF) {
		entry.error = text("BackupFailed");
		return entry;
	}
	if (quint64(bytes.size()) > 0xFFFFFFFFu) {
		entry.error = text("BackupTooLarge");
		return entry;
	}
	z_stream zs{};
	if (deflateInit2(&zs, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
		entry.error = text("BackupFailed");
		return entry;
	}
	const uLong bound = deflateBound(&zs, uLong(bytes.size()));
	int rc = Z_STREAM_ERROR;
	if (bound <= 0xFFFFFFFFu) {
		entry.data.resize(qsizetype(bound));
		zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.constData()));
		zs.avail_in = uInt(bytes.size());
		zs.next_out = reinterpret_cast<Bytef *>(entry.data.data());
		zs.avail_out = uInt(bound);
		rc = deflate(&zs, Z_FINISH);
	}
	const bool complete = rc == Z_STREAM_END && zs.avail_in == 0;
	entry.data.resize(complete ? qsizetype(zs.total_out) : 0);
	deflateEnd(&zs);
	if (!complete) {
		entry.error = text("BackupFailed");
		return entry;
	}
	entry.crc = crcOf(bytes.constData(), bytes.size());
	return entry;
}

bool ZipWriter::add(const QString &name, const QByteArray &bytes, QString &error)
{
	return add(prepare(name, bytes), error);
}

bool ZipWriter::add(const ZipPreparedEntry &entry, QString &error)
{
	if (!d->usable)
		return d->fail(error, text("BackupFailed"));
	if (!entry.error.isEmpty())
		return d->fail(error, entry.error);
	// Sizes, offsets and the entry count must fit the 32- and 16-bit fields of a plain archive.
	if (d->offset > 0xFFFFFFFFLL || d->count >= 0xFFFF || quint64(entry.data.size()) > 0xFFFFFFFFu)
		return d->fail(error, text("BackupTooLarge"));
	const quint32 compressedSize = quint32(entry.data.size());
	const quint32 size = quint32(entry.size);
	const quint32 headerOffset = quint32(d->offset);
	const QByteArray &rawName = entry.name;

	QByteArray &h = d->header;
	h.clear();
	put32(h, LocalSignature);
	put16(h, VersionWritten);
	put16(h, FlagUtf8);
	put16(h, MethodDeflate);
	put16(h, 0);
	put16(h, DateWritten);
	put32(h, entry.crc);
	put32(h, compressedSize);
	put32(h, size);
	put16(h, quint16(rawName.size()));
	put16(h, 0);
	h.append(rawName);
	if (!d->write(h.constData(), h.size(), error) || !d->write(entry.data.constData(), compressedSize, error))
		return false;

	QByteArray &c = d->central;
	put32(c, CentralSignature);
	put16(c, VersionMadeBy);
	put16(c, VersionWritten);
	put16(c, FlagUtf8);
	put16(c, MethodDeflate);
	put16(c, 0);
	put16(c, DateWritten);
	put32(c, entry.crc);
	put32(c, compressedSize);
	put32(c, size);
	put16(c, quint16(rawName.size()));
	put16(c, 0); // extra field
	put16(c, 0); // comment
	put16(c, 0); // disk number start
	put16(c, 0); // internal attributes
	put32(c, ExternalAttributes);
	put32(c, headerOffset);
	c.append(rawName);

	d->offset += h.size() + compressedSize;
	++d->count;
	return true;
}

bool ZipWriter::commit(QString &error)
{
	if (!d->usable)
		return d->fail(error, text("BackupFailed"));
	if (d->offset + d->central.size() > 0xFFFFFFFFLL || d->central.size() > 0xFFFFFFFFLL)
		return d->fail(error, text("BackupTooLarge"));
	QByteArray end;
	put32(end, EndSignature);
	put16(end, 0);
	put16(end, 0);
	put16(end, quint16(d->count));
	put16(end, quint16(d->count));
	put32(end, quint32(d->central.size()));
	put32(end, quint32(d->offset));
	put16(end, 0);
	if (!d->write(d->central.constData(), d->central.size(), error) || !d->write(end.constData(), end.size(), error))
		return false;
	d->usable = false;
	if (!d->file.commit()) {
		error = d->file.errorString();
		return false;
	}
	return true;
}

bool writeZip(const QString &path, const ZipFileList &files, QString &error)
{
	ZipWriter writer;
	if (!writer.open(path, error))
		return false;
	for (const auto &file : files) {
		if (!writer.add(file.first, file.second, error))
			return false;
	}
	return writer.commit(error);
}

} // namespace quillmar
