#pragma once

// Builds archives field by field, independently of the module's writer, so that tests can make
// every header say something different from what the data is.

#include <QByteArray>
#include <QFile>
#include <QtEndian>

#include <zlib.h>

#include <vector>

namespace quillmar::ziptest {

inline void put16(QByteArray &out, quint32 v)
{
	char b[2];
	qToLittleEndian(quint16(v), b);
	out.append(b, 2);
}

inline void put32(QByteArray &out, quint32 v)
{
	char b[4];
	qToLittleEndian(v, b);
	out.append(b, 4);
}

inline QByteArray rawDeflate(const QByteArray &body, int level = 6)
{
	z_stream zs{};
	deflateInit2(&zs, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
	QByteArray out(qsizetype(deflateBound(&zs, uLong(body.size()))), Qt::Uninitialized);
	zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(body.constData()));
	zs.avail_in = uInt(body.size());
	zs.next_out = reinterpret_cast<Bytef *>(out.data());
	zs.avail_out = uInt(out.size());
	deflate(&zs, Z_FINISH);
	out.resize(qsizetype(zs.total_out));
	deflateEnd(&zs);
	return out;
}

inline quint32 crcOf(const QByteArray &body)
{
	return quint32(crc32_z(0, reinterpret_cast<const Bytef *>(body.constData()), size_t(body.size())));
}

struct Item {
	QByteArray name;
	QByteArray data; // as stored in the archive
	quint16 method = 8;
	quint16 flags = 0x0800;
	quint32 crc = 0;
	quint32 size = 0;
	quint32 compressedSize = 0;
	// Local header values that differ from the central ones; negative or null means "the same".
	int localFlags = -1;
	int localMethod = -1;
	QByteArray localName;
	QByteArray localExtra;
	QByteArray centralExtra;
	QByteArray afterData; // a data descriptor, for instance
	qint64 offset = -1;   // overrides the local header offset the directory records
	quint16 diskStart = 0;
};

inline Item deflated(const QByteArray &name, const QByteArray &body)
{
	Item item;
	item.name = name;
	item.data = rawDeflate(body);
	item.crc = crcOf(body);
	item.size = quint32(body.size());
	item.compressedSize = quint32(item.data.size());
	return item;
}

inline Item stored(const QByteArray &name, const QByteArray &body)
{
	Item item = deflated(name, body);
	item.method = 0;
	item.data = body;
	item.compressedSize = item.size;
	return item;
}

struct Archive {
	std::vector<Item> items;
	QByteArray directoryPadding;       // counted in the directory size
	QByteArray betweenDirectoryAndEnd; // not counted
	QByteArray comment;
	int commentLength = -1;
	quint16 disk = 0;
	quint16 directoryDisk = 0;
	int onDisk = -1;
	int total = -1;
	QByteArray trailing;
	// Where the archive starts in its file: offsets are recorded as if that many bytes preceded it.
	quint32 base = 0;

	qint64 directoryOffset() const
	{
		qint64 size = 0;
		for (const Item &item : items) {
			const QByteArray &localName = item.localName.isNull() ? item.name : item.localName;
			size += 30 + localName.size() + item.localExtra.size() + item.data.size() + item.afterData.size();
		}
		return base + size;
	}

	QByteArray build() const
	{
		QByteArray out, directory;
		for (const Item &item : items) {
			const qint64 offset = out.size();
			const QByteArray localName = item.localName.isNull() ? item.name : item.localName;
			put32(out, 0x04034B50);
			put16(out, 20);
			put16(out, item.localFlags < 0 ? item.flags : quint32(item.localFlags));
			put16(out, item.localMethod < 0 ? item.method : quint32(item.localMethod));
			put16(out, 0);
			put16(out, 0x21);
			put32(out, item.crc);
			put32(out, item.compressedSize);
			put32(out, item.size);
			put16(out, quint32(localName.size()));
			put16(out, quint32(item.localExtra.size()));
			out += localName + item.localExtra + item.data + item.afterData;

			put32(directory, 0x02014B50);
			put16(directory, 20);
			put16(directory, 20);
			put16(directory, item.flags);
			put16(directory, item.method);
			put16(directory, 0);
			put16(directory, 0x21);
			put32(directory, item.crc);
			put32(directory, item.compressedSize);
			put32(directory, item.size);
			put16(directory, quint32(item.name.size()));
			put16(directory, quint32(item.centralExtra.size()));
			put16(directory, 0);
			put16(directory, item.diskStart);
			put16(directory, 0);
			put32(directory, 0);
			put32(directory, quint32(item.offset < 0 ? base + offset : item.offset));
			directory += item.name + item.centralExtra;
		}
		directory += directoryPadding;
		const qint64 directoryOffset = out.size();
		out += directory + betweenDirectoryAndEnd;
		put32(out, 0x06054B50);
		put16(out, disk);
		put16(out, directoryDisk);
		const quint32 count = quint32(items.size());
		put16(out, onDisk < 0 ? count : quint32(onDisk));
		put16(out, total < 0 ? count : quint32(total));
		put32(out, quint32(directory.size()));
		put32(out, quint32(base + directoryOffset));
		put16(out, commentLength < 0 ? quint32(comment.size()) : quint32(commentLength));
		return out + comment + trailing;
	}

	bool save(const QString &path) const
	{
		QFile file(path);
		const QByteArray bytes = build();
		return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
	}
};

} // namespace quillmar::ziptest
