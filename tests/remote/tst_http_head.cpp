// The request head as a hostile client shapes it: where it ends, what it may say, and what an
// upload's head must carry.
#include "remote/http_head.h"
#include "upload_fields.h"

#include <QTest>

using namespace quillmar;

namespace {

const QByteArray Origin = "http://192.168.1.20:8800";

QByteArray uploadHead(const QList<QPair<QByteArray, QByteArray>> &changes)
{
	test::UploadFields upload{{
		{"Host", "192.168.1.20:8800"}, {"Content-Type", test::WordType}, {"Content-Length", "1234"},
		{"X-Quillmar-Access", "token"}, {"X-Quillmar-Session", "session"}, {"X-Quillmar-Scene", "scene"},
		{"X-Quillmar-Epoch", "epoch"}, {"X-Quillmar-Revision", "3"},
	}, {}};
	for (const auto &change : changes)
		upload.set(change.first, change.second);
	return upload.head();
}

} // namespace

class TestHttpHead : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void headEnd_data()
	{
		QTest::addColumn<QByteArray>("buffered");
		QTest::addColumn<int>("result");
		QTest::addColumn<int>("length");
		const QByteArray line = "GET / HTTP/1.1\r\n";
		const auto padded = [&](int total) {
			// A head of exactly total bytes, blank line included.
			QByteArray head = line + "x-pad: ";
			head += QByteArray(total - head.size() - 4, 'a');
			return head + "\r\n\r\n";
		};
		QTest::newRow("partial") << line << int(HeadEnd::Incomplete) << 0;
		QTest::newRow("bare line feeds do not end it") << QByteArray("GET / HTTP/1.1\n\n") << int(HeadEnd::Incomplete) << 0;
		QTest::newRow("exactly 8192") << padded(8192) << int(HeadEnd::Complete) << 8192;
		QTest::newRow("8193 with its end") << padded(8193) << int(HeadEnd::TooLarge) << 0;
		QTest::newRow("8193 waiting, no end") << QByteArray(8193, 'a') << int(HeadEnd::TooLarge) << 0;
		QTest::newRow("body after the head") << line + "\r\nPK\x03\x04" << int(HeadEnd::Complete) << line.size() + 2;
	}
	void headEnd()
	{
		QFETCH(QByteArray, buffered);
		QFETCH(int, result);
		QFETCH(int, length);
		qsizetype found = -1;
		QCOMPARE(int(findHeadEnd(buffered, &found)), result);
		if (result == int(HeadEnd::Complete))
			QCOMPARE(found, qsizetype(length));
	}

	void heads_data()
	{
		QTest::addColumn<QByteArray>("head");
		QTest::addColumn<int>("error");
		QTest::addColumn<QByteArray>("path");
		QTest::addColumn<QByteArray>("host");
		const int none = int(HeadError::None), line = int(HeadError::RequestLine), fields = int(HeadError::Fields);
		QTest::newRow("plain get") << QByteArray("GET /app.mjs HTTP/1.1\r\nHost: a:1\r\n\r\n") << none << QByteArray("/app.mjs") << QByteArray("a:1");
		QTest::newRow("query kept in the path") << QByteArray("GET /?a=1 HTTP/1.1\r\n\r\n") << none << QByteArray("/?a=1") << QByteArray();
		QTest::newRow("name case and value padding") << QByteArray("GET / HTTP/1.1\r\nHOST:\t a:1 \r\n\r\n") << none << QByteArray("/") << QByteArray("a:1");
		QTest::newRow("four parts") << QByteArray("GET / x HTTP/1.1\r\n\r\n") << line << QByteArray() << QByteArray();
		QTest::newRow("no colon") << QByteArray("GET / HTTP/1.1\r\nHost\r\n\r\n") << fields << QByteArray("/") << QByteArray();
		QTest::newRow("control byte in a value") << QByteArray("GET / HTTP/1.1\r\nHost: a\x01\r\n\r\n") << fields << QByteArray("/") << QByteArray();
		QTest::newRow("bare carriage return in a value") << QByteArray("GET / HTTP/1.1\r\nHost: a\rb\r\n\r\n") << fields << QByteArray("/") << QByteArray();
	}
	void heads()
	{
		QFETCH(QByteArray, head);
		QFETCH(int, error);
		QFETCH(QByteArray, path);
		QFETCH(QByteArray, host);
		HttpHead parsed;
		QCOMPARE(int(parseHead(head, parsed)), error);
		QCOMPARE(parsed.path, path);
		if (error == int(HeadError::None))
			QCOMPARE(parsed.value("host"), host);
	}

	void hosts_data()
	{
		QTest::addColumn<QByteArray>("host");
		QTest::addColumn<bool>("allowed");
		QTest::newRow("the link's address") << QByteArray("192.168.1.20:8800") << true;
		QTest::newRow("the address, another port") << QByteArray("192.168.1.20:8801") << false;
		QTest::newRow("loopback, other port") << QByteArray("127.0.0.1:1234") << true;
		QTest::newRow("localhost") << QByteArray("LocalHost:8800") << true;
		QTest::newRow("ipv6 loopback") << QByteArray("[::1]:8800") << true;
		QTest::newRow("short loopback form") << QByteArray("127.1:8800") << false;
		QTest::newRow("numeric loopback form") << QByteArray("2130706433:8800") << false;
		QTest::newRow("a name resolving here") << QByteArray("attacker.example:8800") << false;
		QTest::newRow("localhost subdomain") << QByteArray("localhost.attacker.example") << false;
		QTest::newRow("missing") << QByteArray() << false;
	}
	void hosts()
	{
		QFETCH(QByteArray, host);
		QFETCH(bool, allowed);
		QCOMPARE(hostAllowed(host, QHostAddress(QStringLiteral("192.168.1.20")), 8800), allowed);
	}

	void uploads_data()
	{
		QTest::addColumn<QByteArray>("head");
		QTest::addColumn<QByteArray>("code");
		QTest::addColumn<qint64>("length");
		QTest::newRow("accepted") << uploadHead({}) << QByteArray() << qint64(1234);
		QTest::newRow("link's origin") << uploadHead({{"Origin", Origin}}) << QByteArray() << qint64(1234);
		QTest::newRow("other origin") << uploadHead({{"Origin", "http://attacker.example"}}) << QByteArray("format") << qint64(1234);
		QTest::newRow("transfer-encoding") << uploadHead({{"Transfer-Encoding", "chunked"}}) << QByteArray("format") << qint64(1234);
		QTest::newRow("length signed") << uploadHead({{"Content-Length", "+12"}}) << QByteArray("format") << qint64(0);
		QTest::newRow("exactly 5 MiB") << uploadHead({{"Content-Length", "5242880"}}) << QByteArray() << qint64(5242880);
		QTest::newRow("one byte over") << uploadHead({{"Content-Length", "5242881"}}) << QByteArray("size") << qint64(5242881);
		QTest::newRow("no revision") << uploadHead({{"X-Quillmar-Revision", QByteArray()}}) << QByteArray("format") << qint64(1234);
		QTest::newRow("other type") << uploadHead({{"Content-Type", "application/zip"}}) << QByteArray("format") << qint64(1234);
		QTest::newRow("type with parameter") << uploadHead({{"Content-Type", test::WordType + "; q=1"}}) << QByteArray("format") << qint64(1234);
		QTest::newRow("oversize and bad type") << uploadHead({{"Content-Length", "6000000"}, {"Content-Type", "text/plain"}}) << QByteArray("format") << qint64(6000000);
	}
	void uploads()
	{
		QFETCH(QByteArray, head);
		QFETCH(QByteArray, code);
		QFETCH(qint64, length);
		HttpHead parsed;
		QCOMPARE(int(parseHead(head, parsed)), int(HeadError::None));
		UploadHead upload;
		QCOMPARE(QByteArray(checkUploadHead(parsed, Origin, upload)), code);
		QCOMPARE(upload.length, length);
		if (code.isEmpty()) {
			QCOMPARE(upload.revision, qint64(3));
			QCOMPARE(upload.scene, QStringLiteral("scene"));
			QCOMPARE(upload.access, QStringLiteral("token"));
		}
	}
};

QTEST_APPLESS_MAIN(TestHttpHead)
#include "tst_http_head.moc"
