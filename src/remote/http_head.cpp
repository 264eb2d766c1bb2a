#include "remote/http_head.h"

#include <iterator>

namespace quillmar {

namespace {

bool isTokenByte(char c)
{
	if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
		return true;
	switch (c) {
	case '!': case '#': case '$': case '%': case '&': case '\'': case '*': case '+':
	case '-': case '.': case '^': case '_': case '`': case '|': case '~':
		return true;
	default:
		return false;
	}
}

bool hasControlByte(const QByteArray &value)
{
	for (const char c : value)
		if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f)
			return true;
	return false;
}

QString utf8(const QByteArray &value)
{
	return QString::fromUtf8(value);
}

const StaticFile StaticFiles[] = {
	{"/", ":/remote/index.html", "text/html; charset=utf-8"},
	{"/style.css", ":/remote/style.css", "text/css; charset=utf-8"},
	{"/app.mjs", ":/remote/app.mjs", "text/javascript; charset=utf-8"},
	{"/protocol.mjs", ":/remote/protocol.mjs", "text/javascript; charset=utf-8"},
	{"/document.mjs", ":/remote/document.mjs", "text/javascript; charset=utf-8"},
	{"/prompter.mjs", ":/remote/prompter.mjs", "text/javascript; charset=utf-8"},
	{"/prompter_view.mjs", ":/remote/prompter_view.mjs", "text/javascript; charset=utf-8"},
	{"/manifest.webmanifest", ":/remote/manifest.webmanifest", "application/manifest+json"},
	{"/icon.svg", ":/remote/icon.svg", "image/svg+xml"},
	{"/icon-192.png", ":/remote/icon-192.png", "image/png"},
	{"/icon-512.png", ":/remote/icon-512.png", "image/png"},
};

} // namespace

HeadEnd findHeadEnd(const QByteArray &buffered, qsizetype *length)
{
	const qsizetype end = buffered.indexOf("\r\n\r\n");
	if (end < 0)
		return buffered.size() > HttpHeadLimit ? HeadEnd::TooLarge : HeadEnd::Incomplete;
	if (end + 4 > HttpHeadLimit)
		return HeadEnd::TooLarge;
	*length = end + 4;
	return HeadEnd::Complete;
}

bool HttpHead::has(const char *name) const
{
	return !value(name).isNull();
}

QByteArray HttpHead::value(const char *name) const
{
	for (const auto &field : fields)
		if (field.first == name)
			return field.second.isNull() ? QByteArray("") : field.second;
	return QByteArray();
}

HeadError parseHead(const QByteArray &head, HttpHead &out)
{
	out = HttpHead();
	qsizetype end = head.indexOf("\r\n\r\n");
	if (end < 0)
		end = head.size();
	const QList<QByteArray> lines = head.left(end).split('\n');
	const QList<QByteArray> parts = lines.first().trimmed().split(' ');
	if (parts.size() != 3 || parts[0].isEmpty() || parts[1].isEmpty())
		return HeadError::RequestLine;
	if (parts[2] != "HTTP/1.1" && parts[2] != "HTTP/1.0")
		return HeadError::RequestLine;
	out.method = parts[0];
	out.path = parts[1];
	out.version = parts[2];
	for (auto line = std::next(lines.cbegin()); line != lines.cend(); ++line) {
		QByteArray text = *line;
		if (text.endsWith('\r'))
			text.chop(1);
		const qsizetype colon = text.indexOf(':');
		if (colon < 1)
			return HeadError::Fields;
		// A folded line starts with white space; so would a name padded before the colon.
		const QByteArray name = text.left(colon).toLower();
		for (const char c : name)
			if (!isTokenByte(c))
				return HeadError::Fields;
		const QByteArray value = text.mid(colon + 1).trimmed();
		if (hasControlByte(value) || out.has(name.constData()))
			return HeadError::Fields;
		out.fields.append({name, value.isNull() ? QByteArray("") : value});
	}
	return HeadError::None;
}

qint64 parseDigits(const QByteArray &text, int maxDigits)
{
	if (text.isEmpty() || text.size() > maxDigits)
		return -1;
	qint64 value = 0;
	for (const char c : text) {
		if (c < '0' || c > '9')
			return -1;
		value = value * 10 + (c - '0');
	}
	return value;
}

bool hostAllowed(const QByteArray &host, const QHostAddress &address, quint16 port)
{
	if (host.isEmpty())
		return false;
	if (host == address.toString().toLatin1() + ':' + QByteArray::number(port))
		return true;
	QByteArray name = host;
	if (name.startsWith('[')) {
		const qsizetype close = name.indexOf(']');
		if (close < 0)
			return false;
		const QByteArray rest = name.mid(close + 1);
		if (!rest.isEmpty() && (!rest.startsWith(':') || parseDigits(rest.mid(1), 5) < 0))
			return false;
		name = name.mid(1, close - 1);
		return QHostAddress(QString::fromLatin1(name)) == QHostAddress(QHostAddress::LocalHostIPv6);
	}
	const qsizetype colon = name.indexOf(':');
	if (colon >= 0) {
		if (parseDigits(name.mid(colon + 1), 5) < 0)
			return false;
		name.truncate(colon);
	}
	if (name.compare("localhost", Qt::CaseInsensitive) == 0)
		return true;
	// Only the dotted form: QHostAddress would also read "2130706433" or "127.1".
	if (name.count('.') != 3)
		return false;
	QHostAddress parsed;
	return parsed.setAddress(QString::fromLatin1(name)) && parsed.protocol() == QAbstractSocket::IPv4Protocol &&
	       parsed.isLoopback();
}

const char *checkUploadHead(const HttpHead &head, const QByteArray &origin, UploadHead &out)
{
	out = UploadHead();
	const qint64 length = parseDigits(head.value("content-length"), 7);
	if (length > 0)
		out.length = length;
	if (head.has("transfer-encoding") || length < 1)
		return "format";
	const qint64 revision = parseDigits(head.value("x-quillmar-revision"), 15);
	if (revision < 0)
		return "format";
	if (head.value("content-type") != "application/vnd.openxmlformats-officedocument.wordprocessingml.document")
		return "format";
	if (head.has("origin") && head.value("origin") != origin)
		return "format";
	if (length > HttpUploadLimit)
		return "size";
	out.revision = revision;
	out.access = utf8(head.value("x-quillmar-access"));
	out.session = utf8(head.value("x-quillmar-session"));
	out.scene = utf8(head.value("x-quillmar-scene"));
	out.epoch = utf8(head.value("x-quillmar-epoch"));
	return nullptr;
}

const StaticFile *staticFile(const QByteArray &path)
{
	for (const StaticFile &file : StaticFiles)
		if (path == file.path)
			return &file;
	return nullptr;
}

QByteArray responseHead(int status, const QByteArray &contentType, qint64 length, const QString &address,
			quint16 websocketPort)
{
	const char *statusText = status == 200   ? "200 OK"
				 : status == 404 ? "404 Not Found"
				 : status == 405 ? "405 Method Not Allowed"
						 : "400 Bad Request";
	QByteArray head;
	head.reserve(640);
	head += "HTTP/1.1 ";
	head += statusText;
	head += "\r\nContent-Type: ";
	head += contentType;
	head += "\r\nContent-Length: ";
	head += QByteArray::number(length);
	head += "\r\nConnection: close\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
		"Referrer-Policy: no-referrer\r\n"
		"Content-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self' 'unsafe-inline'; "
		"connect-src 'self' ";
	head += "ws://" + address.toLatin1() + ':' + QByteArray::number(websocketPort);
	head += "; img-src 'self'; manifest-src 'self'; base-uri 'none'; frame-ancestors 'none'; form-action 'none'"
		"\r\n\r\n";
	return head;
}

const QList<const char *> &clientLabelKeys()
{
	static const QList<const char *> keys = {
		"Quillmar", "FindPlaceholder", "FindPrevious", "FindNext", "CloseSearch", "NoMatch", "Pause",
		"RemoteDevice", "RemotePassword", "RemoteRememberSession", "RemoteConnect", "RemoteDisconnect",
		"RemoteConnected", "RemoteDisconnected", "RemoteConnecting", "RemotePasswordRequired", "RemoteFollow",
		"RemoteLocked", "RemoteClickEdit", "RemoteReadOnly", "RemoteEditing", "RemoteSaved", "RemoteSaving",
		"RemoteConflict", "RemoteReload", "RemoteDownload", "RemoteLocal", "RemoteOBS", "RemoteTarget",
		"RemotePlay", "RemoteTop", "RemoteGuide", "RemoteBusy", "RemoteFormat", "RemoteDraft", "RemoteFailure",
		"RemoteStorageFailed", "RemoteNoDraft", "RemoteRetry", "RemoteScene", "RemoteLines", "Bold", "Italic",
		"Underline", "Strikethrough", "FormatPainter", "FormatPainterContinuous", "SelectedCharacters",
		"TextColor", "AlignLeft", "AlignCenter", "AlignRight", "Speed", "Font", "Highlight", "ClearFormat",
		"AlignJustify", "ListStyle", "RemoveList", "ListDisc", "ListCircle", "ListSquare", "ListDecimal",
		"ListLowerAlpha", "ListUpperAlpha", "ListLowerRoman", "ListUpperRoman", "IncreaseIndent",
		"DecreaseIndent", "InsertTime", "InsertMark", "NextMark", "ReplacePrompt", "RemoteImport",
		"RemoteExport", "RemoteFileSize", "RemoteHtmlNotice", "RemoteSelectText", "RemoteCountdown",
		"RemoteTooLarge", "RemoteFontSize", "RemoteWordSize", "RemoteImporting", "RemoteImportFailed",
		"RemoteFileType", "RemoteWordNotice", "WordOpenError", "WordSimplified", "TextLimit", "CharacterCount",
		"CharacterRemaining", "ExportHTML", "ExportTXT", "GoTo", "GoToPrompt", "GoToInvalid", "DeleteMark",
	};
	return keys;
}

} // namespace quillmar
