// Arbitrary bytes as a block document a client sends, and after a NUL byte as the stored note's
// HTML. A save may fail, but a failed one leaves the output alone and an accepted one stores a
// note that is again a block document a client may edit.

#include "documents/blocks.h"

#include <QGuiApplication>
#include <QJsonDocument>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
	qputenv("QT_QPA_PLATFORM", "offscreen");
	// Text documents need the application; it lives for the whole run.
	static QGuiApplication *app = new QGuiApplication(*argc, *argv);
	(void)app;
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
	const qsizetype nul = bytes.indexOf('\0');
	const QJsonDocument sent = QJsonDocument::fromJson(nul < 0 ? bytes : bytes.left(nul));
	const QString stored = nul < 0 ? QString() : QString::fromUtf8(bytes.mid(nul + 1));
	if (!sent.isObject())
		return 0;
	const QString untouched = QStringLiteral("untouched");
	QString out = untouched;
	if (quillmar::applyBlocks(stored, sent.object(), out)) {
		if (!quillmar::htmlToBlocks(out).value(QLatin1String("editable")).toBool())
			abort();
	} else if (out != untouched) {
		abort();
	}
	return 0;
}
