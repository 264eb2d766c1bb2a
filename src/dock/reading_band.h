#pragma once

#include <QWidget>

namespace quillmar {

// The translucent band over the editor's viewport that marks the line to read while scrolling.
class ReadingBand : public QWidget {
	Q_OBJECT

public:
	explicit ReadingBand(QWidget *viewport);

protected:
	void paintEvent(QPaintEvent *event) override;
};

} // namespace quillmar
