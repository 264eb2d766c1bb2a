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

void ReadingBand::paintEvent(QPaintEvent *)
{
	// Sky blue reads on dark text backgrounds, a deeper blue on light ones.
	const bool dark = theme::isDark(palette().color(QPalette::Base));
	QColor colour = dark ? QColor(56, 189, 248) : QColor(0, 119, 204);
	QPainter painter(this);
	QColor fill = colour;
	fill.setAlpha(dark ? 54 : 36);
	painter.fillRect(rect(), fill);
	colour.setAlpha(210);
	painter.setPen(QPen(colour, 2, Qt::SolidLine));
	painter.drawLine(0, 1, width() - 1, 1);
	painter.drawLine(0, height() - 2, width() - 1, height() - 2);
}

} // namespace quillmar
