#include "module/module.h"
#include "module/text.h"
#include "obs_test_env.h"
#include "storage/note_store.h"
#include "test_util.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QTemporaryDir>


using namespace quillmar;

namespace {

using test::fileBytes;
using test::link;

void writeBytes(const QString &path, const QByteArray &bytes)
{
	QVERIFY2(test::writeBytes(path, bytes), qPrintable(path));
}

NoteFileRecord recordAt(const QString &path)
{
	NoteFileRecord record;
	QString error;
	parseNoteFile(fileBytes(path), record, error);
	return record;
}

} // namespace

class NoteStoreTest : public QObject {
	Q_OBJECT

	QTemporaryDir *m_dir = nullptr;
	QString m_notes;

	NoteStore store() const { return NoteStore(m_notes); }
	QString notePath(const QString &file) const { return m_notes + QLatin1Char('/') + file; }
	static QString linkedFile(obs_source_t *scene) { return link(scene).value(QStringLiteral("file")).toString(); }

	// Puts something other than a plain note file where the note file of a scene goes.
	void spoil(const QString &kind, const QString &path, const QString &elsewhere)
	{
		QFile::remove(path);
		if (kind == QLatin1String("symlink"))
			QVERIFY(QFile::link(elsewhere, path));
		else if (kind == QLatin1String("dangling"))
			QVERIFY(QFile::link(notePath(QStringLiteral("missing.json")), path));
		else if (kind == QLatin1String("directory"))
			QVERIFY(QDir().mkpath(path + QStringLiteral("/inside")));
		else if (kind == QLatin1String("malformed"))
			writeBytes(path, "{\"format\":\"OBS-Quillmar\",");
		else if (kind == QLatin1String("huge")) {
			writeBytes(path, "");
			QVERIFY(QFile::resize(path, MaxNoteFileBytes + 1));
		}
	}

private Q_SLOTS:
	void cleanupTestCase() { module::freeLocale(); }

	void init()
	{
		m_dir = new QTemporaryDir;
		m_notes = m_dir->filePath(QStringLiteral("notes"));
	}

	void cleanup()
	{
		test::unmount(m_notes);
		delete m_dir;
		m_dir = nullptr;
	}

	void sanitizedNames_data()
	{
		QTest::addColumn<QString>("name");
		QTest::addColumn<QString>("expected");
		const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80"); // two code units, four bytes
		const QString euro = QString::fromUtf8("\xE2\x82\xAC");      // one code unit, three bytes
		QTest::newRow("CON") << "CON" << "_CON";
		QTest::newRow("COM10") << "COM10" << "COM10";
		QTest::newRow("dots and spaces") << " . .. . " << "Scene";
		QTest::newRow("trailing dots") << "Intro..." << "Intro";
		QTest::newRow("forbidden and control characters")
			<< QString::fromUtf8("a<b>c:d\"e/f\\g|h?i*j\tk\x01l") << "a_b_c_d_e_f_g_h_i_j_k_l";
		QTest::newRow("NFC") << QString::fromUtf8("Cafe\xCC\x81") << QString::fromUtf8("Caf\xC3\xA9");
		QTest::newRow("no split surrogate at 100")
			<< QString(99, QLatin1Char('a')) + smile + QStringLiteral("tail") << QString(99, QLatin1Char('a'));
		QTest::newRow("180 bytes of pairs") << smile.repeated(60) << smile.repeated(45);
		QTest::newRow("byte cut then trailing space")
			<< euro.repeated(59) + QStringLiteral(" ") + euro << euro.repeated(59);
	}

	void sanitizedNames()
	{
		QFETCH(QString, name);
		QFETCH(QString, expected);
		QCOMPARE(sanitizeNoteFileName(name), expected);
	}

	void noteFileRoundTripsAndIsCompact()
	{
		const QString html = QStringLiteral("<p>\"quoted\" \\ back\nline\ttab \x01 </p>") +
				     QString::fromUtf8("\xC3\xA9\xF0\x9F\x98\x80\xE2\x80\xA8");
		const QString id = QStringLiteral("0d3f5c1e-8a0b-4bde-9a55-2f8e4c6d7b10");
		const QByteArray bytes = encodeNoteFile(id, QStringLiteral("Intro \"1\""), html);
		QVERIFY(!bytes.contains('\n'));
		QVERIFY(bytes.startsWith("{\"format\":\"OBS-Quillmar\",\"html\":"));
		QVERIFY(bytes.endsWith(",\"sceneId\":\"0d3f5c1e-8a0b-4bde-9a55-2f8e4c6d7b10\","
				       "\"sceneName\":\"Intro \\\"1\\\"\",\"version\":1}"));
		// What any JSON reader makes of it.
		QCOMPARE(QJsonDocument::fromJson(bytes).object().value(QStringLiteral("html")).toString(), html);

		NoteFileRecord record;
		QString error;
		QVERIFY(parseNoteFile(bytes, record, error));
		QCOMPARE(record.html, html);
		QCOMPARE(record.sceneId, id);
		QCOMPARE(record.sceneName, QStringLiteral("Intro \"1\""));
		// Braced UUIDs are UUIDs too.
		QVERIFY(parseNoteFile(encodeNoteFile(QLatin1Char('{') + id + QLatin1Char('}'), QStringLiteral("A"), QString()),
				      record, error));
		QCOMPARE(record.html, QString());
		// Refused files leave the record alone; the note file fuzzer compares the rest with a
		// reference reader.
		record.html = QStringLiteral("kept");
		QVERIFY(!parseNoteFile(QByteArray(MaxNoteFileBytes + 1, ' '), record, error));
		QCOMPARE(error, text("BackupTooLarge"));
		QVERIFY(!parseNoteFile(QByteArray(bytes).replace("\"version\":1", "\"version\":2"), record, error));
		QCOMPARE(error, text("BackupInvalid"));
		QCOMPARE(record.html, QStringLiteral("kept"));
	}

	void saveWritesFileAndLinkAndReadsBack()
	{
		test::Scene scene("Intro");
		NoteStore notes = store();
		QString error;
		QCOMPARE(notes.readNote(scene.source(), error), QString());
		QVERIFY(error.isEmpty());

		QVERIFY(notes.saveNote(scene.source(), QStringLiteral("<p>one</p>"), error));
		QCOMPARE(link(scene.source()), (QJsonObject{{QStringLiteral("id"), scene.uuid()},
							    {QStringLiteral("file"), QStringLiteral("Intro.json")},
							    {QStringLiteral("name"), QStringLiteral("Intro")}}));
		QCOMPARE(fileBytes(notePath(QStringLiteral("Intro.json"))),
			 encodeNoteFile(scene.uuid(), QStringLiteral("Intro"), QStringLiteral("<p>one</p>")));
		QVERIFY(notes.takeCollectionDirty());
		QVERIFY(!notes.takeCollectionDirty());

		// Unchanged link: the collection needs no save.
		QVERIFY(notes.saveNote(scene.source(), QStringLiteral("<p>two</p>"), error));
		QVERIFY(!notes.takeCollectionDirty());
		QCOMPARE(notes.readNote(scene.source(), error), QStringLiteral("<p>two</p>"));

		// The file removed by hand: no note, no error.
		QVERIFY(QFile::remove(notePath(QStringLiteral("Intro.json"))));
		QCOMPARE(notes.readNote(scene.source(), error), QString());
		QVERIFY(error.isEmpty());

		QVERIFY(!notes.saveNote(nullptr, QStringLiteral("x"), error));
		QCOMPARE(error, text("SelectScene"));
	}

	void fileNamesAreAllocatedCaseFolded()
	{
		NoteStore notes = store();
		QString error;
		QStringList files;
		for (const char *name : {"Intro", "intro", "CON", ". ."}) {
			test::Scene scene(name); // deleted again at once: its file stays and stays taken
			QVERIFY(notes.saveNote(scene.source(), QStringLiteral("<p>%1</p>").arg(scene.uuid()), error));
			files << linkedFile(scene.source());
		}
		QCOMPARE(files, (QStringList{QStringLiteral("Intro.json"), QStringLiteral("intro_2.json"),
					     QStringLiteral("_CON.json"), QStringLiteral("Scene.json")}));
		QCOMPARE(QDir(m_notes).entryList(QDir::Files).size(), 4);
		test::Scene again("INTRO");
		QVERIFY(notes.saveNote(again.source(), QStringLiteral("<p>new</p>"), error));
		QCOMPARE(linkedFile(again.source()), QStringLiteral("INTRO_3.json"));

		// Reserved names from a restore and hidden entries count as taken too.
		writeBytes(notePath(QStringLiteral(".hidden.json")), "{}");
		QCOMPARE(notes.allocateFileName(QStringLiteral(".hidden"), {}, {}),
			 notePath(QStringLiteral(".hidden_2.json")));
		QCOMPARE(notes.allocateFileName(QStringLiteral("Outro"), {}, {QStringLiteral("outro.json")}),
			 notePath(QStringLiteral("Outro_2.json")));
		// The scene's own current file does not block its own name.
		QCOMPARE(notes.allocateFileName(QStringLiteral("Intro"), notePath(QStringLiteral("Intro.json")), {}),
			 notePath(QStringLiteral("Intro.json")));
	}

	void unusableLinksAreIgnored_data()
	{
		QTest::addColumn<QString>("file");
		QTest::addColumn<bool>("ownId");
		QTest::newRow("other scene's id") << "Intro.json" << false;
		QTest::newRow("parent directory") << "../Intro.json" << true;
		QTest::newRow("sub directory") << "sub/Intro.json" << true;
		QTest::newRow("backslash") << "sub\\Intro.json" << true;
		QTest::newRow("other ending") << "Intro.txt" << true;
		QTest::newRow("no file") << "" << true;
	}

	void unusableLinksAreIgnored()
	{
		QFETCH(QString, file);
		QFETCH(bool, ownId);
		NoteStore notes = store();
		QString error;
		test::Scene original("Intro");
		QVERIFY(notes.saveNote(original.source(), QStringLiteral("<p>original</p>"), error));
		QDir().mkpath(notePath(QStringLiteral("sub")));
		writeBytes(notePath(QStringLiteral("sub/Intro.json")),
			   encodeNoteFile(original.uuid(), QStringLiteral("Intro"), QStringLiteral("<p>sub</p>")));
		const QByteArray before = fileBytes(notePath(QStringLiteral("Intro.json")));

		test::Scene copy("Copy");
		test::setLink(copy.source(), ownId ? copy.uuid() : original.uuid(), file, QStringLiteral("Intro"));
		QCOMPARE(notes.readNote(copy.source(), error), QString());
		QVERIFY(error.isEmpty());
		QVERIFY(notes.saveNote(copy.source(), QStringLiteral("<p>copy</p>"), error));
		QCOMPARE(linkedFile(copy.source()), QStringLiteral("Copy.json"));
		QCOMPARE(link(copy.source()).value(QStringLiteral("id")).toString(), copy.uuid());
		QCOMPARE(fileBytes(notePath(QStringLiteral("Intro.json"))), before);
		QVERIFY(QFile::exists(notePath(QStringLiteral("sub/Intro.json"))));

		// Upper-case endings are the same file name.
		test::setLink(copy.source(), copy.uuid(), QStringLiteral("Copy.JSON"), QStringLiteral("Copy"));
		QCOMPARE(notes.resolveNotePath(copy.source()), notePath(QStringLiteral("Copy.JSON")));
	}

	void renamesMoveTheFileAndKeepItsTime()
	{
		NoteStore notes = store();
		QString error;
		const QDateTime old = QDateTime::fromSecsSinceEpoch(1600000000);
		test::Scene scene("A");
		QVERIFY(notes.saveNote(scene.source(), QStringLiteral("<p>a</p>"), error, old));
		notes.takeCollectionDirty();
		QVERIFY(notes.syncSceneName(scene.source(), error)); // nothing to do
		QVERIFY(!notes.takeCollectionDirty());

		obs_source_set_name(scene.source(), "B");
		QVERIFY(notes.syncSceneName(scene.source(), error));
		QVERIFY(!QFile::exists(notePath(QStringLiteral("A.json"))));
		QCOMPARE(QFileInfo(notePath(QStringLiteral("B.json"))).lastModified(), old);
		QCOMPARE(recordAt(notePath(QStringLiteral("B.json"))).sceneName, QStringLiteral("B"));
		QCOMPARE(recordAt(notePath(QStringLiteral("B.json"))).html, QStringLiteral("<p>a</p>"));
		QCOMPARE(linkedFile(scene.source()), QStringLiteral("B.json"));
		QVERIFY(notes.takeCollectionDirty());

		// Only the case differs: same file, new name inside and in the link, nothing deleted.
		test::Scene intro("Intro");
		QVERIFY(notes.saveNote(intro.source(), QStringLiteral("<p>i</p>"), error));
		obs_source_set_name(intro.source(), "intro");
		QVERIFY(notes.syncSceneName(intro.source(), error));
		QCOMPARE(linkedFile(intro.source()), QStringLiteral("Intro.json"));
		QCOMPARE(link(intro.source()).value(QStringLiteral("name")).toString(), QStringLiteral("intro"));
		QCOMPARE(recordAt(notePath(QStringLiteral("Intro.json"))).sceneName, QStringLiteral("intro"));
		QCOMPARE(QDir(m_notes).entryList(QDir::Files).size(), 2);
	}

	void unreadableNotesAreLoadErrors_data()
	{
		QTest::addColumn<QString>("kind");
		QTest::addColumn<QString>("key");
		QTest::newRow("other scene") << "foreign" << "NoteSceneMismatch";
		QTest::newRow("malformed") << "malformed" << "BackupInvalid";
		QTest::newRow("symbolic link") << "symlink" << "FileReadFailed";
		QTest::newRow("dangling symbolic link") << "dangling" << "FileReadFailed";
		QTest::newRow("directory") << "directory" << "FileReadFailed";
		QTest::newRow("above 64 MiB") << "huge" << "BackupTooLarge";
	}

	// Also: a rename of such a note changes nothing.
	void unreadableNotesAreLoadErrors()
	{
		QFETCH(QString, kind);
		QFETCH(QString, key);
		NoteStore notes = store();
		QString error;
		test::Scene scene("A");
		test::Scene other("B");
		QVERIFY(notes.saveNote(scene.source(), QStringLiteral("<p>a</p>"), error));
		const QString path = notePath(QStringLiteral("A.json"));
		const QString elsewhere = notePath(QStringLiteral("elsewhere.data"));
		const QByteArray elsewhereBytes = encodeNoteFile(scene.uuid(), QStringLiteral("A"), QStringLiteral("<p>x</p>"));
		writeBytes(elsewhere, elsewhereBytes);
		spoil(kind, path, elsewhere);
		if (kind == QLatin1String("foreign"))
			writeBytes(path, encodeNoteFile(other.uuid(), QStringLiteral("B"), QStringLiteral("<p>b</p>")));
		const QByteArray before = fileBytes(path);
		const QJsonObject linkBefore = link(scene.source());
		const QString expected = text(key.toUtf8().constData());
		QCOMPARE(notes.readNote(scene.source(), error), QString());
		QCOMPARE(error, key == QLatin1String("FileReadFailed") ? expected + path : expected);

		// Reading by path checks the file, not whose it is.
		QByteArray bytes;
		NoteFileRecord record;
		QCOMPARE(NoteStore::readNoteFileAt(path, bytes, record, error), kind == QLatin1String("foreign"));
		if (kind != QLatin1String("foreign"))
			QVERIFY(error.startsWith(expected));

		obs_source_set_name(scene.source(), "Renamed");
		QVERIFY(!notes.syncSceneName(scene.source(), error));
		QVERIFY(error.startsWith(expected));
		QVERIFY(!QFile::exists(notePath(QStringLiteral("Renamed.json"))));
		QCOMPARE(link(scene.source()), linkBefore);
		QCOMPARE(fileBytes(path), before);
		QCOMPARE(fileBytes(elsewhere), elsewhereBytes);
	}

	void failedSavesLeaveFileAndLinkAsTheyWere_data()
	{
		QTest::addColumn<QString>("kind");
		QTest::addColumn<bool>("renamed");
		QTest::newRow("symbolic link as target") << "symlink" << false;
		QTest::newRow("directory as target") << "directory" << false;
		QTest::newRow("read-only mount") << "readonly" << false;
		QTest::newRow("read-only mount, renamed scene") << "readonly" << true;
		QTest::newRow("full file system") << "full" << false;
		QTest::newRow("full file system, renamed scene") << "full" << true;
	}

	void failedSavesLeaveFileAndLinkAsTheyWere()
	{
		QFETCH(QString, kind);
		QFETCH(bool, renamed);
		if (kind == QLatin1String("readonly") || kind == QLatin1String("full")) {
			QVERIFY(QDir().mkpath(m_notes));
			const QString why = test::mountPrivateTmpfs(m_notes, kind == QLatin1String("full") ? "size=256k" : "size=4m");
			if (!why.isEmpty())
				QSKIP(qPrintable(why));
		}
		NoteStore notes = store();
		QString error;
		test::Scene scene("A");
		QVERIFY(notes.saveNote(scene.source(), QStringLiteral("<p>old</p>"), error));
		notes.takeCollectionDirty();
		const QString path = notePath(QStringLiteral("A.json"));
		const QString elsewhere = m_dir->filePath(QStringLiteral("elsewhere.json"));

		writeBytes(elsewhere, "elsewhere");
		if (kind == QLatin1String("symlink") || kind == QLatin1String("directory")) {
			spoil(kind, path, elsewhere);
		} else if (kind == QLatin1String("readonly")) {
			QVERIFY(mount(nullptr, QFile::encodeName(m_notes).constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0);
		} else if (kind == QLatin1String("full")) {
			QFile filler(notePath(QStringLiteral("filler")));
			QVERIFY(filler.open(QIODevice::WriteOnly));
			const QByteArray block(4096, 'f');
			while (filler.write(block) == block.size() && filler.flush()) {
			}
		}
		if (renamed)
			obs_source_set_name(scene.source(), "B");

		const QByteArray fileBefore = fileBytes(path);
		const QJsonObject linkBefore = link(scene.source());
		const QStringList entriesBefore = QDir(m_notes).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
		const QString big = QStringLiteral("<p>%1</p>").arg(QString(100000, QLatin1Char('n')));

		QVERIFY(!notes.saveNote(scene.source(), big, error));
		QVERIFY(!error.isEmpty());
		if (renamed) // the rename is refused the same way
			QVERIFY(!notes.syncSceneName(scene.source(), error));
		QCOMPARE(fileBytes(path), fileBefore);
		QCOMPARE(link(scene.source()), linkBefore);
		QCOMPARE(QDir(m_notes).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), entriesBefore);
		QVERIFY(!notes.takeCollectionDirty());
		if (kind == QLatin1String("symlink")) {
			QCOMPARE(error, text("NoteSaveFailed"));
			QVERIFY(QFileInfo(path).isSymLink());
			QCOMPARE(fileBytes(elsewhere), QByteArray("elsewhere"));
		}
	}

	void atomicWriterLimitsAndTimes()
	{
		QString error;
		const QString path = m_dir->filePath(QStringLiteral("deep/er/backup.json"));
		const QDateTime when = QDateTime::fromSecsSinceEpoch(1500000000);
		QVERIFY(NoteStore::writeFileAtomically(path, "abc", error, when));
		QCOMPARE(fileBytes(path), QByteArray("abc"));
		QCOMPARE(QFileInfo(path).lastModified(), when);
		QVERIFY(NoteStore::writeFileAtomically(path, "abcd", error));
		QVERIFY(QFileInfo(path).lastModified() > when);

		QVERIFY(!NoteStore::writeFileAtomically(path, QByteArray(MaxNoteFileBytes + 1, 'x'), error));
		QCOMPARE(error, text("BackupTooLarge"));
		QCOMPARE(fileBytes(path), QByteArray("abcd"));
		QVERIFY(NoteStore::writeFileAtomically(path, QByteArray(MaxNoteFileBytes, 'x'), error));
		QCOMPARE(QFileInfo(path).size(), MaxNoteFileBytes);

		// A file where the directory belongs.
		writeBytes(m_dir->filePath(QStringLiteral("plain")), "p");
		QVERIFY(!NoteStore::writeFileAtomically(m_dir->filePath(QStringLiteral("plain/x.json")), "x", error));
		QCOMPARE(error, text("NoteSaveFailed"));
	}

	void clearingOnlyEmptiesOldNotes()
	{
		NoteStore notes = store();
		QString error;
		test::Scene scene("A");
		const QDateTime cutoff = QDateTime::currentDateTime().addDays(-7);
		const QDateTime tomorrow = QDateTime::currentDateTime().addDays(1);
		QVERIFY(!notes.clearNoteIfNotNewer(scene.source(), cutoff, error)); // no note

		QVERIFY(notes.saveNote(scene.source(), QStringLiteral("<p>a</p>"), error, cutoff.addSecs(60)));
		QVERIFY(!notes.clearNoteIfNotNewer(scene.source(), cutoff, error));
		QVERIFY(!notes.clearNoteIfNotNewer(scene.source(), QDateTime(), error));
		QCOMPARE(notes.readNote(scene.source(), error), QStringLiteral("<p>a</p>"));

		QVERIFY(notes.saveNote(scene.source(), QStringLiteral("<p>a</p>"), error, cutoff));
		QVERIFY(notes.clearNoteIfNotNewer(scene.source(), cutoff, error));
		QCOMPARE(notes.readNote(scene.source(), error), QString());
		QVERIFY(QFileInfo(notePath(QStringLiteral("A.json"))).lastModified() > cutoff);
		QVERIFY(!notes.clearNoteIfNotNewer(scene.source(), tomorrow, error)); // already empty

		// A foreign file is reported and left alone.
		test::Scene other("B");
		const QByteArray foreign = encodeNoteFile(other.uuid(), QStringLiteral("B"), QStringLiteral("<p>b</p>"));
		writeBytes(notePath(QStringLiteral("A.json")), foreign);
		QVERIFY(!notes.clearNoteIfNotNewer(scene.source(), tomorrow, error));
		QCOMPARE(error, text("NoteSceneMismatch"));
		QCOMPARE(fileBytes(notePath(QStringLiteral("A.json"))), foreign);
	}
};

QUILLMAR_OBS_TEST_MAIN(NoteStoreTest)
#include "tst_note_store.moc"
