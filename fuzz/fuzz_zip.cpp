// Feeds arbitrary bytes to the archive reader as a backup restore and as a generic package reader
// would use it. Besides the sanitizers, it checks that whatever the reader accepts is consistent.

#include "documents/zip.h"
#include "storage/backup.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>

using namespace quillmar;

namespace {

void require(bool condition)
{
	if (!condition)
		__builtin_trap();
}

void readAll(QBuffer &buffer, const ZipLimits &limits)
{
	ZipReader reader(limits);
	if (!buffer.seek(0) || !reader.open(&buffer)) {
		require(reader.entries().empty());
		require(reader.error() != ZipReader::Error::None);
		return;
	}
	const auto &entries = reader.entries();
	require(!entries.empty() && entries.size() <= size_t(limits.maxEntries));
	qint64 total = 0;
	for (size_t i = 0; i < entries.size(); ++i) {
		const ZipEntry e = entries[i];
		require(e.dataOffset + e.compressedSize <= buffer.size());
		require(e.size <= limits.maxEntrySize);
		if (!e.isDirectory()) {
			total += e.size;
			require(!limits.acceptName || limits.acceptName(e.name));
		}
		QByteArray bytes;
		if (reader.extract(int(i), bytes))
			require(bytes.size() == qsizetype(e.size));
		else
			require(bytes.isEmpty());
	}
	require(limits.maxTotalSize < 0 || total <= limits.maxTotalSize);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
	QBuffer buffer(&bytes);
	if (!buffer.open(QIODevice::ReadOnly))
		return 0;
	static const ZipLimits backup = backupZipLimits();
	readAll(buffer, backup);
	ZipLimits package;
	package.uniqueNames = true;
	readAll(buffer, package);
	return 0;
}
