#pragma once

// Image sources that a rich-text document must never read: a device that never ends, a FIFO
// that blocks until a writer comes, a sparse 1 GiB file and a real image reached by a relative
// path. Each note built from them must show a placeholder, keep its src and save as usual.

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace quillmar::test {

class HostileImages {
public:
	HostileImages()
	{
		const QByteArray fifo = QFile::encodeName(m_dir.filePath(QStringLiteral("fifo")));
		QFile sparse(m_dir.filePath(QStringLiteral("sparse.png")));
		m_ready = m_dir.isValid() && ::mkfifo(fifo.constData(), 0600) == 0 && sparse.open(QIODevice::WriteOnly) &&
			  sparse.resize(qint64(1) << 30);
		// A real, readable image beside the working directory: it must not show either.
		QImage real(40, 30, QImage::Format_RGB32);
		real.fill(Qt::red);
		m_ready = m_ready && real.save(m_dir.filePath(QStringLiteral("real.png")));
		m_previous = QDir::currentPath();
		QDir::setCurrent(m_dir.path());
	}
	~HostileImages() { QDir::setCurrent(m_previous); }

	bool ready() const { return m_ready; }
	QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

	// The src of a row (a path, "FIFO" or "SPARSE") with the placeholders replaced by this fixture's paths.
	QString resolve(const QString &src) const
	{
		return src == QLatin1String("FIFO") ? path("fifo") : src == QLatin1String("SPARSE") ? path("sparse.png") : src;
	}

	static QString noteWith(const QString &src)
	{
		return QStringLiteral("<p>before <img src=\"%1\"> after</p>").arg(src.toHtmlEscaped());
	}

private:
	QTemporaryDir m_dir;
	QString m_previous;
	bool m_ready = false;
};

} // namespace quillmar::test
