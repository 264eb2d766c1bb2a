#include "documents/note_document.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QUrl>

namespace quillmar {

namespace {

// Bounds for an embedded image: an encoded payload larger than a phone photo, or pixels beyond a
// 4K frame, is a decompression bomb or a mistake, not a script illustration.
constexpr qsizetype MaxDataImageBytes = 8 * 1024 * 1024;
constexpr qint64 MaxDataImagePixels = 4096LL * 4096LL;
constexpr int PlaceholderSize = 16;

} // namespace

NoteDocument::NoteDocument(QObject *parent) : QTextDocument(parent) {}

QImage NoteDocument::placeholderImage()
{
	static const QImage image = [] {
		QImage img(PlaceholderSize, PlaceholderSize, QImage::Format_ARGB32_Premultiplied);
		img.fill(QColor(128, 128, 128, 60));
		QPainter painter(&img);
		painter.setPen(QColor(128, 128, 128));
		painter.drawRect(0, 0, PlaceholderSize - 1, PlaceholderSize - 1);
		painter.drawLine(3, PlaceholderSize - 4, PlaceholderSize - 4, 3);
		return img;
	}();
	return image;
}

QImage decodeDataImage(const QUrl &url)
{
	if (url.scheme().compare(QLatin1String("data"), Qt::CaseInsensitive) != 0)
		return QImage();
	// Work on the encoded form: it is what is bounded, and no percent-decoding copy is made.
	const QByteArray encoded = url.toEncoded(QUrl::RemoveScheme);
	const qsizetype comma = encoded.indexOf(',');
	if (comma < 0 || encoded.size() - comma - 1 > MaxDataImageBytes * 4 / 3 + 4)
		return QImage();
	const QByteArray header = encoded.left(comma).toLower();
	QByteArray payload = QByteArray::fromPercentEncoding(encoded.mid(comma + 1));
	if (header.endsWith(";base64")) {
		auto decoded = QByteArray::fromBase64Encoding(payload);
		if (!decoded)
			return QImage();
		payload = std::move(decoded.decoded);
	}
	if (payload.size() > MaxDataImageBytes)
		return QImage();
	QBuffer buffer(&payload);
	buffer.open(QIODevice::ReadOnly);
	QImageReader reader(&buffer);
	reader.setAllocationLimit(int(MaxDataImagePixels * 4 / (1024 * 1024)) + 1);
	const QSize size = reader.size();
	if (!size.isValid() || qint64(size.width()) * size.height() > MaxDataImagePixels)
		return QImage();
	return reader.read();
}

QVariant NoteDocument::loadResource(int type, const QUrl &name)
{
	if (type != ImageResource)
		return QVariant();
	QImage image = decodeDataImage(name);
	if (image.isNull())
		image = placeholderImage();
	// Kept, so that layout does not decode it again; the note's HTML still names the src.
	addResource(type, name, image);
	return image;
}

} // namespace quillmar
