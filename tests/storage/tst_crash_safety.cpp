// Kills a process in the middle of note saves and checks that the note file is always whole.
#include "storage/note_store.h"

#include <QDir>
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

QByteArray noteVersion(char fill)
{
	// A large note: 8 MiB of HTML, so that a save takes long enough to be cut in the middle.
	const QString html = QStringLiteral("<p>") + QString(8 * 1024 * 1024, QLatin1Char(fill)) + QStringLiteral("</p>");
	return encodeNoteFile(QStringLiteral("0d3f5c1e-8a0b-4bde-9a55-2f8e4c6d7b10"), QStringLiteral("Big"), html);
}

// When started as the writer, this executable saves two versions of a note in turn until it is
// killed; it never reaches the test runner.
struct WriterMode {
	WriterMode()
	{
		const char *path = std::getenv(WriterVariable);
		if (!path)
			return;
		const QByteArray versions[2] = {noteVersion('a'), noteVersion('b')};
		QString error;
		for (int i = 0;; i ^= 1) {
			if (!NoteStore::writeFileAtomically(QString::fromUtf8(path), versions[i], error))
				_exit(3);
			// Tells the test that saves are under way.
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
		const QByteArray old = encodeNoteFile(QStringLiteral("0d3f5c1e-8a0b-4bde-9a55-2f8e4c6d7b10"),
						      QStringLiteral("Big"), QStringLiteral("<p>old</p>"));
		const QByteArray a = noteVersion('a');
		const QByteArray b = noteVersion('b');
		QRandomGenerator random(20240611);
		for (int round = 0; round < 16; ++round) {
			QString error;
			QVERIFY(NoteStore::writeFileAtomically(path, old, error));
			QProcess writer;
			QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
			env.insert(QString::fromLatin1(WriterVariable), path);
			writer.setProcessEnvironment(env);
			writer.start(QCoreApplication::applicationFilePath(), {});
			QVERIFY(writer.waitForStarted());
			// Time one save, then kill at a random moment of the next three, however slow this
			// build writes (sanitizers make it several times slower).
			QVERIFY(writer.waitForReadyRead(60000));
			writer.readAll();
			QElapsedTimer clock;
			clock.start();
			QVERIFY(writer.waitForReadyRead(60000));
			const qint64 oneSave = qMax<qint64>(clock.elapsed(), 5);
			QTest::qSleep(int(random.bounded(3 * oneSave)));
			QCOMPARE(writer.state(), QProcess::Running);
			writer.kill();
			QVERIFY(writer.waitForFinished());

			QFile file(path);
			QVERIFY(file.open(QIODevice::ReadOnly));
			const QByteArray now = file.readAll();
			// A save had finished before the kill, so only a whole version can be there.
			QVERIFY2(now == a || now == b,
				 qPrintable(QStringLiteral("round %1: %2 bytes, not one whole version").arg(round).arg(now.size())));
			NoteFileRecord record;
			QVERIFY(parseNoteFile(now, record, error));
		}
		qInfo("entries left in the notes folder: %s",
		      qPrintable(QDir(dir.filePath(QStringLiteral("notes"))).entryList(QDir::Files).join(u' ')));
	}
};

QTEST_MAIN(CrashSafetyTest)
#include "tst_crash_safety.moc"
