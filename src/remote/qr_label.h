#pragma once

#include <QImage>
#include <QLabel>

namespace quillmar {

// The QR code (error correction LOW) of a text's UTF-8 bytes on a white side x side image, at
// least four modules of quiet zone around it; null when the side cannot hold that, or the text
// does not fit any symbol.
QImage qrImage(const QString &text, int side);

// Shows a link as a square QR code as wide as the label.
class QrLabel : public QLabel {
	Q_OBJECT

public:
	explicit QrLabel(QWidget *parent = nullptr);
	~QrLabel() override;

	QString link() const { return m_link; }
	void setLink(const QString &link);

	QSize sizeHint() const override;
	QSize minimumSizeHint() const override;

protected:
	void resizeEvent(QResizeEvent *event) override;

private:
	void render();

	QString m_link;
};

} // namespace quillmar
