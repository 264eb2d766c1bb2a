// The request head as a hostile client shapes it: where it ends, what it may say, and what an
// upload's head must carry.
#include "remote/http_head.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <QTest>

using namespace quillmar;

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
		QFETCH(QByteArray, buffered); QFETCH(int, result); QFETCH(int, length);
		qsizetype found = -1;
		QCOMPARE(int(findHeadEnd(buffered, &found)), result);
		if (result == int(HeadEnd::Complete))
			QCOMPARE(found, qsizetype(length));
	}

	// Heads, the hosts they name and the uploads they announce: tests/data/remote/http_heads.json.
	// A row without a head asks with its host line.
	void heads_data()
	{
		QTest::addColumn<QJsonObject>("row");
		QFile data(QStringLiteral(QUILLMAR_SOURCE_DIR "/tests/data/remote/http_heads.json"));
		QVERIFY(data.open(QIODevice::ReadOnly));
		for (const QJsonValue &row : QJsonDocument::fromJson(data.readAll()).array())
			QTest::newRow(qPrintable(row[QStringLiteral("name")].toString())) << row.toObject();
	}
	void heads()
	{
		QFETCH(QJsonObject, row);
		const auto bytes = [&](const char *key) { return row.value(QLatin1String(key)).toString().toUtf8(); };
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
