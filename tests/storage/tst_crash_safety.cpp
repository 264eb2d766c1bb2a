// Kills a process in the middle of note saves and checks that the note file is always whole.
#include "storage/note_store.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <unistd.h>

using namespace quillmar;

namespace {

constexpr char WriterVariable[] = "QUILLMAR_CRASH_WRITER";

QByteArray noteVersion(const QString &html)
{
	return encodeNoteFile(QStringLiteral("0d3f5c1e-8a0b-4bde-9a55-2f8e4c6d7b10"), QStringLiteral("Big"), html);
}

// 8 MiB of HTML, so that a save takes long enough to be cut in the middle.
QByteArray largeVersion(char fill)
{
	return noteVersion(QStringLiteral("<p>") + QString(8 * 1024 * 1024, QLatin1Char(fill)) + QStringLiteral("</p>"));
}

// When started as the writer, this executable saves two versions of a note in turn until it is
// killed, telling the test after each save; it never reaches the test runner.
struct WriterMode {
	WriterMode()
	{
		const char *path = std::getenv(WriterVariable);
		if (!path)
			return;
		const QByteArray versions[2] = {largeVersion('a'), largeVersion('b')};
		QString error;
		for (int i = 0;; i ^= 1) {
			if (!NoteStore::writeFileAtomically(QString::fromUtf8(path), versions[i], error))
				_exit(3);
			if (::write(STDOUT_FILENO, "saved\n", 6) != 6)
				_exit(4);
		}
	}
} writerMode;

} // namespace

class CrashSafetyTest : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void killedSavesLeaveOldOrNewContent()
	{
		QTemporaryDir dir;
		const QString path = dir.filePath(QStringLiteral("notes/Big.json"));
		const QByteArray a = largeVersion('a');
		const QByteArray b = largeVersion('b');
		QRandomGenerator random(20240611);
		for (int round = 0; round < 16; ++round) {
			QString error;
			QVERIFY(NoteStore::writeFileAtomically(path, noteVersion(QStringLiteral("<p>old</p>")), error));
			QProcess writer;
			QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
			env.insert(QString::fromLatin1(WriterVariable), path);
			writer.setProcessEnvironment(env);
			writer.start(QCoreApplication::applicationFilePath(), {});
			// Time one save, then kill at a random moment of the next three, however slow this
			// build writes (sanitizers make it several times slower).
			QVERIFY(writer.waitForReadyRead(60000));
			writer.readAll();
			QElapsedTimer clock;
			clock.start();
			QVERIFY(writer.waitForReadyRead(60000));
			QTest::qSleep(int(random.bounded(3 * qMax<qint64>(clock.elapsed(), 5))));
			QCOMPARE(writer.state(), QProcess::Running);
			writer.kill();
			QVERIFY(writer.waitForFinished());

			QFile file(path);
			QVERIFY(file.open(QIODevice::ReadOnly));
			const QByteArray now = file.readAll();
			// A save had finished before the kill, so only a whole version can be there.
			QVERIFY2(now == a || now == b,
				 qPrintable(QStringLiteral("round %1: %2 bytes, not one whole version").arg(round).arg(now.size())));
		}
	}
};

QTEST_MAIN(CrashSafetyTest)
#include "tst_crash_safety.moc"
