// The bounded input of Word parts must leave the XML as it was: whatever the bytes, the reader
// sees through it the same elements, attributes, text and errors as it sees in the bytes
// themselves, unless the input refused the part. Text may arrive in more pieces.

#include "documents/word_xml_input.h"

#include <QBuffer>
#include <QXmlStreamReader>

#include <cstddef>
#include <cstdint>

using namespace quillmar;

namespace {

void require(bool condition)
{
	if (!condition)
		__builtin_trap();
}

// Tokens as text, the pieces of one text joined, the input's cut marks left out. Parts with a DTD
// are refused before any of this matters: they end the list with "DTD".
QStringList tokens(QIODevice *device, bool *failed)
{
	QXmlStreamReader reader(device);
	QStringList out;
	QString text;
	while (!reader.atEnd()) {
		const auto token = reader.readNext();
		if (token == QXmlStreamReader::Characters) {
			text += reader.text();
			continue;
		}
		if (token == QXmlStreamReader::ProcessingInstruction && reader.processingInstructionTarget() == u"q")
			continue;
		if (token == QXmlStreamReader::DTD)
			return {QStringLiteral("DTD")};
		if (!text.isEmpty())
			out << QStringLiteral("text ") + text;
		text.clear();
		QString attributes;
		for (const QXmlStreamAttribute &a : reader.attributes())
			attributes += a.qualifiedName().toString() + QLatin1Char('=') + a.value().toString() + QLatin1Char(' ');
		out << reader.tokenString() + QLatin1Char(' ') + reader.qualifiedName().toString() + QLatin1Char(' ') + attributes;
	}
	*failed = reader.hasError();
	return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const QByteArray xml(reinterpret_cast<const char *>(data), qsizetype(size));
	QBuffer plain;
	plain.setData(xml);
	plain.open(QIODevice::ReadOnly);
	WordXmlInput bounded(xml);
	bool plainFailed = false, boundedFailed = false;
	const QStringList expected = tokens(&plain, &plainFailed);
	const QStringList got = tokens(&bounded, &boundedFailed);
	if (!bounded.fault().isEmpty() || expected.value(0) == u"DTD" || got.value(0) == u"DTD")
		return 0;
	require(plainFailed == boundedFailed);
	// A failed read may end its last text elsewhere; what both read before that agrees.
	const qsizetype agreed = plainFailed ? qMin(expected.size(), got.size()) - 1 : expected.size();
	require(expected.size() == got.size() || plainFailed);
	require(expected.mid(0, agreed) == got.mid(0, agreed));
	return 0;
}
