// Backup writing and reading against Info-ZIP's zip -1 and unzip on the same note files, in the
// same run. Prints the best of three runs of each (one for steps over two seconds), the peak memory
// a step adds to the process (a tool's own peak), and how many times faster we are (tool time /
// our time; above 1 is faster than Info-ZIP).

#include "documents/zip.h"
#include "storage/backup.h"
#include "editor/note_limits.h"
#include "storage/note_file.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <cstdio>
#include <malloc.h>
#include <functional>

using namespace quillmar;

namespace {

// Hands freed heap back and resets the kernel's peak-RSS mark of this process (Linux 4.0+), so
// that each step reports its own peak.
void resetPeak()
{
	malloc_trim(0);
	QFile f("/proc/self/clear_refs");
	if (f.open(QIODevice::WriteOnly))
		f.write("5");
}

// A figure of /proc/self/status in KiB: "VmHWM" the peak, "VmRSS" the current size.
long statusKiB(const QByteArray &key)
{
	QFile f("/proc/self/status");
	if (!f.open(QIODevice::ReadOnly))
		return -1;
	for (const QByteArray &line : f.readAll().split('\n')) {
		if (line.startsWith(key + ':'))
			return line.mid(key.size() + 1).trimmed().split(' ').first().toLong();
	}
	return -1;
}

struct Figure {
	double ms = 1e300;
	long peak = 0;
	bool ok = true;
};

Figure best(const std::function<bool(long &peak)> &run)
{
	Figure f;
	for (int i = 0; i < 3; ++i) {
		QElapsedTimer t;
		long peak = 0;
		t.start();
		const bool ok = run(peak);
		const double ms = double(t.nsecsElapsed()) / 1e6;
		f.ok = f.ok && ok;
		if (ms < f.ms)
			f.ms = ms;
		f.peak = qMax(f.peak, peak);
		// Slow steps vary less than their run time allows repeating.
		if (ms > 2000)
			break;
	}
	return f;
}

Figure ours(const std::function<bool()> &step)
{
	return best([&](long &peak) {
		resetPeak();
		const long before = statusKiB("VmRSS");
		const bool ok = step();
		peak = statusKiB("VmHWM") - before;
		return ok;
	});
}

// Runs a tool under GNU time for its peak RSS.
Figure tool(const QString &dir, const QStringList &command, const QByteArray &input = QByteArray(),
	    const std::function<void()> &before = {})
{
	return best([&](long &peak) {
		if (before)
			before();
		QProcess p;
		p.setWorkingDirectory(dir);
		p.start("/usr/bin/time", QStringList{"-f", "%M"} + command);
		p.write(input);
		p.closeWriteChannel();
		p.waitForFinished(-1);
		const QList<QByteArray> lines = p.readAllStandardError().trimmed().split('\n');
		peak = lines.last().toLong();
		return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
	});
}

// Note HTML as the editor writes it: a styled paragraph per line, a styled span per formatted
// word, so that a large note file stays within a note's 200000 characters.
QByteArray noteHtml(QRandomGenerator &gen, int bytes)
{
	static const char *vocab[] = {"intro", "camera", "guest", "sponsor", "break", "question", "chat",
				      "scene", "cue", "music", "light", "outro", "welcome", "thanks", "poll",
				      "raid", "clip", "replay", "score", "timer", "tonight", "remember",
				      "giveaway", "subscribe", "moderator", "overlay", "segment", "bonus"};
	static const char *styles[] = {" font-weight:700;", " font-style:italic;", " color:#e01b24;",
				       " text-decoration: underline;", " font-size:14pt;"};
	QByteArray out = "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\"><html><head><meta name=\"qrichtext\" "
			 "content=\"1\" /></head><body style=\" font-family:'Sans'; font-size:11pt;\">";
	while (out.size() < bytes) {
		out += "<p style=\" margin-top:0px; margin-bottom:0px; margin-left:0px; margin-right:0px; "
		       "-qt-block-indent:0; text-indent:0px;\">";
		for (int i = 0; i < 12; ++i) {
			const char *word = vocab[gen.bounded(int(std::size(vocab)))];
			out += QByteArray("<span style=\"") + styles[gen.bounded(int(std::size(styles)))] + "\">" + word +
			       "</span> ";
		}
		out += QByteArray::number(gen.bounded(1000)) + "</p>";
	}
	return out + "</body></html>";
}

void row(const char *what, const Figure &f)
{
	std::printf("  %-40s %10.1f ms %9ld KiB%s\n", what, f.ms, f.peak, f.ok ? "" : "  FAILED");
}

void ratio(const char *what, const Figure &tool, const Figure &ours)
{
	std::printf("  %-40s %10.2fx\n", what, tool.ms / ours.ms);
}

void scenario(const char *title, int count, int noteBytes)
{
	QTemporaryDir dir;
	const QString notes = dir.filePath("notes");
	QDir().mkpath(notes);
	QRandomGenerator gen(1234);
	QStringList paths, names;
	qint64 total = 0;
	for (int i = 0; i < count; ++i) {
		const QString name = QStringLiteral("Scene %1.json").arg(i);
		const QByteArray bytes = encodeNoteFile(QUuid::createUuid().toString(), name.chopped(5),
							QString::fromUtf8(noteHtml(gen, noteBytes - 200)));
		QFile f(notes + "/" + name);
		f.open(QIODevice::WriteOnly);
		f.write(bytes);
		total += bytes.size();
		paths << f.fileName();
		names << name;
	}
	std::printf("\n%s: %d notes, %.1f MiB; our process holds %ld KiB before each step\n", title, count,
		    double(total) / 1048576.0, statusKiB("VmRSS"));

	const QString oursZip = dir.filePath("ours.zip");
	const QString infoZip = dir.filePath("infozip.zip");
	QString error;
	const Figure write = ours([&] { return writeBackup(oursZip, paths, error); });
	const Figure zip = tool(notes, {"zip", "-1", "-q", "-X", infoZip, "-@"}, names.join('\n').toUtf8() + '\n',
				[&] { QFile::remove(infoZip); });
	const Figure restore = ours([&] {
		const QString staging = dir.filePath("staging");
		QDir(staging).removeRecursively();
		return readBackup(oursZip, staging, error).size() == count;
	});
	const Figure read = ours([&] {
		ZipReader reader(backupZipLimits());
		if (!reader.open(oursZip))
			return false;
		qint64 n = 0;
		QByteArray bytes;
		for (size_t i = 0; i < reader.entries().size(); ++i) {
			if (!reader.entries()[i].isDirectory() && !reader.extract(int(i), bytes))
				return false;
			n += reader.entries()[i].isDirectory() ? 0 : bytes.size();
		}
		return n == total;
	});
	// The container alone, and the note checks alone, to show where the time of a backup goes.
	const Figure writer = ours([&] {
		ZipWriter w;
		bool ok = w.open(dir.filePath("plain.zip"), error);
		for (int i = 0; ok && i < count; ++i) {
			QFile f(paths[i]);
			ok = f.open(QIODevice::ReadOnly) && w.add(names[i], f.readAll(), error);
		}
		return ok && w.commit(error);
	});
	const Figure checks = ours([&] {
		bool ok = true;
		for (int i = 0; ok && i < count; ++i) {
			QFile f(paths[i]);
			NoteFileRecord record;
			ok = f.open(QIODevice::ReadOnly) && parseNoteFile(f.readAll(), record, error) &&
			     fitsNoteLimits(record.html);
		}
		return ok;
	});
	const Figure unzip = tool(dir.path(), {"unzip", "-q", "-o", oursZip, "-d", dir.filePath("unzipped")}, {},
				  [&] { QDir(dir.filePath("unzipped")).removeRecursively(); });
	const Figure unzipTest = tool(dir.path(), {"unzip", "-tq", oursZip});

	row("writeBackup (read, check, deflate, commit)", write);
	row("ZipWriter alone (read, deflate, commit)", writer);
	row("zip -1 -q -X", zip);
	row("readBackup (inflate, check, stage files)", restore);
	row("ZipReader (inflate and CRC into memory)", read);
	row("note checks alone, one thread", checks);
	row("unzip -q (extract files)", unzip);
	row("unzip -tq (inflate and CRC)", unzipTest);
	std::printf("  archive sizes: ours %lld bytes, zip -1 %lld bytes\n", QFile(oursZip).size(),
		    QFile(infoZip).size());
	ratio("write: zip -1 / writeBackup", zip, write);
	ratio("write: zip -1 / ZipWriter alone", zip, writer);
	ratio("restore: unzip / readBackup", unzip, restore);
	ratio("read: unzip -t / ZipReader", unzipTest, read);
	if (!error.isEmpty())
		std::printf("  error: %s\n", qPrintable(error));
}

} // namespace

int main(int argc, char **argv)
{
	QApplication app(argc, argv);
	QFile load("/proc/loadavg");
	if (load.open(QIODevice::ReadOnly))
		std::printf("load average at start: %s", load.readAll().constData());
	std::printf("threads for our side: %d\n", QThread::idealThreadCount());
	scenario("Many small notes", 10000, 2048);
	scenario("Few large notes", 50, 1024 * 1024);
	return 0;
}
