// Restoring a backup through Dock::restoreBackup end to end (the file dialog and the question
// answered at once) against its floor: unzip of the same archive plus one QTextDocument::setHtml
// per note, on a worker thread as the restore's own checks run. Also prints how long the dock
// stays busy, i.e. until it takes input again.

#include "dock/dock.h"
#include "dock/dock_dialogs.h"
#include "editor/editor.h"
#include "module/text.h"
#include "obs_test_env.h"
#include "storage/backup.h"
#include "storage/note_file.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QThread>

#include <cstdio>
#include <memory>
#include <vector>

using namespace quillmar;

namespace {

struct Answering : DockDialogs {
	QString file;
	QString openFileName(QWidget *, const QString &, const QString &) override { return file; }
	QMessageBox::StandardButton question(QWidget *, const QString &, const QString &) override
	{
		return QMessageBox::Yes;
	}
	void warning(QWidget *, const QString &, const QString &text) override
	{
		std::printf("warning: %s\n", qPrintable(text));
	}
	void information(QWidget *, const QString &, const QString &text) override
	{
		std::printf("information: %s\n", qPrintable(text));
	}
};

QString noteHtml(int characters)
{
	QString html;
	const QString words = QStringLiteral("Welcome back to the show, tonight we talk about notes. ");
	QString paragraph;
	while (paragraph.size() < 400)
		paragraph += words;
	for (int written = 0; written < characters; written += 400)
		html += QStringLiteral("<p>") + paragraph.left(qMin(400, characters - written)) + QStringLiteral("</p>");
	return html;
}

double floorMs(const QString &archive)
{
	QTemporaryDir out;
	QElapsedTimer timer;
	timer.start();
	QThread *worker = QThread::create([&] {
		QProcess unzip;
		unzip.start(QStringLiteral("unzip"), {QStringLiteral("-q"), QStringLiteral("-o"), archive,
						      QStringLiteral("-d"), out.path()});
		unzip.waitForFinished(-1);
		for (const QString &name : QDir(out.path()).entryList(QDir::Files)) {
			QFile file(out.filePath(name));
			file.open(QIODevice::ReadOnly);
			NoteFileRecord record;
			QString error;
			parseNoteFile(file.readAll(), record, error);
			QTextDocument document;
			document.setHtml(record.html);
		}
	});
	worker->start();
	worker->wait();
	delete worker;
	return timer.nsecsElapsed() / 1e6;
}

} // namespace

class RestoreBench : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void restore()
	{
		struct Shape {
			int notes;
			int characters;
		};
		for (const Shape shape : {Shape{200, 5000}, Shape{10000, 2000}}) {
			QTemporaryDir dir;
			std::vector<std::unique_ptr<test::Scene>> scenes;
			QStringList files;
			const QString html = noteHtml(shape.characters);
			for (int i = 0; i < shape.notes; ++i) {
				const QByteArray name = "Scene " + QByteArray::number(i);
				scenes.push_back(std::make_unique<test::Scene>(name.constData()));
				const QString path = dir.filePath(QStringLiteral("n%1.json").arg(i));
				QFile file(path);
				QVERIFY(file.open(QIODevice::WriteOnly));
				file.write(encodeNoteFile(scenes.back()->uuid(), QString::fromUtf8(name), html));
				files << path;
			}
			const QString archive = dir.filePath(QStringLiteral("backup.zip"));
			QString error;
			QVERIFY(writeBackup(archive, files, error));

			auto *dock = new Dock(dir.filePath(QStringLiteral("settings.ini")));
			auto dialogs = std::make_unique<Answering>();
			dialogs->file = archive;
			dock->setDialogs(std::move(dialogs));
			dock->resize(700, 500);
			dock->show();
			dock->showSceneNote(scenes.front()->source());
			QTest::qWait(50);

			const double floor = floorMs(archive);
			QElapsedTimer timer;
			timer.start();
			dock->restoreBackup();
			const double restore = timer.nsecsElapsed() / 1e6;
			QVERIFY2(dock->statusMessage() == text("RestoreResult").arg(shape.notes).arg(0),
				 qPrintable(dock->statusMessage()));
			std::printf("%5d notes of %4d characters: restore %9.1f ms, floor %9.1f ms, ratio %.2f (aim <= 1.2); "
				    "dock busy for %.1f ms (%.2f ms per note)\n",
				    shape.notes, shape.characters, restore, floor, restore / floor, restore,
				    restore / shape.notes);
			std::fflush(stdout);
			delete dock;
		}
	}
};

QUILLMAR_OBS_TEST_MAIN(RestoreBench)
#include "bench_restore.moc"
