// Showing and saving notes at the limits, against the floor of what Qt itself needs:
// loading = reading the file's bytes + QTextEdit::setHtml of the same HTML;
// saving = QTextDocument::toHtml + writing the same bytes.
#include "bench_stats.h"
#include "dock/dock.h"
#include "editor/editor.h"
#include "obs_test_env.h"
#include "storage/note_store.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace quillmar;

namespace {

using namespace quillmar::bench;

constexpr int Rounds = 7;

// Qt's HTML for a note of paragraphs x length characters with a mix of character formats.
QString makeNoteHtml(int paragraphs, int length)
{
	QTextDocument doc;
	QTextCursor cursor(&doc);
	const QColor colours[] = {Qt::black, QColor(200, 30, 30), QColor(20, 120, 200), QColor(30, 140, 60)};
	int run = 0;
	for (int p = 0; p < paragraphs; ++p) {
		if (p > 0)
			cursor.insertBlock();
		int left = length;
		while (left > 0) {
			const int n = std::min(left, 7 + (run * 13) % 40);
			QTextCharFormat format;
			format.setFontWeight(run % 3 == 0 ? QFont::Bold : QFont::Normal);
			format.setFontItalic(run % 5 == 1);
			format.setFontUnderline(run % 7 == 2);
			format.setForeground(colours[run % 4]);
			if (run % 6 == 3)
				format.setFontPointSize(14);
			QString text(n, QLatin1Char('a' + run % 26));
			if (n > 4)
				text[n / 2] = QLatin1Char(' ');
			cursor.insertText(text, format);
			left -= n;
			++run;
		}
	}
	return doc.toHtml();
}

double minimum(const std::vector<double> &values)
{
	return *std::min_element(values.begin(), values.end());
}

double elapsedMs(const QElapsedTimer &timer)
{
	return timer.nsecsElapsed() / 1e6;
}

} // namespace

class SceneNotesBench : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void showAndSaveAtTheLimits()
	{
		struct Shape {
			int paragraphs;
			int length;
		};
		// Paragraph separators count as characters, so each shape stays one below the 200000 limit.
		const Shape shapes[] = {{20, 9999}, {2000, 99}, {20000, 9}};
		std::printf("Medians (and minimums) of %d rounds in ms; ratios are taken of the medians (and of the minimums).\n",
			    Rounds);
		std::printf("%-13s %5s | %15s %15s %15s %11s %9s | %13s %13s %11s\n", "note", "MB", "show", "floor",
			    "editor alone", "ratio", "vs editor", "save", "floor", "ratio");
		double worstLoad = 0, worstSave = 0;
		for (const Shape &shape : shapes) {
			QTemporaryDir dir;
			const QString html = makeNoteHtml(shape.paragraphs, shape.length);
			test::Scene scene("Bench");
			auto *dock = new Dock(dir.filePath(QStringLiteral("settings.ini")));
			dock->resize(700, 500);
			dock->show();
			QTextEdit plain;
			plain.resize(dock->editor()->size());
			plain.show();
			// The editor on its own, to tell its share of the load from the dock's.
			Editor alone;
			alone.resize(dock->editor()->size());
			alone.show();
			QString error;
			QVERIFY(dock->noteStore().saveNote(scene.source(), html, error));
			const QString path = dock->noteStore().resolveNotePath(scene.source());
			QTest::qWait(50);

			std::vector<double> show, showFloor, editorAlone, save, saveFloor;
			for (int round = 0; round < Rounds; ++round) {
				dock->showSceneNote(nullptr);
				plain.clear();
				alone.setNoteHtml(QString());
				QCoreApplication::processEvents();

				QElapsedTimer timer;
				const auto showNote = [&] {
					timer.start();
					dock->showSceneNote(scene.source());
					show.push_back(elapsedMs(timer));
					QVERIFY2(!dock->hasLoadError(), qPrintable(dock->statusMessage()));
				};
				const auto floorLoad = [&] {
					timer.start();
					QFile file(path);
					QVERIFY(file.open(QIODevice::ReadOnly));
					const QByteArray bytes = file.readAll();
					plain.setHtml(html);
					showFloor.push_back(elapsedMs(timer));
					QVERIFY(!bytes.isEmpty());
				};
				// Alternate the order so that neither side always finds warm caches.
				if (round % 2) {
					floorLoad();
					showNote();
				} else {
					showNote();
					floorLoad();
				}
				timer.start();
				alone.setNoteHtml(html);
				editorAlone.push_back(elapsedMs(timer));
				QCoreApplication::processEvents();

				// One typed character makes the note dirty, as an edit would.
				QTextCursor cursor(dock->editor()->document());
				cursor.insertText(QStringLiteral("x"));
				QVERIFY(dock->isDirty());
				timer.start();
				QVERIFY(dock->saveNote(false, false));
				save.push_back(elapsedMs(timer));

				timer.start();
				const QByteArray out = dock->editor()->document()->toHtml().toUtf8();
				QFile floorFile(dir.filePath(QStringLiteral("floor.html")));
				QVERIFY(floorFile.open(QIODevice::WriteOnly));
				QCOMPARE(floorFile.write(out), out.size());
				floorFile.close();
				saveFloor.push_back(elapsedMs(timer));
				cursor.deletePreviousChar();
			}
			const double loadRatio = median(show) / median(showFloor);
			const double saveRatio = median(save) / median(saveFloor);
			worstLoad = std::max(worstLoad, loadRatio);
			worstSave = std::max(worstSave, saveRatio);
			// "vs editor": the dock's own share, beyond what the editor's setNoteHtml costs.
			std::printf("%5d x %-5d %5.2f | %7.1f (%5.1f) %7.1f (%5.1f) %7.1f (%5.1f) %4.2f (%4.2f) %9.2f | "
				    "%5.1f (%5.1f) %5.1f (%5.1f) %4.2f (%4.2f)\n",
				    shape.paragraphs, shape.length, html.toUtf8().size() / 1e6, median(show), minimum(show),
				    median(showFloor), minimum(showFloor), median(editorAlone), minimum(editorAlone),
				    loadRatio, minimum(show) / minimum(showFloor), median(show) / median(editorAlone),
				    median(save), minimum(save), median(saveFloor),
				    minimum(saveFloor), saveRatio, minimum(save) / minimum(saveFloor));
			delete dock;
		}
		std::printf("worst ratios of the medians: showing %.2f (aim <= 1.3), saving %.2f (aim <= 1.5)\n", worstLoad,
			    worstSave);
		std::fflush(stdout);
	}
};

QUILLMAR_OBS_TEST_MAIN(SceneNotesBench)
#include "bench_scene_notes.moc"
