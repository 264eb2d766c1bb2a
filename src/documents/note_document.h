#pragma once

#include <QTextDocument>

namespace quillmar {

// The text document for anything that holds note content. Qt's own document loads what an HTML
// note names (<img src>, <link href>) from disk while it parses or lays the text out: a note
// naming /dev/zero aborts the process, one naming a FIFO blocks forever, and any readable file
// leaks into the view. This one never touches a file, device or pipe: an image it does not hold
// shows as a small placeholder, an embedded data: image is decoded within a size bound, and the
// src stays as written so that saving loses nothing.
class NoteDocument : public QTextDocument {
	Q_OBJECT

public:
	explicit NoteDocument(QObject *parent = nullptr);

	// The image shown for one that cannot or may not be loaded.
	static QImage placeholderImage();

protected:
	QVariant loadResource(int type, const QUrl &name) override;
};

// Decodes a data: URL image; a null image when it is not one, is malformed or over the bounds.
QImage decodeDataImage(const QUrl &url);

} // namespace quillmar
