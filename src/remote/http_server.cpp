// The remote service's HTTP server: the browser app's files, its configuration and the .docx
// upload. One request per connection, everything on the user-interface thread, every wait bounded
// by the connection's timer.
#include "remote/http_head.h"
#include "remote/remote.h"

#include "documents/word_import.h"
#include "module/module.h"
#include "module/text.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>

namespace quillmar {

// One accepted connection, shared by its signal handlers and freed with the last of them, which
// also removes an upload's temporary directory.
struct Transfer {
	bool responded = false;
	// The body has arrived whole; what comes after is not read.
	bool complete = false;
	qint64 remaining = 0;
	// Body bytes of a refused upload still to read, so that the early reply is not lost to a
	// reset from closing on unread input.
	qint64 discard = 0;
	QJsonObject request;
	std::unique_ptr<QTemporaryDir> directory;
	std::unique_ptr<QFile> file;
	QTimer *timer = nullptr;

	void dropFiles()
	{
		file.reset();
		directory.reset();
	}
};

namespace {

constexpr qint64 BodyChunk = 65536;
constexpr quint16 DefaultWebsocketPort = 4455;
// obs-websocket's own settings are small; anything larger is not them.
constexpr qint64 MaxWebsocketConfigBytes = 1024 * 1024;

quint16 readWebsocketPort(const QString &settingsFile)
{
	QCommandLineParser parser;
	parser.addOption(QCommandLineOption(QStringLiteral("websocket_port"), QString(), QStringLiteral("port")));
	// Unknown options of the host are expected; the ones known are still read.
	(void)parser.parse(QCoreApplication::arguments());
	if (parser.isSet(QStringLiteral("websocket_port"))) {
		bool ok = false;
		const uint port = parser.value(QStringLiteral("websocket_port")).toUInt(&ok);
		if (ok && port > 0 && port <= 65535)
			return quint16(port);
	}
	QFile file(QDir::cleanPath(QFileInfo(settingsFile).absolutePath() + QStringLiteral("/../obs-websocket/config.json")));
	if (!file.open(QIODevice::ReadOnly))
		return DefaultWebsocketPort;
	const QJsonValue port =
		QJsonDocument::fromJson(file.read(MaxWebsocketConfigBytes)).object().value(QStringLiteral("server_port"));
	const qint64 value = port.isUndefined() ? DefaultWebsocketPort : port.toInteger(-1);
	return value >= 1 && value <= 65535 ? quint16(value) : DefaultWebsocketPort;
}

} // namespace

quint16 Remote::websocketPort() const
{
	// Read at most once a second: every response names it.
	const qint64 now = m_state.now();
	if (m_websocketPort == 0 || now - m_websocketPortRead >= 1000) {
		m_websocketPort = readWebsocketPort(m_settings->fileName());
		m_websocketPortRead = now;
	}
	return m_websocketPort;
}

QJsonObject Remote::configObject() const
{
	QJsonObject labels;
	for (const char *key : clientLabelKeys())
		labels.insert(QLatin1String(key), text(key));
	return QJsonObject{{QStringLiteral("port"), int(websocketPort())},
			   {QStringLiteral("labels"), labels},
			   {QStringLiteral("version"), QString::fromLatin1(module::Version)}};
}

void Remote::acceptConnections()
{
	while (QTcpSocket *socket = m_server->nextPendingConnection()) {
		if (m_connections >= MaxConnections) {
			socket->abort();
			socket->deleteLater();
			continue;
		}
		++m_connections;
		connect(socket, &QObject::destroyed, this, [this] { --m_connections; });
		auto transfer = std::make_shared<Transfer>();
		socket->setReadBufferSize(HttpHeadLimit + 1);
		transfer->timer = new QTimer(socket);
		transfer->timer->setSingleShot(true);
		// A coarse timer may fire 5 % early.
		transfer->timer->setTimerType(Qt::PreciseTimer);
		connect(transfer->timer, &QTimer::timeout, socket, [socket] {
			socket->abort();
			socket->deleteLater();
		});
		transfer->timer->start(m_headMs);
		connect(socket, &QTcpSocket::disconnected, this, [this, socket, transfer] {
			transfer->responded = true;
			transfer->dropFiles();
			if (m_upload == socket)
				m_upload = nullptr;
			socket->deleteLater();
		});
		connect(socket, &QTcpSocket::readyRead, this, [this, socket, transfer] { readRequest(socket, transfer); });
	}
}

void Remote::readRequest(QTcpSocket *socket, const std::shared_ptr<Transfer> &transfer)
{
	if (transfer->responded) {
		if (transfer->discard > 0)
			drain(socket, *transfer);
		return;
	}
	if (transfer->complete)
		return;
	if (transfer->file) {
		readBody(socket, transfer);
		return;
	}
	const QByteArray buffered = socket->peek(HttpHeadLimit + 1);
	qsizetype length = 0;
	switch (findHeadEnd(buffered, &length)) {
	case HeadEnd::Incomplete:
		return;
	case HeadEnd::TooLarge:
		socket->abort();
		socket->deleteLater();
		return;
	case HeadEnd::Complete:
		break;
	}
	answerHead(socket, transfer, socket->read(length));
}

void Remote::answerHead(QTcpSocket *socket, const std::shared_ptr<Transfer> &transfer, const QByteArray &bytes)
{
	HttpHead head;
	const HeadError parsed = parseHead(bytes, head);
	const bool upload = head.method == "POST" && head.path == "/import.docx";
	// Whatever the answer, a body the client announced is read before closing.
	if (parsed == HeadError::None)
		transfer->discard = qMax<qint64>(0, parseDigits(head.value("content-length"), 7));
	if (parsed == HeadError::RequestLine || (parsed == HeadError::Fields && !upload) ||
	    (parsed == HeadError::None && !hostAllowed(head.value("host"), m_server->serverAddress(), m_server->serverPort()))) {
		sendResponse(socket, *transfer, QByteArray(), "text/plain", 400);
		return;
	}
	if (head.method == "GET") {
		if (head.path == "/config.json") {
			sendResponse(socket, *transfer, QJsonDocument(configObject()).toJson(QJsonDocument::Compact),
				     "application/json", 200);
			return;
		}
		if (const StaticFile *file = staticFile(head.path)) {
			QFile resource(QString::fromLatin1(file->resource));
			if (resource.open(QIODevice::ReadOnly)) {
				sendResponse(socket, *transfer, resource.readAll(), file->contentType, 200);
				return;
			}
		}
		sendResponse(socket, *transfer, QByteArray(), "text/plain; charset=utf-8", 404);
		return;
	}
	if (!upload) {
		sendResponse(socket, *transfer, QByteArray(), "text/plain", 405);
		return;
	}
	if (parsed != HeadError::None) {
		sendJson(socket, *transfer, error("format"));
		return;
	}
	startUpload(socket, transfer, head);
}

void Remote::startUpload(QTcpSocket *socket, const std::shared_ptr<Transfer> &transfer, const HttpHead &head)
{
	const QByteArray origin = "http://" + m_server->serverAddress().toString().toLatin1() + ':' +
				  QByteArray::number(m_server->serverPort());
	UploadHead upload;
	const char *refused = checkUploadHead(head, origin, upload);
	transfer->discard = upload.length;
	if (refused) {
		sendJson(socket, *transfer, error(refused));
		return;
	}
	const QJsonObject request{{QStringLiteral("action"), QStringLiteral("CheckImport")},
				  {QStringLiteral("access"), upload.access},
				  {QStringLiteral("session"), upload.session},
				  {QStringLiteral("scene"), upload.scene},
				  {QStringLiteral("epoch"), upload.epoch},
				  {QStringLiteral("revision"), double(upload.revision)}};
	const QJsonObject checked = dispatch(request);
	if (!checked.value(QStringLiteral("ok")).toBool()) {
		sendJson(socket, *transfer, checked);
		return;
	}
	if (m_upload && m_upload != socket) {
		sendJson(socket, *transfer, error("busy"));
		return;
	}
	auto directory = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/quillmar-upload-XXXXXX"));
	if (!directory->isValid()) {
		sendJson(socket, *transfer, error("upload"));
		return;
	}
	auto file = std::make_unique<QFile>(directory->filePath(QStringLiteral("document.docx")));
	if (!file->open(QIODevice::WriteOnly)) {
		sendJson(socket, *transfer, error("upload"));
		return;
	}
	transfer->discard = 0;
	transfer->directory = std::move(directory);
	transfer->file = std::move(file);
	transfer->request = request;
	transfer->remaining = upload.length;
	m_upload = socket;
	socket->setReadBufferSize(BodyChunk);
	transfer->timer->start(m_bodyMs);
	readBody(socket, transfer);
}

void Remote::readBody(QTcpSocket *socket, const std::shared_ptr<Transfer> &transfer)
{
	while (transfer->remaining > 0 && socket->bytesAvailable() > 0) {
		const QByteArray chunk = socket->read(qMin(transfer->remaining, BodyChunk));
		if (chunk.isEmpty())
			break;
		transfer->remaining -= chunk.size();
		if (transfer->file->write(chunk) != chunk.size()) {
			transfer->discard = transfer->remaining;
			sendJson(socket, *transfer, error("upload"));
			return;
		}
	}
	if (transfer->remaining == 0)
		finishUpload(socket, transfer);
}

void Remote::finishUpload(QTcpSocket *socket, const std::shared_ptr<Transfer> &transfer)
{
	transfer->complete = true;
	// The import may take a while; a client that gives up meanwhile must not have it committed.
	transfer->timer->stop();
	if (socket->bytesAvailable() > 0 || socket->state() != QAbstractSocket::ConnectedState) {
		sendJson(socket, *transfer, error("format"));
		return;
	}
	const QJsonObject checked = dispatch(transfer->request);
	if (!checked.value(QStringLiteral("ok")).toBool()) {
		sendJson(socket, *transfer, checked);
		return;
	}
	if (!transfer->file->flush()) {
		sendJson(socket, *transfer, error("upload"));
		return;
	}
	transfer->file->close();
	const WordImportResult imported = importWordDocument(transfer->file->fileName());
	if (!imported.error.isEmpty()) {
		sendJson(socket, *transfer, error(imported.error == text("TextLimit") ? "limit" : "word"));
		return;
	}
	// Notices a peer that closed during the import (delivered at once, not through the loop).
	socket->waitForReadyRead(0);
	if (transfer->responded || socket->state() != QAbstractSocket::ConnectedState || socket->bytesAvailable() > 0) {
		socket->abort();
		socket->deleteLater();
		return;
	}
	sendJson(socket, *transfer, commitReplacement(transfer->request, imported.html, imported.simplified));
}

void Remote::sendResponse(QTcpSocket *socket, Transfer &transfer, const QByteArray &body, const QByteArray &type,
			  int status)
{
	transfer.responded = true;
	transfer.dropFiles();
	if (m_upload == socket)
		m_upload = nullptr;
	socket->write(responseHead(status, type, body.size(), m_server->serverAddress().toString(), websocketPort()) + body);
	transfer.timer->start(m_bodyMs);
	if (transfer.discard > 0) {
		socket->setReadBufferSize(BodyChunk);
		drain(socket, transfer);
	} else {
		socket->disconnectFromHost();
	}
}

void Remote::sendJson(QTcpSocket *socket, Transfer &transfer, const QJsonObject &reply)
{
	sendResponse(socket, transfer, QJsonDocument(reply).toJson(QJsonDocument::Compact), "application/json", 200);
}

void Remote::drain(QTcpSocket *socket, Transfer &transfer)
{
	while (transfer.discard > 0) {
		const QByteArray skipped = socket->read(qMin(transfer.discard, BodyChunk));
		if (skipped.isEmpty())
			break;
		transfer.discard -= skipped.size();
	}
	if (transfer.discard <= 0)
		socket->disconnectFromHost();
}

void Remote::abortConnections()
{
	m_upload = nullptr;
	const auto sockets = m_server->findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly);
	for (QTcpSocket *socket : sockets) {
		socket->abort();
		socket->deleteLater();
	}
}

void Remote::abortUpload()
{
	if (QTcpSocket *socket = m_upload) {
		m_upload = nullptr;
		socket->abort();
		socket->deleteLater();
	}
}

} // namespace quillmar
