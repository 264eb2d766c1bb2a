#include "dock/reading_band.h"

#include "dock/dock_theme.h"

#include <QPainter>

#include <cmath>

namespace quillmar {

int readingLineY(int viewportHeight)
{
	return int(std::lround(viewportHeight * 0.382));
}

QRect readingBandGeometry(const QSize &viewport, int lineHeight)
{
	const int height = viewport.height();
	const int centre = readingLineY(height);
	const int band = qMin(qMax(lineHeight + 8, 24), height);
	const int top = qMax(qMin(height - band, centre - band / 2), 0);
	return QRect(0, top, viewport.width(), band);
}

ReadingBand::ReadingBand(QWidget *viewport) : QWidget(viewport)
{
	setObjectName(QStringLiteral("readingBand"));
	setAttribute(Qt::WA_TransparentForMouseEvents);
	setFocusPolicy(Qt::NoFocus);
	hide();
}

void paintReadingBand(QPainter &painter, const QRect &band, bool dark)
{
	// Sky blue reads on dark text backgrounds, a deeper blue on light ones.
	QColor colour = dark ? QColor(56, 189, 248) : QColor(0, 119, 204);
	QColor fill = colour;
	fill.setAlpha(dark ? 54 : 36);
	painter.fillRect(band, fill);
	colour.setAlpha(210);
	painter.setPen(QPen(colour, 2, Qt::SolidLine));
	painter.drawLine(band.left(), band.top() + 1, band.right(), band.top() + 1);
	painter.drawLine(band.left(), band.bottom() - 1, band.right(), band.bottom() - 1);
}

void ReadingBand::paintEvent(QPaintEvent *)
{
	QPainter painter(this);
	paintReadingBand(painter, rect(), theme::isDark(palette().color(QPalette::Base)));
}

} // namespace quillmar
