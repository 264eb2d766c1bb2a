#include "remote/qr_label.h"

#include <qrcodegen/qrcodegen.hpp>

#include <QPainter>
#include <QPixmap>
#include <QResizeEvent>

#include <exception>

namespace quillmar {

QImage qrImage(const QString &text, int side)
{
	const QByteArray bytes = text.toUtf8();
	try {
		const qrcodegen::QrCode code = qrcodegen::QrCode::encodeText(bytes.constData(), qrcodegen::QrCode::Ecc::LOW);
		const int n = code.getSize();
		if (side < n + 8)
			return QImage();
		const int scale = side / (n + 8);
		const int margin = (side - n * scale) / 2;
		QImage image(side, side, QImage::Format_RGB32);
		image.fill(Qt::white);
		QPainter painter(&image);
		for (int y = 0; y < n; ++y)
			for (int x = 0; x < n; ++x)
				if (code.getModule(x, y))
					painter.fillRect(margin + x * scale, margin + y * scale, scale, scale, Qt::black);
		return image;
	} catch (const std::exception &) {
		// Longer than the largest symbol holds.
		return QImage();
	}
}

QrLabel::QrLabel(QWidget *parent) : QLabel(parent) {}

QrLabel::~QrLabel() = default;

void QrLabel::setLink(const QString &link)
{
	m_link = link;
	render();
}

QSize QrLabel::sizeHint() const
{
	return QSize(240, 240);
}

QSize QrLabel::minimumSizeHint() const
{
	return QSize(64, 64);
}

void QrLabel::resizeEvent(QResizeEvent *event)
{
	QLabel::resizeEvent(event);
	if (event->size().width() != event->oldSize().width()) {
		// Square at every width.
		setFixedHeight(width());
		render();
	}
}

void QrLabel::render()
{
	if (m_link.isEmpty()) {
		clear();
		return;
	}
	setPixmap(QPixmap::fromImage(qrImage(m_link, width())));
}

} // namespace quillmar
