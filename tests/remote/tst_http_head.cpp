// The request head as a hostile client shapes it: where it ends, what it may say, and what an
// upload's head must carry.
#include "remote/http_head.h"
#include "test_util.h"

using namespace quillmar;

class TestHttpHead : public QObject {
	Q_OBJECT

private Q_SLOTS:
	// Where heads end, heads, the hosts they name and the uploads they announce:
	// tests/data/remote/http_heads.json. A row without a head asks with its host line.
	void heads_data() { test::jsonTable("remote/http_heads.json"); }
	void heads()
	{
		QFETCH(QJsonObject, row);
		const auto bytes = [&](const char *key) { return row.value(QLatin1String(key)).toString().toUtf8(); };
		if (row.contains(QStringLiteral("buffered"))) { // where the head ends, "PAD" making it "size" bytes
			QByteArray buffered = bytes("buffered");
			buffered.replace("PAD", QByteArray(row.value(QStringLiteral("size")).toInt() + 3 - buffered.size(), 'a'));
			qsizetype length = 0;
			const int end = int(findHeadEnd(buffered, &length));
			QCOMPARE(end, row.value(QStringLiteral("end")).toInt());
			QVERIFY(end != int(HeadEnd::Complete) || length == row.value(QStringLiteral("length")).toInteger());
			return;
		}
		const QByteArray head = row.contains(QStringLiteral("head")) ? bytes("head") : "GET / HTTP/1.1\r\nHost: " + bytes("host") + "\r\n\r\n";
		HttpHead parsed;
		QCOMPARE(int(parseHead(head, parsed)), row.value(QStringLiteral("error")).toInt());
		if (row.contains(QStringLiteral("path")))
			QCOMPARE(parsed.path, bytes("path"));
		if (row.contains(QStringLiteral("host")) && !row.value(QStringLiteral("error")).toInt())
			QCOMPARE(parsed.value("host"), bytes("host"));
		if (row.contains(QStringLiteral("allowed")))
			QCOMPARE(hostAllowed(parsed.value("host"), QHostAddress(QStringLiteral("192.168.1.20")), 8800), row.value(QStringLiteral("allowed")).toBool());
		if (!row.contains(QStringLiteral("code")))
			return;
		UploadHead announced;
		QCOMPARE(QByteArray(checkUploadHead(parsed, "http://192.168.1.20:8800", announced)), bytes("code"));
		QCOMPARE(announced.length, row.value(QStringLiteral("length")).toInteger());
		if (bytes("code").isEmpty())
			QCOMPARE(QStringList({announced.scene, announced.access, QString::number(announced.revision)}),
				 QStringList({QStringLiteral("scene"), QStringLiteral("token"), QStringLiteral("3")}));
	}
};

QTEST_APPLESS_MAIN(TestHttpHead)
#include "tst_http_head.moc"
