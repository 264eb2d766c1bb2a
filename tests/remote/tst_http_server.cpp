// The HTTP server over real loopback sockets, as browsers and hostile clients talk to it.
#include "module/text.h"
#include "remote/http_head.h"
#include "remote_fixture.h"
#include "test_util.h"
#include "upload_fields.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QTcpSocket>
#include <QUrl>

#include <sys/socket.h>

using namespace quillmar;
using namespace quillmar::test;

namespace {

struct Reply {
	// 0: closed without a response.
	int status = 0;
	QByteArray head;
	QByteArray body;
	// Every byte the client wrote was taken: the connection was not cut under it.
	bool allSent = false;

	QByteArray header(const QByteArray &name) const
	{
		for (const QByteArray &line : head.split('\n'))
			if (line.toLower().startsWith(name.toLower() + ": "))
				return line.mid(name.size() + 2).trimmed();
		return QByteArray();
	}
	QString code() const { return test::code(QJsonDocument::fromJson(body).object()); }
};

Reply parse(const QByteArray &raw)
{
	Reply reply;
	const qsizetype end = raw.indexOf("\r\n\r\n");
	if (end < 0)
		return reply;
	reply.head = raw.left(end);
	reply.body = raw.mid(end + 4);
	const QList<QByteArray> status = reply.head.left(reply.head.indexOf('\r')).split(' ');
	reply.status = status.size() >= 2 ? status[1].toInt() : -1;
	return reply;
}

quint16 port(const RemoteRig &rig)
{
	return quint16(QUrl(rig.remote->url()).port());
}

// One client connection in the test's own thread.
struct Client {
	QTcpSocket socket;
	QByteArray received;
	qint64 queued = 0;
	// Taken by the kernel; a connection cut under the client leaves this short of queued.
	qint64 written = 0;

	explicit Client(const RemoteRig &rig)
	{
		QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
		QObject::connect(&socket, &QTcpSocket::bytesWritten, [this](qint64 bytes) { written += bytes; });
		socket.connectToHost(QHostAddress::LocalHost, port(rig));
		QVERIFY(socket.waitForConnected(5000));
	}
	void send(const QByteArray &bytes) { queued += socket.write(bytes); }
	bool closed(int ms = 20000)
	{
		return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::UnconnectedState; }, ms);
	}
	Reply finish(int ms = 20000)
	{
		const bool ended = closed(ms);
		received += socket.readAll();
		Reply reply = parse(received);
		reply.allSent = ended && written == queued;
		return reply;
	}
};

Reply exchange(const RemoteRig &rig, const QByteArray &bytes)
{
	Client client(rig);
	client.send(bytes);
	return client.finish();
}

QByteArray get(const QByteArray &path, const QByteArray &host)
{
	return "GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
}

QByteArray hostOf(const RemoteRig &rig)
{
	return "127.0.0.1:" + QByteArray::number(port(rig));
}

QByteArray docxBytes()
{
	return fileBytes(QStringLiteral(QUILLMAR_SOURCE_DIR "/tests/data/docx/pandoc.docx"));
}

// An upload by the lease holder of the first scene.
UploadFields leaseholderUpload(RemoteRig &rig, const QByteArray &body)
{
	const QString session = rig.open();
	if (code(rig.send(rig.edit("AcquireEdit", session, rig.scene()))) != QLatin1String("ok"))
		qFatal("no lease");
	UploadFields upload;
	upload.body = body;
	upload.fields = {
		{"Host", hostOf(rig)},
		{"Origin", "http://" + hostOf(rig)},
		{"Content-Type", WordType},
		{"Content-Length", QByteArray::number(body.size())},
		{"X-Quillmar-Access", rig.remote->accessToken().toUtf8()},
		{"X-Quillmar-Session", session.toUtf8()},
		{"X-Quillmar-Scene", rig.scene().toUtf8()},
		{"X-Quillmar-Epoch", rig.remote->state().epoch().toUtf8()},
		{"X-Quillmar-Revision", QByteArray::number(rig.remote->state().revision(rig.scene()))},
	};
	return upload;
}

QStringList uploadDirectories()
{
	return QDir(QDir::tempPath()).entryList({QStringLiteral("quillmar-upload-*")}, QDir::Dirs);
}

bool allClosed(RemoteRig &rig)
{
	return QTest::qWaitFor([&] { return rig.remote->connectionCount() == 0; }, 20000);
}

} // namespace

class TestHttpServer : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void requests_data()
	{
		QTest::addColumn<QByteArray>("request");
		QTest::addColumn<int>("status");
		QTest::addColumn<QByteArray>("type");
		// "HOST" stands for the listening address and port.
		const QByteArray h = "HOST";
		QTest::newRow("config") << get("/config.json", h) << 200 << QByteArray("application/json");
		QTest::newRow("root with query") << get("/?x=1", h) << 404 << QByteArray("text/plain; charset=utf-8");
		QTest::newRow("index by name") << get("/index.html", h) << 404 << QByteArray("text/plain; charset=utf-8");
		QTest::newRow("http/2.0") << QByteArray("GET / HTTP/2.0\r\nHost: HOST\r\n\r\n") << 400 << QByteArray("text/plain");
		QTest::newRow("put root") << QByteArray("PUT / HTTP/1.1\r\nHost: HOST\r\n\r\n") << 405 << QByteArray("text/plain");
		QTest::newRow("foreign host") << get("/config.json", "attacker.example:80") << 400 << QByteArray("text/plain");
		QTest::newRow("no host") << QByteArray("GET /config.json HTTP/1.1\r\n\r\n") << 400 << QByteArray("text/plain");
		QTest::newRow("localhost") << get("/config.json", "localhost") << 200 << QByteArray("application/json");
		QTest::newRow("folded line") << QByteArray("GET /config.json HTTP/1.1\r\nHost: HOST\r\nX-A: a\r\n b\r\n\r\n") << 400 << QByteArray("text/plain");
		QTest::newRow("foreign host before a bad method") << QByteArray("PUT / HTTP/1.1\r\nHost: a.example\r\n\r\n") << 400 << QByteArray("text/plain");
		// Every file the browser app carries is served, or a module it imports would fail to load.
		for (const QString &name : QDir(QStringLiteral(":/remote")).entryList(QDir::Files)) {
			const QByteArray path = name == QLatin1String("index.html") ? "/" : '/' + name.toUtf8();
			const StaticFile *file = staticFile(path);
			QTest::newRow(path.constData()) << get(path, h) << 200 << QByteArray(file ? file->contentType : "not served");
		}
	}
	void requests()
	{
		QFETCH(QByteArray, request);
		QFETCH(int, status);
		QFETCH(QByteArray, type);
		RemoteRig rig;
		const StaticFile *file = staticFile(request.split(' ').value(1));
		QByteArray expected;
		if (status == 200 && file) {
			// The resource as built in, whatever the browser app's files hold.
			QFile resource(QString::fromLatin1(file->resource));
			QVERIFY2(resource.open(QIODevice::ReadOnly), file->resource);
			expected = resource.readAll();
		}
		const Reply reply = exchange(rig, request.replace("HOST", hostOf(rig)));
		QCOMPARE(reply.status, status);
		QCOMPARE(reply.header("Content-Type"), type);
		QCOMPARE(reply.header("Content-Length"), QByteArray::number(reply.body.size()));
		if (file)
			QCOMPARE(reply.body, expected);
		else if (status == 200)
			QCOMPARE(QJsonDocument::fromJson(reply.body).object(), rig.remote->configObject());
		else
			QVERIFY(reply.body.isEmpty());
		QVERIFY(allClosed(rig));
	}

	void headerBlockIsExact()
	{
		RemoteRig rig;
		const Reply reply = exchange(rig, get("/config.json", hostOf(rig)));
		const QByteArray expected = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
					    QByteArray::number(reply.body.size()) +
					    "\r\nConnection: close\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
					    "Referrer-Policy: no-referrer\r\nContent-Security-Policy: default-src 'none'; script-src 'self'; "
					    "style-src 'self' 'unsafe-inline'; connect-src 'self' ws://127.0.0.1:" +
					    QByteArray::number(rig.remote->websocketPort()) +
					    "; img-src 'self'; manifest-src 'self'; base-uri 'none'; frame-ancestors 'none'; form-action 'none'";
		QCOMPARE(reply.head, expected);
		const QJsonObject config = QJsonDocument::fromJson(reply.body).object();
		QCOMPARE(config.value(QStringLiteral("labels")).toObject().value(QStringLiteral("TextLimit")).toString(), text("TextLimit"));
	}

	void websocketPort_data()
	{
		QTest::addColumn<QByteArray>("config");
		QTest::addColumn<int>("port");
		QTest::newRow("no file") << QByteArray() << 4455;
		QTest::newRow("its port") << QByteArray(R"({"server_port":4460,"server_enabled":true})") << 4460;
		QTest::newRow("out of range") << QByteArray(R"({"server_port":70000})") << 4455;
		QTest::newRow("not json") << QByteArray("server_port=4460") << 4455;
	}
	void websocketPort()
	{
		QFETCH(QByteArray, config);
		QFETCH(int, port);
		RemoteRig rig;
		const QString path = QDir::cleanPath(moduleConfigDir() + QStringLiteral("/../obs-websocket/config.json"));
		QFile::remove(path);
		if (!config.isNull())
			QVERIFY(writeBytes(path, config));
		QCOMPARE(int(rig.remote->websocketPort()), port);
		QCOMPARE(rig.remote->configObject().value(QStringLiteral("port")).toInt(), port);
		QFile::remove(path);
	}

	void uploads_data()
	{
		QTest::addColumn<QByteArray>("change");
		QTest::addColumn<QByteArray>("value");
		QTest::addColumn<QString>("code");
		QTest::newRow("accepted") << QByteArray() << QByteArray() << QStringLiteral("ok");
		QTest::newRow("foreign origin") << QByteArray("Origin") << QByteArray("http://attacker.example") << QStringLiteral("format");
		QTest::newRow("second length") << QByteArray("content-length") << QByteArray("12") << QStringLiteral("format");
		QTest::newRow("wrong token") << QByteArray("X-Quillmar-Access") << QByteArray("AAAAAAAAAAAAAAAAAAAAAA") << QStringLiteral("access");
		QTest::newRow("stale revision") << QByteArray("X-Quillmar-Revision") << QByteArray("7") << QStringLiteral("conflict");
		QTest::newRow("foreign host") << QByteArray("Host") << QByteArray("attacker.example") << QStringLiteral("400");
	}
	void uploads()
	{
		QFETCH(QByteArray, change);
		QFETCH(QByteArray, value);
		QFETCH(QString, code);
		RemoteRig rig;
		const QString before = rig.stored();
		UploadFields upload = leaseholderUpload(rig, docxBytes());
		if (change == "content-length")
			upload.fields.append({change, value});
		else if (!change.isEmpty())
			upload.set(change, value);
		const Reply reply = exchange(rig, upload.bytes());
		if (code == QLatin1String("400")) {
			QCOMPARE(reply.status, 400);
		} else {
			QCOMPARE(reply.status, 200);
			QCOMPARE(reply.header("Content-Type"), QByteArray("application/json"));
			QCOMPARE(reply.code(), code);
		}
		// A refused upload loses nothing; an accepted one is the note.
		QCOMPARE(rig.stored().contains(QLatin1String("Between lists.")), code == QLatin1String("ok"));
		if (code != QLatin1String("ok"))
			QCOMPARE(rig.stored(), before);
		QVERIFY(reply.allSent);
		QVERIFY(allClosed(rig));
		QVERIFY(uploadDirectories().isEmpty());
	}

	// The reply to a head refused at once is read whole while the client is still sending, and
	// the body is taken in full before the connection closes, so no reset swallows the reply.
	void earlyRepliesSurviveTheBody_data()
	{
		QTest::addColumn<qint64>("length");
		QTest::addColumn<QString>("code");
		QTest::newRow("exactly 5 MiB of junk") << qint64(HttpUploadLimit) << QStringLiteral("word");
		QTest::newRow("one byte more") << qint64(HttpUploadLimit + 1) << QStringLiteral("size");
		QTest::newRow("largest length") << qint64(9999999) << QStringLiteral("size");
	}
	void earlyRepliesSurviveTheBody()
	{
		QFETCH(qint64, length);
		QFETCH(QString, code);
		RemoteRig rig;
		const QString before = rig.stored();
		UploadFields upload = leaseholderUpload(rig, QByteArray());
		upload.set("Content-Length", QByteArray::number(length));
		Client client(rig);
		client.send(upload.head() + QByteArray(65536, 'x'));
		if (code != QLatin1String("word")) {
			// Refused from the head: the answer is there before most of the body is sent.
			QVERIFY(QTest::qWaitFor([&] { return parse(client.received).body.size() >= 10; }, 20000));
			QCOMPARE(client.socket.state(), QAbstractSocket::ConnectedState);
		}
		client.send(QByteArray(int(length) - 65536, 'x'));
		const Reply reply = client.finish();
		QCOMPARE(reply.status, 200);
		QCOMPARE(reply.code(), code);
		QVERIFY(reply.allSent);
		QCOMPARE(rig.stored(), before);
		QVERIFY(allClosed(rig));
	}

	void secondUploadIsBusy()
	{
		RemoteRig rig;
		const UploadFields upload = leaseholderUpload(rig, docxBytes());
		Client first(rig);
		first.send(upload.head() + upload.body.left(100));
		QVERIFY(QTest::qWaitFor([&] { return rig.remote->uploading(); }, 20000));
		QCOMPARE(exchange(rig, upload.bytes()).code(), QStringLiteral("busy"));
		first.send(upload.body.mid(100));
		QCOMPARE(first.finish().code(), QStringLiteral("ok"));
		QVERIFY(rig.stored().contains(QLatin1String("Between lists.")));
	}

	// An upload cut off by the lock, by the server's stop, or by a client that sends the whole
	// body and gives up before the reply: nothing is stored, nothing is left behind.
	void interruptedUploadsChangeNothing_data()
	{
		QTest::addColumn<QString>("by");
		for (const char *by : {"lock", "stop", "client"})
			QTest::newRow(by) << QString::fromLatin1(by);
	}
	void interruptedUploadsChangeNothing()
	{
		QFETCH(QString, by);
		RemoteRig rig;
		const QString before = rig.stored();
		const UploadFields upload = leaseholderUpload(rig, docxBytes());
		Client client(rig);
		std::unique_ptr<Client> idle;
		if (by == QLatin1String("stop"))
			(idle = std::make_unique<Client>(rig))->send("GET /");
		const qsizetype first = by == QLatin1String("client") ? upload.body.size() : 100;
		client.send(upload.head() + upload.body.left(first));
		QVERIFY(client.socket.waitForBytesWritten(5000));
		if (by == QLatin1String("client")) {
			QCOMPARE(::shutdown(int(client.socket.socketDescriptor()), SHUT_WR), 0);
		} else {
			QVERIFY(QTest::qWaitFor([&] { return rig.remote->uploading(); }, 20000));
			QCOMPARE(uploadDirectories().size(), 1);
			by == QLatin1String("lock") ? rig.dock->setLocked(true) : rig.remote->stop();
			QVERIFY(uploadDirectories().isEmpty());
			client.send(upload.body.mid(first));
		}
		QVERIFY(client.finish().code() != QLatin1String("ok"));
		QVERIFY(!idle || idle->closed());
		QVERIFY(allClosed(rig));
		QCOMPARE(rig.stored(), before);
		QVERIFY(uploadDirectories().isEmpty());
	}

	void oversizeHeadIsDropped_data()
	{
		QTest::addColumn<int>("size");
		QTest::addColumn<bool>("terminated");
		QTest::addColumn<int>("status");
		QTest::newRow("8192 with its end") << 8192 << true << 200;
		QTest::newRow("8193 with its end") << 8193 << true << 0;
		QTest::newRow("8193 without an end") << 8193 << false << 0;
	}
	void oversizeHeadIsDropped()
	{
		QFETCH(int, size);
		QFETCH(bool, terminated);
		QFETCH(int, status);
		RemoteRig rig;
		QByteArray head = "GET /config.json HTTP/1.1\r\nHost: " + hostOf(rig) + "\r\nX-Pad: ";
		head += QByteArray(size - head.size() - 4, 'a');
		head += terminated ? "\r\n\r\n" : "aaaa";
		QCOMPARE(head.size(), size);
		QCOMPARE(exchange(rig, head).status, status);
		QVERIFY(allClosed(rig));
	}

	// The one check of the real head deadline: a head dribbled a byte every 100 ms would take
	// over 4 s; it is dropped at 3 s without a response.
	void dribbledHeadIsDropped()
	{
		RemoteRig rig;
		Client client(rig);
		const QByteArray head = get("/config.json", hostOf(rig));
		QVERIFY(head.size() > 40);
		QTimer drip;
		int sent = 0;
		QObject::connect(&drip, &QTimer::timeout, [&] {
			if (sent < head.size())
				client.send(head.mid(sent++, 1));
		});
		QElapsedTimer clock;
		clock.start();
		drip.start(100);
		QVERIFY(client.closed(10000));
		QVERIFY2(clock.elapsed() >= 2950 && clock.elapsed() < 6000, qPrintable(QString::number(clock.elapsed())));
		QVERIFY(client.received.isEmpty());
		QVERIFY(sent < head.size());
	}

	void slowClientsDoNotLockOthersOut()
	{
		RemoteRig rig;
		rig.remote->setHttpDeadlines(500, 30000);
		std::vector<std::unique_ptr<Client>> slow;
		for (int i = 0; i < Remote::MaxConnections; ++i) {
			slow.push_back(std::make_unique<Client>(rig));
			slow.back()->send("GET / HTTP/1.1\r\n");
		}
		QVERIFY(QTest::qWaitFor([&] { return rig.remote->connectionCount() == Remote::MaxConnections; }, 20000));
		const Reply refused = exchange(rig, get("/config.json", hostOf(rig)));
		QCOMPARE(refused.status, 0);
		QCOMPARE(rig.remote->connectionCount(), Remote::MaxConnections);
		QVERIFY(allClosed(rig));
		for (const auto &client : slow)
			QVERIFY(client->closed());
		QCOMPARE(exchange(rig, get("/config.json", hostOf(rig))).status, 200);
	}
};

QUILLMAR_OBS_TEST_MAIN(TestHttpServer)
#include "tst_http_server.moc"
