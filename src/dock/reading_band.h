#pragma once

#include <QRect>
#include <QWidget>

class QPainter;

namespace quillmar {

// The band's place in a viewport of the given size, centred on the line at 38.2 % of its
// height (lineHeight: that line's cursor height): at least 24 px tall, never taller than the
// viewport, and never reaching above or below it.
QRect readingBandGeometry(const QSize &viewport, int lineHeight);
int readingLineY(int viewportHeight);
// The band's look, shared by the dock and the prompter window: a translucent fill between two
// lines, in a blue that reads on the given background.
void paintReadingBand(QPainter &painter, const QRect &band, bool darkBackground);

// The translucent band over the editor's viewport that marks the line to read while scrolling.
class ReadingBand : public QWidget {
	Q_OBJECT

public:
	explicit ReadingBand(QWidget *viewport);

protected:
	void paintEvent(QPaintEvent *event) override;
};

} // namespace quillmar
