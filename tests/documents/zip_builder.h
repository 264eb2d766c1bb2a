#pragma once

// Builds archives field by field, independently of the module's writer, so that tests can make
// every header say something different from what the data is.

#include <QByteArray>
#include <QtEndian>

#include <zlib.h>

#include <initializer_list>
#include <vector>

namespace quillmar::ziptest {

// Little-endian fields of type T (quint16 or quint32), one per value.
template <typename T>
void put(QByteArray &out, std::initializer_list<quint32> values)
{
	for (quint32 v : values) {
		char b[sizeof(T)];
		qToLittleEndian(T(v), b);
		out.append(b, sizeof(T));
	}
}

inline QByteArray rawDeflate(const QByteArray &body)
{
	z_stream zs{};
	deflateInit2(&zs, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
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
	qint64 offset = -1; // overrides the local header offset the directory records
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
	int onDisk = -1;
	int total = -1;
	QByteArray trailing;
	// Where the archive starts in its file: offsets are recorded as if that many bytes preceded it.
	quint32 base = 0;

	QByteArray build() const
	{
		QByteArray out, directory;
		for (const Item &item : items) {
			const quint32 offset = quint32(item.offset < 0 ? base + out.size() : item.offset);
			const QByteArray localName = item.localName.isNull() ? item.name : item.localName;
			// From the version needed to the extra field length, the same in both headers.
			auto common = [&item](QByteArray &to, int flags, int method, const QByteArray &name) {
				put<quint16>(to, {20, flags < 0 ? item.flags : quint32(flags), method < 0 ? item.method : quint32(method), 0, 0x21});
				put<quint32>(to, {item.crc, item.compressedSize, item.size});
				put<quint16>(to, {quint32(name.size()), 0});
			};
			put<quint32>(out, {0x04034B50});
			common(out, item.localFlags, item.localMethod, localName);
			out += localName + item.data;

			put<quint32>(directory, {0x02014B50});
			put<quint16>(directory, {20});
			common(directory, -1, -1, item.name);
			put<quint16>(directory, {0, 0, 0});
			put<quint32>(directory, {0, offset});
			directory += item.name;
		}
		directory += directoryPadding;
		const quint32 directoryOffset = quint32(base + out.size());
		out += directory + betweenDirectoryAndEnd;
		const quint32 count = quint32(items.size());
		put<quint32>(out, {0x06054B50});
		put<quint16>(out, {disk, 0, onDisk < 0 ? count : quint32(onDisk), total < 0 ? count : quint32(total)});
		put<quint32>(out, {quint32(directory.size()), directoryOffset});
		put<quint16>(out, {commentLength < 0 ? quint32(comment.size()) : quint32(commentLength)});
		return out + comment + trailing;
	}
};

} // namespace quillmar::ziptest
