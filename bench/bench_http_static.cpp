// Static file throughput of the module's HTTP server, measured with wrk on loopback, against
// `python3 -m http.server` serving the same files in the same run. Both close every connection
// after one response, so wrk reconnects for each request on both.
#include "../tests/remote/remote_fixture.h"

#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>

#include <cstdio>

using namespace quillmar;
using namespace quillmar::test;

namespace {

// wrk's summary lines for one URL, the event loop running meanwhile so the module can serve.
QString runWrk(const QString &url, int seconds)
{
	QProcess wrk;
	wrk.start(QStringLiteral("wrk"), {QStringLiteral("-t1"), QStringLiteral("-c8"),
					   QStringLiteral("-d%1s").arg(seconds), url});
	QEventLoop loop;
	QObject::connect(&wrk, &QProcess::finished, &loop, &QEventLoop::quit);
	if (wrk.state() != QProcess::NotRunning)
		loop.exec();
	const QString out = QString::fromUtf8(wrk.readAllStandardOutput());
	QStringList lines;
	for (const QString &line : out.split(QLatin1Char('\n')))
		if (line.contains(QLatin1String("Requests/sec")) || line.contains(QLatin1String("Transfer/sec")) ||
		    line.contains(QLatin1String("Non-2xx")) || line.contains(QLatin1String("Socket errors")) ||
		    line.trimmed().startsWith(QLatin1String("Latency")))
			lines << line.trimmed();
	return lines.join(QLatin1String(" | "));
}

quint16 freePort()
{
	QTcpServer probe;
	probe.listen(QHostAddress::LocalHost, 0);
	return probe.serverPort();
}

} // namespace

class Bench : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void staticFiles()
	{
		const int seconds = qEnvironmentVariableIntValue("QUILLMAR_BENCH_SECONDS") > 0
					    ? qEnvironmentVariableIntValue("QUILLMAR_BENCH_SECONDS")
					    : 10;
		RemoteRig rig;
		const int modulePort = QUrl(rig.remote->url()).port();
		const quint16 pythonPort = freePort();
		QProcess python;
		python.start(QStringLiteral("python3"),
			     {QStringLiteral("-m"), QStringLiteral("http.server"), QString::number(pythonPort), QStringLiteral("--bind"),
			      QStringLiteral("127.0.0.1"), QStringLiteral("--directory"),
			      QStringLiteral(QUILLMAR_SOURCE_DIR "/src/remote/client")});
		QVERIFY(QTest::qWaitFor([&] {
			QTcpSocket probe;
			probe.connectToHost(QHostAddress::LocalHost, pythonPort);
			return probe.waitForConnected(200);
		}, 10000));
		for (const char *path : {"/document.mjs", "/icon-512.png"}) {
			const QString file = QLatin1String(path);
			std::printf("%s, module:  %s\n", path,
				    qPrintable(runWrk(QStringLiteral("http://127.0.0.1:%1%2").arg(modulePort).arg(file), seconds)));
			std::printf("%s, python:  %s\n", path,
				    qPrintable(runWrk(QStringLiteral("http://127.0.0.1:%1%2").arg(pythonPort).arg(file), seconds)));
			std::fflush(stdout);
		}
		python.terminate();
		python.waitForFinished(5000);
	}
};

QUILLMAR_OBS_TEST_MAIN(Bench)
#include "bench_http_static.moc"
