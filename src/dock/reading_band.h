#pragma once

#include <QRect>
#include <QWidget>

namespace quillmar {

// The band's place in a viewport of the given size, centred on the line at 38.2 % of its
// height (lineHeight: that line's cursor height): at least 24 px tall, never taller than the
// viewport, and never reaching above or below it.
QRect readingBandGeometry(const QSize &viewport, int lineHeight);
int readingLineY(int viewportHeight);

// The translucent band over the editor's viewport that marks the line to read while scrolling.
class ReadingBand : public QWidget {
	Q_OBJECT

public:
	explicit ReadingBand(QWidget *viewport);

protected:
	void paintEvent(QPaintEvent *event) override;
};

} // namespace quillmar
