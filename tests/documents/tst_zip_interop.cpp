// Archives cross over in both directions with archive tools no one here wrote: Info-ZIP, bsdtar
// (libarchive), 7-Zip and Python's zipfile.

#include "documents/zip.h"
#include "module/text.h"
#include "storage/backup.h"
#include "test_util.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace quillmar;

namespace {

QString dataDir()
{
	return QStringLiteral(QUILLMAR_SOURCE_DIR "/tests/data/zip");
}

const auto readAll = test::fileBytes;

// Relative path -> bytes of every file below a directory.
QMap<QString, QByteArray> filesBelow(const QString &root)
{
	QMap<QString, QByteArray> out;
	QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
	while (it.hasNext()) {
		const QString file = it.next();
		out.insert(QDir(root).relativeFilePath(file), readAll(file));
	}
	return out;
}

QMap<QString, QByteArray> sampleFiles()
{
	QRandomGenerator gen(42);
	QByteArray noise(1 << 20, Qt::Uninitialized);
	for (char &c : noise)
		c = char(gen.generate() & 0xFF);
	QByteArray text;
	for (int i = 0; text.size() < 300000; ++i)
		text += "<p>Line " + QByteArray::number(i * 7919 % 1000) + " of the show notes</p>";
	return {
		{"Intro.json", R"({"format":"OBS-Quillmar","html":"<p>Hi</p>","sceneId":"{3f2b8a1e-6c1d-4e59-9a61-0d3c2f8b7e11}","sceneName":"Intro","version":1})"},
		{"sub/deep/b.json", text},
		{QStringLiteral("Ünïcode 名前 🎬.json"), QStringLiteral("Grüße ◆[cue]").toUtf8().repeated(200)},
		{"empty.json", QByteArray()},
		{"random.json", noise},
	};
}

// Runs a program to its end; its output when it failed, else an empty string.
QString run(const QString &program, const QStringList &arguments)
{
	if (QStandardPaths::findExecutable(program).isEmpty())
		return program + " is missing";
	QProcess p;
	p.start(program, arguments);
	if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
		return program + ": " + QString::fromLocal8Bit(p.readAllStandardError() + p.readAllStandardOutput());
	return QString();
}

} // namespace

class ZipInteropTest : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void toolsReadOurArchives_data()
	{
		QTest::addColumn<QString>("program");
		QTest::addColumn<QStringList>("arguments"); // %1 the archive, %2 the output directory
		QTest::newRow("unzip") << "unzip" << QStringList{"-q", "-o", "%1", "-d", "%2"};
		QTest::newRow("bsdtar") << "bsdtar" << QStringList{"-xf", "%1", "-C", "%2"};
		QTest::newRow("7z") << "7z" << QStringList{"x", "-y", "-bd", "-o%2", "%1"};
		QTest::newRow("python") << "python3"
					<< QStringList{"-c",
						       "import sys, zipfile\n"
						       "z = zipfile.ZipFile(sys.argv[1])\n"
						       "assert z.testzip() is None\n"
						       "z.extractall(sys.argv[2])\n",
						       "%1", "%2"};
		// Info-ZIP's own test mode has no warning to give either.
		QTest::newRow("unzip -t") << "unzip" << QStringList{"-tq", "%1"};
	}

	void toolsReadOurArchives()
	{
		QFETCH(QString, program);
		QFETCH(QStringList, arguments);
		QTemporaryDir dir;
		QVERIFY(dir.isValid());
		const QMap<QString, QByteArray> files = sampleFiles();
		ZipFileList list;
		for (auto it = files.begin(); it != files.end(); ++it)
			list.append({it.key(), it.value()});
		const QString archive = dir.filePath("ours.zip");
		const QString out = dir.filePath("out");
		QString error;
		QVERIFY2(writeZip(archive, list, error), qPrintable(error));
		QVERIFY(QDir().mkpath(out));
		const bool extracts = arguments.join(' ').contains("%2");
		for (QString &a : arguments)
			a.replace("%1", archive).replace("%2", out);
		error = run(program, arguments);
		QVERIFY2(error.isEmpty(), qPrintable(error));
		if (!extracts)
			return;
		QCOMPARE(filesBelow(out), files);
		// Extracted files are ordinary readable files, not mode 0000.
		QDirIterator it(out, QDir::Files, QDirIterator::Subdirectories);
		while (it.hasNext()) {
			const QFileInfo info(it.next());
			QVERIFY2(info.permissions().testFlags(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther),
				 qPrintable(info.filePath()));
		}
	}

	void weReadToolArchives_data()
	{
		QTest::addColumn<QString>("file");
		QTest::addColumn<QJsonValue>("entries");
		QTest::addColumn<QString>("error");
		const QJsonDocument manifest = QJsonDocument::fromJson(readAll(dataDir() + "/manifest.json"));
		const QJsonArray archives = manifest.object().value("archives").toArray();
		QVERIFY(archives.size() >= 20);
		for (const QJsonValue &v : archives) {
			const QJsonObject o = v.toObject();
			const QString file = o.value("file").toString();
			QTest::newRow(qPrintable(file)) << file << o.value("entries") << o.value("error").toString();
		}
	}

	// The manifest was written by the generator from Python's own reading of each archive.
	void weReadToolArchives()
	{
		QFETCH(QString, file);
		QFETCH(QJsonValue, entries);
		QFETCH(QString, error);
		QStringList got;
		QString readError;
		const bool ok = readZip(
			dataDir() + "/" + file, backupZipLimits(),
			[&got](const QString &name, const QByteArray &bytes, QString &) {
				got << name + " " + QString::number(bytes.size()) + " " +
					       QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
				return true;
			},
			readError);
		QCOMPARE(readError, error.isEmpty() ? QString() : text(qPrintable(error)));
		QCOMPARE(ok, error.isEmpty());
		QStringList expected;
		for (const QJsonValue &v : entries.toArray()) {
			const QJsonObject e = v.toObject();
			expected << e.value("name").toString() + " " + QString::number(e.value("size").toInt()) + " " +
					    e.value("sha256").toString();
		}
		QCOMPARE(got, expected);
		QCOMPARE(expected.isEmpty(), !ok);
		if (!ok)
			return;
		// They hold note files, and restore in full as a backup.
		QTemporaryDir staging;
		QCOMPARE(readBackup(dataDir() + "/" + file, staging.filePath("s"), readError).size(), got.size());
		QCOMPARE(readError, QString());
	}
};

QTEST_GUILESS_MAIN(ZipInteropTest)
#include "tst_zip_interop.moc"
