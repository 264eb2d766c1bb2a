// Arbitrary bytes as the start of a connection: the head must be found within its limit, parsed
// without reading past it, and an upload head either refused or carrying sane numbers.

#include "remote/http_head.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	using namespace quillmar;
	const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
	qsizetype length = -1;
	const HeadEnd end = findHeadEnd(bytes.left(HttpHeadLimit + 1), &length);
	if (end != HeadEnd::Complete)
		return 0;
	if (length < 4 || length > HttpHeadLimit || !bytes.left(length).endsWith("\r\n\r\n"))
		abort();
	HttpHead head;
	if (parseHead(bytes.left(length), head) != HeadError::None)
		return 0;
	if (head.version != "HTTP/1.1" && head.version != "HTTP/1.0")
		abort();
	for (const auto &field : head.fields)
		if (field.first.isEmpty() || field.first != field.first.toLower() || field.second != field.second.trimmed())
			abort();
	(void)hostAllowed(head.value("host"), QHostAddress(QStringLiteral("192.168.1.20")), 8800);
	UploadHead upload;
	const char *refused = checkUploadHead(head, "http://192.168.1.20:8800", upload);
	if (!refused && (upload.length < 1 || upload.length > HttpUploadLimit || upload.revision < 0))
		abort();
	if (upload.length < 0 || upload.length > 9999999)
		abort();
	return 0;
}
