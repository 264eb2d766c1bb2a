// Documents holding note content never read the files their HTML names.
#include "documents/blocks.h"
#include "documents/note_document.h"
#include "editor/editor.h"
#include "editor/note_limits.h"
#include "../editor/editor_input.h"
#include "hostile_images.h"

#include <QBuffer>
#include <QTextCursor>
#include <QTextImageFormat>

using namespace quillmar;

namespace {

QString dataUrl(const QImage &image)
{
	QBuffer buffer;
	buffer.open(QIODevice::WriteOnly);
	image.save(&buffer, "PNG");
	return QStringLiteral("data:image/png;base64,") + QString::fromLatin1(buffer.data().toBase64());
}

} // namespace

class NoteDocumentTest : public QObject {
	Q_OBJECT

	test::HostileImages m_files;

private Q_SLOTS:
	void initTestCase() { QVERIFY(m_files.ready()); }

	void entryPaths_data()
	{
		QTest::addColumn<QString>("path");
		QTest::addColumn<QString>("src");
		QTest::addColumn<QSize>("shown");
		const QSize placeholder = NoteDocument::placeholderImage().size();
		for (const char *path : {"document", "limit check", "blocks", "paste", "drop"})
			for (const char *src : {"/dev/zero", "FIFO", "SPARSE", "real.png"})
				QTest::addRow("%s %s", path, src) << QString::fromLatin1(path) << QString::fromLatin1(src) << placeholder;
		// Images the note holds itself are decoded, within bounds.
		QImage small(20, 10, QImage::Format_RGB32);
		small.fill(Qt::blue);
		QTest::newRow("small png is decoded") << "document" << dataUrl(small) << QSize(20, 10);
		// Small as a file, 25 megapixels once decoded.
		QImage large(5000, 5000, QImage::Format_Mono);
		large.fill(0);
		QTest::newRow("over the pixel bound") << "document" << dataUrl(large) << placeholder;
		QTest::newRow("not base64") << "document" << QStringLiteral("data:image/png;base64,@@@") << placeholder;
		QTest::newRow("not an image") << "document" << QStringLiteral("data:text/plain,hello") << placeholder;
	}

	// Each way HTML reaches a document, laid out and drawn: only what the note holds shows, or
	// the placeholder.
	void entryPaths()
	{
		QFETCH(QString, path);
		QFETCH(QString, src);
		QFETCH(QSize, shown);
		const QString html = test::HostileImages::noteWith(m_files.resolve(src));
		if (path == QLatin1String("limit check") || path == QLatin1String("blocks")) {
			QVERIFY(path == QLatin1String("blocks") ? !htmlToBlocks(html).isEmpty() : fitsNoteLimits(html));
			return;
		}
		Editor editor;
		editor.resize(300, 200);
		editor.show();
		if (path == QLatin1String("document"))
			editor.setNoteHtml(html);
		else if (path == QLatin1String("paste")) // through the clipboard, one for all tests
			test::paste(editor, test::mimeData(QString(), html));
		else
			test::drop(editor, 0, test::mimeData(QString(), html));
		editor.grab(); // lays out and paints the image
		QVERIFY(editor.toPlainText().contains(QLatin1String("after")));
		// The image the document draws for the first image in it.
		const QTextCursor at = editor.document()->find(QString(QChar::ObjectReplacementCharacter));
		const QUrl name(at.charFormat().toImageFormat().name());
		const QImage image = editor.document()->resource(QTextDocument::ImageResource, name).value<QImage>();
		QCOMPARE(image.size(), shown);
		QVERIFY(shown != NoteDocument::placeholderImage().size() || image == NoteDocument::placeholderImage());
		QVERIFY(editor.toHtml().contains(m_files.resolve(src).toHtmlEscaped()));
	}
};

QTEST_MAIN(NoteDocumentTest)
#include "tst_note_document.moc"
