#include "documents/word_package.h"

#include "documents/word_import.h"
#include "module/text.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <limits>

namespace quillmar {

namespace {

// Deflate adds five bytes per stored block of 64 KiB at worst; anything beyond that cannot
// inflate into an acceptable part and is not read.
constexpr quint32 kMaxCompressedPart = quint32(kWordMaxPartSize + kWordMaxPartSize / 0x10000 * 5 + 0x10000);

ZipLimits packageLimits()
{
	ZipLimits limits;
	limits.maxArchiveSize = kWordMaxFileSize;
	// Every entry size is allowed into the directory: media larger than a part may be bound
	// are simply never read.
	limits.maxEntries = 0xFFFF;
	limits.maxCompressedSize = std::numeric_limits<quint32>::max();
	limits.maxEntrySize = std::numeric_limits<quint32>::max();
	// Two entries for one part name would make the part ambiguous.
	limits.uniqueNames = true;
	return limits;
}

#ifdef Q_OS_UNIX
// Opens without blocking (a FIFO without a writer would block a plain open) and checks what was
// opened, not what the name pointed to a moment before.
bool openRegularFile(const QString &path, QFile &file, QString &error)
{
	const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	if (fd < 0) {
		error = text(errno == ENOENT || errno == ENOTDIR ? "WordSizeError" : "WordOpenError");
		return false;
	}
	struct stat st {};
	if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kWordMaxFileSize) {
		::close(fd);
		error = text("WordSizeError");
		return false;
	}
	const int flags = ::fcntl(fd, F_GETFL);
	if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
	    !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
		if (!file.isOpen())
			::close(fd);
		error = text("WordOpenError");
		return false;
	}
	return true;
}
#else
bool openRegularFile(const QString &path, QFile &file, QString &error)
{
	const QFileInfo info(path);
	if (!info.isFile() || info.size() > kWordMaxFileSize) {
		error = text("WordSizeError");
		return false;
	}
	file.setFileName(path);
	if (!file.open(QIODevice::ReadOnly)) {
		error = text("WordOpenError");
		return false;
	}
	return true;
}
#endif

} // namespace

WordPackage::WordPackage() : m_zip(packageLimits()) {}

bool WordPackage::open(const QString &path, QString &error)
{
	m_zip.close();
	m_file.close();
	if (!openRegularFile(path, m_file, error))
		return false;
	if (!m_zip.open(&m_file)) {
		m_file.close();
		error = text("WordOpenError");
		return false;
	}
	return true;
}

QByteArray WordPackage::part(const QString &name)
{
	if (!name.startsWith(QLatin1Char('/')))
		return {};
	const int index = m_zip.indexOf(name.mid(1), Qt::CaseInsensitive);
	if (index < 0)
		return {};
	const ZipEntry &entry = m_zip.entries()[size_t(index)];
	if (entry.isDirectory() || entry.size > kWordMaxPartSize || entry.compressedSize > kMaxCompressedPart)
		return {};
	QByteArray bytes;
	if (!m_zip.extract(index, bytes))
		return {};
	return bytes;
}

} // namespace quillmar
