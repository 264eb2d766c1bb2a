#pragma once

// The widget-free half of the HTTP server: finding and parsing a request head, checking an
// upload's head, and building response heads. Everything here is hostile input handling, so it
// is kept pure for the tests and the fuzzer.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>

namespace quillmar {

constexpr qsizetype HttpHeadLimit = 8192;
constexpr qint64 HttpUploadLimit = 5242880;

enum class HeadEnd { Incomplete, TooLarge, Complete };

// Where the head ends in the bytes buffered so far; *length counts the blank line.
HeadEnd findHeadEnd(const QByteArray &buffered, qsizetype *length);

struct HttpHead {
	QByteArray method;
	QByteArray path;
	QByteArray version;
	// Names lower-cased, values trimmed, in arrival order; no name occurs twice.
	QList<QPair<QByteArray, QByteArray>> fields;

	bool has(const char *name) const;
	// The value, or a null array when the field is absent.
	QByteArray value(const char *name) const;
};

enum class HeadError {
	None,
	// Not three parts separated by single spaces, or not HTTP/1.0 or HTTP/1.1.
	RequestLine,
	// A field line without a name, with white space or other non-token bytes in its name, a
	// folded continuation line, a control byte in a value, or a name given twice.
	Fields,
};

// A complete head, blank line included or not. The request line is parsed even when the
// fields are refused, so the caller can still tell the method and path.
HeadError parseHead(const QByteArray &head, HttpHead &out);

// Only the address of the link or a loopback address may name this server: a page on another
// name that resolves here (DNS rebinding) must never be served or heard.
bool hostAllowed(const QByteArray &host, const QHostAddress &address, quint16 port);

struct UploadHead {
	qint64 length = 0;
	qint64 revision = 0;
	QString access;
	QString session;
	QString scene;
	QString epoch;
};

// Checks an upload's head; returns nullptr when it may go on, else the reply code ("format" or
// "size"). *length is the announced body length whenever it could be read, even on refusal, so
// that a refused body can still be drained.
const char *checkUploadHead(const HttpHead &head, const QByteArray &origin, UploadHead &out);

// A decimal number of at most maxDigits digits and nothing else; -1 otherwise.
qint64 parseDigits(const QByteArray &text, int maxDigits);

struct StaticFile {
	const char *path;
	const char *resource;
	const char *contentType;
};

// The served file for an exact path, or nullptr.
const StaticFile *staticFile(const QByteArray &path);

// The full header block, blank line included. status is 200, 400, 404 or 405.
QByteArray responseHead(int status, const QByteArray &contentType, qint64 length, const QString &address,
			quint16 websocketPort);

// The locale keys the browser app asks for in "/config.json", in their order.
const QList<const char *> &clientLabelKeys();

} // namespace quillmar
