// The HTTP server over real loopback sockets, as browsers and hostile clients talk to it.
#include "module/text.h"
#include "remote/http_head.h"
#include "remote_fixture.h"
#include "test_util.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrl>

#include <sys/socket.h>

using namespace quillmar;
using namespace quillmar::test;

namespace {

struct Reply {
	int status = 0; // 0: closed without a response
	QByteArray head, body;
	bool allSent = false; // every byte the client wrote was taken: the connection was not cut under it

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
	if (end >= 0) {
		reply.head = raw.left(end);
		reply.body = raw.mid(end + 4);
		reply.status = reply.head.left(reply.head.indexOf('\r')).split(' ').value(1).toInt();
	}
	return reply;
}

QByteArray hostOf(const RemoteRig &rig)
{
	return "127.0.0.1:" + QByteArray::number(QUrl(rig.remote->url()).port());
}

// One client connection in the test's own thread.
struct Client {
	QTcpSocket socket;
	QByteArray received;
	qint64 queued = 0, written = 0;

	explicit Client(const RemoteRig &rig)
	{
		QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
		QObject::connect(&socket, &QTcpSocket::bytesWritten, [this](qint64 bytes) { written += bytes; });
		socket.connectToHost(QHostAddress::LocalHost, quint16(QUrl(rig.remote->url()).port()));
		QVERIFY(socket.waitForConnected(5000));
	}
	void send(const QByteArray &bytes) { queued += socket.write(bytes); }
	bool closed(int ms = 20000)
	{
		return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::UnconnectedState; }, ms);
	}
	Reply finish()
	{
		const bool ended = closed();
		received += socket.readAll();
		Reply reply = parse(received);
		reply.allSent = ended && written == queued;
		return reply;
	}
};

// The head of a Word upload field by field, so that a case can replace or add one by name.
struct UploadFields {
	QList<QPair<QByteArray, QByteArray>> fields;
	QByteArray body;

	void set(const QByteArray &name, const QByteArray &value)
	{
		for (auto &field : fields)
			if (field.first == name)
				return void(field.second = value);
		fields.append({name, value});
	}
	QByteArray head() const
	{
		QByteArray bytes = "POST /import.docx HTTP/1.1\r\n";
		for (const auto &field : fields)
			bytes += field.first + ": " + field.second + "\r\n";
		return bytes + "\r\n";
	}
};

Reply exchange(const RemoteRig &rig, const QByteArray &bytes)
{
	Client client(rig);
	client.send(bytes);
	return client.finish();
}

// An upload by the lease holder of the first scene.
UploadFields leaseholderUpload(RemoteRig &rig, const QByteArray &body)
{
	const QString session = rig.open();
	if (rig.acquire(session) != QLatin1String("ok"))
		qFatal("no lease");
	return {{{"Host", hostOf(rig)}, {"Origin", "http://" + hostOf(rig)}, {"Content-Type", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
			     {"Content-Length", QByteArray::number(body.size())},
			     {"X-Quillmar-Access", rig.remote->accessToken().toUtf8()}, {"X-Quillmar-Session", session.toUtf8()},
			     {"X-Quillmar-Scene", rig.scene().toUtf8()}, {"X-Quillmar-Epoch", rig.remote->state().epoch().toUtf8()},
			     {"X-Quillmar-Revision", QByteArray::number(rig.remote->state().revision(rig.scene()))}},
		body};
}

const QByteArray Docx = fileBytes(QStringLiteral(QUILLMAR_SOURCE_DIR "/tests/data/docx/pandoc.docx"));

QByteArray field(const QJsonObject &row, const char *key) { return row.value(QLatin1String(key)).toString().toUtf8(); }

qsizetype uploadDirectories()
{
	return QDir(QDir::tempPath()).entryList({QStringLiteral("quillmar-upload-*")}, QDir::Dirs).size();
}

// Every connection ended and no upload left behind.
bool cleanedUp(RemoteRig &rig)
{
	return QTest::qWaitFor([&] { return rig.remote->connectionCount() == 0; }, 20000) && uploadDirectories() == 0;
}

} // namespace

class TestHttpServer : public QObject {
	Q_OBJECT
	QTemporaryDir m_temp;

private Q_SLOTS:
	// Other programs upload into the shared temporary folder too: count only this one's folders.
	void initTestCase()
	{
		QVERIFY(m_temp.isValid());
		qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
	}

	// Requests and uploads: tests/data/remote/http_server.json.
	void requests_data() { jsonTable("remote/http_server.json", "requests"); }
	void requests()
	{
		QFETCH(QJsonObject, row);
		const int status = row.value(QStringLiteral("status")).toInt(), port = row.value(QStringLiteral("port")).toInt(4455);
		const QByteArray type = field(row, "type"), websocket = field(row, "websocket");
		RemoteRig rig;
		const QString settings = QDir::cleanPath(moduleConfigDir() + QStringLiteral("/../obs-websocket/config.json"));
		QFile::remove(settings);
		QVERIFY(websocket.isEmpty() || writeBytes(settings, websocket));
		const Reply reply = exchange(rig, field(row, "request").replace("HOST", hostOf(rig)).replace("PAD", QByteArray(8192, 'a')));
		QFile::remove(settings);
		QCOMPARE(reply.status, status);
		QVERIFY(cleanedUp(rig));
		if (status == 0)
			return;
		QCOMPARE(reply.header("Content-Type"), type);
		QCOMPARE(reply.header("Content-Length"), QByteArray::number(reply.body.size()));
		// The headers that keep a page from being framed, sniffed, cached or talking elsewhere.
		QCOMPARE(reply.header("Cache-Control"), QByteArray("no-store"));
		QCOMPARE(reply.header("X-Content-Type-Options"), QByteArray("nosniff"));
		QCOMPARE(reply.header("Referrer-Policy"), QByteArray("no-referrer"));
		const QByteArray policy = reply.header("Content-Security-Policy");
		for (const QByteArray &rule : {QByteArray("default-src 'none'"), QByteArray("script-src 'self';"), QByteArray("frame-ancestors 'none'"),
					       "connect-src 'self' ws://127.0.0.1:" + QByteArray::number(port) + ';'})
			QVERIFY2(policy.contains(rule), policy.constData());
		if (type == "application/json") {
			const QJsonObject config = QJsonDocument::fromJson(reply.body).object();
			QCOMPARE(config[QStringLiteral("port")].toInt(), port);
			QCOMPARE(config[QStringLiteral("labels")][QStringLiteral("TextLimit")].toString(), text("TextLimit"));
		} else {
			QCOMPARE(reply.body.isEmpty(), status != 200);
		}
	}

	// A refused upload loses nothing; an accepted one is the note. A head refused at once is
	// answered while the client still sends, and the body is taken in full before the connection
	// closes, so no reset swallows the reply.
	void uploads_data() { jsonTable("remote/http_server.json", "uploads"); }
	void uploads()
	{
		QFETCH(QJsonObject, row);
		const QByteArray change = field(row, "change"), value = field(row, "value");
		const qint64 junk = row.contains(QStringLiteral("junk")) ? HttpUploadLimit + row.value(QStringLiteral("junk")).toInteger() : 0;
		const QString code = row.value(QStringLiteral("code")).toString();
		RemoteRig rig;
		const QString before = rig.stored();
		UploadFields upload = leaseholderUpload(rig, junk ? QByteArray(junk, 'x') : Docx);
		if (!change.isEmpty()) // names match case by case: "content-length" comes as a second length
			upload.set(change, value);
		Client client(rig);
		client.send(upload.head() + upload.body.left(65536));
		if (junk && code != QLatin1String("word")) {
			QVERIFY(QTest::qWaitFor([&] { return parse(client.received).body.size() >= 10; }, 20000));
			QCOMPARE(client.socket.state(), QAbstractSocket::ConnectedState);
		}
		client.send(upload.body.mid(65536));
		const Reply reply = client.finish();
		QCOMPARE(reply.status, code == QLatin1String("400") ? 400 : 200);
		if (reply.status == 200)
			QCOMPARE(reply.code(), code);
		QCOMPARE(rig.stored().contains(QLatin1String("Between lists.")), code == QLatin1String("ok"));
		QVERIFY(code == QLatin1String("ok") || rig.stored() == before);
		QVERIFY(reply.allSent);
		QVERIFY(cleanedUp(rig));
	}

	// An upload cut off by the lock, by the server's stop, or by a client that sends the whole
	// body and gives up before the reply: nothing is stored, nothing is left behind. While one
	// runs, a second is refused as busy.
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
		const UploadFields upload = leaseholderUpload(rig, Docx);
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
			QCOMPARE(exchange(rig, upload.head() + upload.body).code(), QStringLiteral("busy"));
			QCOMPARE(uploadDirectories(), 1);
			by == QLatin1String("lock") ? rig.dock->setLocked(true) : rig.remote->stop();
			QCOMPARE(uploadDirectories(), 0);
			client.send(upload.body.mid(first));
		}
		QVERIFY(client.finish().code() != QLatin1String("ok"));
		QVERIFY(!idle || idle->closed());
		QVERIFY(cleanedUp(rig));
		QCOMPARE(rig.stored(), before);
	}

	// While every slot is held one more client is turned away; a head dribbled a byte at a time
	// holds its slot only until the head's deadline, not one more byte.
	void slowClientsDoNotLockOthersOut()
	{
		RemoteRig rig;
		rig.remote->setHttpDeadlines(500, 30000);
		const QByteArray head = "GET /config.json HTTP/1.1\r\nHost: " + hostOf(rig) + "\r\n\r\n";
		QElapsedTimer clock;
		clock.start();
		std::vector<std::unique_ptr<Client>> slow;
		for (int i = 0; i < Remote::MaxConnections; ++i)
			slow.push_back(std::make_unique<Client>(rig));
		QTimer drip;
		int sent = 0;
		QObject::connect(&drip, &QTimer::timeout, [&] {
			for (const auto &client : slow)
				client->send(head.mid(sent, 1));
			++sent;
		});
		drip.start(40);
		QVERIFY(QTest::qWaitFor([&] { return rig.remote->connectionCount() == Remote::MaxConnections; }, 20000));
		QCOMPARE(exchange(rig, head).status, 0);
		QCOMPARE(rig.remote->connectionCount(), Remote::MaxConnections);
		QVERIFY(cleanedUp(rig));
		QVERIFY2(clock.elapsed() >= 490 && clock.elapsed() < 40 * head.size(), qPrintable(QString::number(clock.elapsed())));
		for (const auto &client : slow)
			QVERIFY(client->closed() && client->received.isEmpty());
		QCOMPARE(exchange(rig, head).status, 200);
	}
};

QUILLMAR_OBS_TEST_MAIN(TestHttpServer)
#include "tst_http_server.moc"
