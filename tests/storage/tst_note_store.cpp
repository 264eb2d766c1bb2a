#include "module/text.h"
#include "obs_test_env.h"
#include "storage/note_store.h"
#include "test_util.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>
#include <unistd.h>

using namespace quillmar;
using namespace Qt::StringLiterals;
using test::fileBytes;
using test::link;

namespace {

constexpr char WriterVariable[] = "QUILLMAR_CRASH_WRITER";

// 8 MiB of HTML, so that a save takes long enough to be cut in the middle.
QByteArray largeNote(char fill)
{
	return encodeNoteFile(u"0d3f5c1e-8a0b-4bde-9a55-2f8e4c6d7b10"_s, u"Big"_s, "<p>" + QString(8 << 20, fill) + "</p>");
}

// Started as the writer, this executable saves two versions of a note in turn until it is
// killed, telling the test after each save; it never reaches the test runner.
[[maybe_unused]] const bool writerMode = [] {
	const char *path = std::getenv(WriterVariable);
	if (!path)
		return false;
	const QByteArray versions[2] = {largeNote('a'), largeNote('b')};
	for (QString error;; error.clear())
		for (const QByteArray &version : versions)
			if (!NoteStore::writeFileAtomically(QString::fromUtf8(path), version, error) || ::write(STDOUT_FILENO, "saved\n", 6) != 6)
				_exit(3);
}();

NoteFileRecord recordAt(const QString &path)
{
	NoteFileRecord record;
	QString error;
	return parseNoteFile(fileBytes(path), record, error), record;
}

} // namespace

class NoteStoreTest : public QObject {
	Q_OBJECT

	std::unique_ptr<QTemporaryDir> m_dir;
	std::unique_ptr<test::Scene> m_a; // a scene "A" without a note
	QString m_notes, m_error;
	NoteStore m_store{QString()};

	QString at(const QString &file) const { return m_notes + u'/' + file; }
	static QString linkedFile(obs_source_t *scene) { return link(scene).value("file"_L1).toString(); }

private Q_SLOTS:
	void init()
	{
		m_dir = std::make_unique<QTemporaryDir>();
		m_notes = m_dir->filePath(u"notes"_s);
		m_store = NoteStore(m_notes);
		m_a = std::make_unique<test::Scene>("A");
		m_error.clear();
	}

	void cleanup()
	{
		m_a.reset();
		test::unmount(m_notes);
		m_dir.reset();
	}

	// Names as a scene may have them and the file names they give.
	void sanitizedNames_data() { test::jsonTable("storage/file_names.json"); }
	void sanitizedNames()
	{
		QFETCH(QJsonObject, row);
		QCOMPARE(sanitizeNoteFileName(row["raw"_L1].toString()), row["expected"_L1].toString());
	}

	void noteFiles()
	{
		const QString html = u"<p>\"quoted\" \\ back\nline\ttab \x01 </p>\u00E9\U0001F600\u2028"_s;
		const QString id = u"0d3f5c1e-8a0b-4bde-9a55-2f8e4c6d7b10"_s;
		const QByteArray bytes = encodeNoteFile(id, u"Intro \"1\""_s, html);
		QVERIFY(!bytes.contains('\n') && bytes.startsWith("{\"format\":\"OBS-Quillmar\",\"html\":"));
		QVERIFY(bytes.endsWith(",\"sceneId\":\"" + id.toLatin1() + "\",\"sceneName\":\"Intro \\\"1\\\"\",\"version\":1}"));
		QCOMPARE(QJsonDocument::fromJson(bytes).object().value("html"_L1).toString(), html);
		NoteFileRecord record;
		QVERIFY(parseNoteFile(bytes, record, m_error));
		QCOMPARE((QStringList{record.html, record.sceneId, record.sceneName}), (QStringList{html, id, u"Intro \"1\""_s}));
		QVERIFY(parseNoteFile(encodeNoteFile(u'{' + id + u'}', u"A"_s, QString()), record, m_error) && record.html.isEmpty()); // braced UUIDs too
		// Refused files leave the record alone; the note-file fuzzer compares the rest with a
		// reference reader.
		record.html = u"kept"_s;
		QVERIFY(!parseNoteFile(QByteArray(MaxNoteFileBytes + 1, ' '), record, m_error));
		QCOMPARE(m_error, text("BackupTooLarge"));
		QVERIFY(!parseNoteFile(QByteArray(bytes).replace("\"version\":1", "\"version\":2"), record, m_error));
		QCOMPARE(m_error, text("BackupInvalid"));
		QCOMPARE(record.html, u"kept"_s);
	}

	void saveWritesFileAndLinkAndReadsBack()
	{
		obs_source_t *a = m_a->source();
		QCOMPARE(m_store.readNote(a, m_error), QString());
		QVERIFY(m_store.saveNote(a, u"<p>one</p>"_s, m_error));
		QCOMPARE(link(a), (QJsonObject{{u"id"_s, m_a->uuid()}, {u"file"_s, u"A.json"_s}, {u"name"_s, u"A"_s}}));
		QCOMPARE(fileBytes(at(u"A.json"_s)), encodeNoteFile(m_a->uuid(), u"A"_s, u"<p>one</p>"_s));
		QVERIFY(m_store.takeCollectionDirty() && !m_store.takeCollectionDirty());
		// Unchanged link: the collection needs no save.
		QVERIFY(m_store.saveNote(a, u"<p>two</p>"_s, m_error) && !m_store.takeCollectionDirty());
		QCOMPARE(m_store.readNote(a, m_error), u"<p>two</p>"_s);
		// The file removed by hand: no note, no error.
		QVERIFY(QFile::remove(at(u"A.json"_s)));
		QVERIFY(m_store.readNote(a, m_error).isEmpty() && m_error.isEmpty());
		QVERIFY(!m_store.saveNote(nullptr, u"x"_s, m_error));
		QCOMPARE(m_error, text("SelectScene"));
	}

	// Restores and phones name scenes by UUID: only a live scene of the collection answers.
	void scenesAreFoundByUuidWhileLive()
	{
		QCOMPARE(sceneByUuid(m_a->uuid()).Get(), m_a->source());
		obs_source_t *group = obs_sceneitem_get_source(obs_scene_add_group(m_a->scene(), "G"));
		test::Scene removed("R");
		obs_source_remove(removed.source());
		for (const QString &uuid : {QString(), removed.uuid(), QString::fromUtf8(obs_source_get_uuid(group))})
			QVERIFY2(!sceneByUuid(uuid), qPrintable(uuid));
	}

	void fileNamesAreAllocatedCaseFolded()
	{
		QStringList files;
		for (const char *name : {"Intro", "intro", "CON", ". .", "INTRO"}) {
			test::Scene scene(name); // deleted again at once: its file stays and stays taken
			QVERIFY(m_store.saveNote(scene.source(), scene.uuid(), m_error));
			files << linkedFile(scene.source());
		}
		QCOMPARE(files, (QStringList{u"Intro.json"_s, u"intro_2.json"_s, u"_CON.json"_s, u"Scene.json"_s, u"INTRO_3.json"_s}));
		// Hidden entries and names reserved by a restore are taken too; the scene's own file is not.
		QVERIFY(test::writeBytes(at(u".hidden.json"_s), "{}"));
		QCOMPARE(m_store.allocateFileName(u".hidden"_s, {}, {}), at(u".hidden_2.json"_s));
		QCOMPARE(m_store.allocateFileName(u"Outro"_s, {}, {u"outro.json"_s}), at(u"Outro_2.json"_s));
		QCOMPARE(m_store.allocateFileName(u"Intro"_s, at(u"Intro.json"_s), {}), at(u"Intro.json"_s));
	}

	void unusableLinksAreIgnored_data()
	{
		QTest::addColumn<QString>("file");
		QTest::addColumn<bool>("ownId");
		QTest::newRow("other scene's id") << "A.json" << false;
		QTest::newRow("sub directory") << "sub/A.json" << true;
		QTest::newRow("backslash") << "sub\\A.json" << true;
		QTest::newRow("other ending") << "A.txt" << true;
		QTest::newRow("no file") << "" << true;
	}

	void unusableLinksAreIgnored()
	{
		QFETCH(QString, file);
		QFETCH(bool, ownId);
		QVERIFY(m_store.saveNote(m_a->source(), u"<p>original</p>"_s, m_error));
		QVERIFY(test::writeBytes(at(u"sub/A.json"_s), encodeNoteFile(m_a->uuid(), u"A"_s, u"<p>sub</p>"_s)));
		const QByteArray before = fileBytes(at(u"A.json"_s));
		test::Scene copy("Copy");
		test::setLink(copy.source(), ownId ? copy.uuid() : m_a->uuid(), file, u"A"_s);
		QVERIFY(m_store.readNote(copy.source(), m_error).isEmpty() && m_error.isEmpty());
		QVERIFY(m_store.saveNote(copy.source(), u"<p>copy</p>"_s, m_error));
		QCOMPARE(link(copy.source()).value("id"_L1).toString() + linkedFile(copy.source()), copy.uuid() + u"Copy.json"_s);
		QCOMPARE(fileBytes(at(u"A.json"_s)), before);
		QVERIFY(QFile::exists(at(u"sub/A.json"_s)));
		// Upper-case endings are the same file name.
		test::setLink(copy.source(), copy.uuid(), u"Copy.JSON"_s, u"Copy"_s);
		QCOMPARE(m_store.resolveNotePath(copy.source()), at(u"Copy.JSON"_s));
	}

	void renamesMoveTheFileAndKeepItsTime()
	{
		obs_source_t *a = m_a->source();
		const QDateTime old = QDateTime::fromSecsSinceEpoch(1600000000);
		QVERIFY(m_store.saveNote(a, u"<p>a</p>"_s, m_error, old));
		m_store.takeCollectionDirty();
		QVERIFY(m_store.syncSceneName(a, m_error) && !m_store.takeCollectionDirty()); // nothing to do
		obs_source_set_name(a, "B");
		QVERIFY(m_store.syncSceneName(a, m_error) && m_store.takeCollectionDirty());
		QCOMPARE(QFileInfo(at(u"B.json"_s)).lastModified(), old);
		QCOMPARE(recordAt(at(u"B.json"_s)).html, u"<p>a</p>"_s);
		// Only the case differs: same file, new name inside and in the link.
		obs_source_set_name(a, "b");
		QVERIFY(m_store.syncSceneName(a, m_error));
		QCOMPARE(linkedFile(a) + link(a).value("name"_L1).toString(), u"B.jsonb"_s);
		QCOMPARE(recordAt(at(u"B.json"_s)).sceneName, u"b"_s);
		QCOMPARE(QDir(m_notes).entryList(QDir::Files), QStringList{u"B.json"_s});
	}

	void unreadableNotesAreLoadErrors_data()
	{
		QTest::addColumn<QString>("kind");
		QTest::addColumn<QString>("key");
		QTest::newRow("other scene") << "foreign" << "NoteSceneMismatch";
		QTest::newRow("malformed") << "malformed" << "BackupInvalid";
		QTest::newRow("symbolic link") << "symlink" << "FileReadFailed";
	}

	// Neither read, renamed nor cleared: the file, its link and what a link points to stay. A
	// link is not saved through either.
	void unreadableNotesAreLoadErrors()
	{
		QFETCH(QString, kind);
		QFETCH(QString, key);
		obs_source_t *a = m_a->source();
		test::Scene other("B");
		QVERIFY(m_store.saveNote(a, u"<p>a</p>"_s, m_error));
		const QString path = at(u"A.json"_s), elsewhere = at(u"elsewhere.data"_s);
		QVERIFY(test::writeBytes(elsewhere, encodeNoteFile(m_a->uuid(), u"A"_s, u"<p>x</p>"_s)) && QFile::remove(path));
		if (kind == "symlink"_L1)
			QVERIFY(QFile::link(elsewhere, path));
		else
			QVERIFY(test::writeBytes(path, kind == "foreign"_L1 ? encodeNoteFile(other.uuid(), u"B"_s, u"<p>b</p>"_s) : "{\"format\":\"OBS-Quillmar\","));
		const QByteArray before = fileBytes(path), elsewhereBefore = fileBytes(elsewhere);
		const QJsonObject linkBefore = link(a);
		const QString expected = text(qPrintable(key));
		QCOMPARE(m_store.readNote(a, m_error), QString());
		QCOMPARE(m_error, kind == "symlink"_L1 ? expected + path : expected);
		// Reading by path checks the file, not whose it is.
		QByteArray bytes;
		NoteFileRecord record;
		QCOMPARE(NoteStore::readNoteFileAt(path, bytes, record, m_error), kind == "foreign"_L1);
		QVERIFY(!m_store.clearNoteIfNotNewer(a, QDateTime::currentDateTime().addDays(1), m_error));
		QVERIFY(kind != "symlink"_L1 || !m_store.saveNote(a, u"<p>new</p>"_s, m_error));
		obs_source_set_name(a, "Renamed");
		QVERIFY(!m_store.syncSceneName(a, m_error));
		QVERIFY(m_error.startsWith(expected));
		QVERIFY(!QFile::exists(at(u"Renamed.json"_s)));
		QCOMPARE(link(a), linkBefore);
		QCOMPARE(fileBytes(path), before);
		QCOMPARE(fileBytes(elsewhere), elsewhereBefore);
	}

	// Tests run as root, where permission bits stop nothing: a read-only folder needs a mount.
	// A full file system is the backup tests' case: the writer is the same.
	void failedSavesLeaveFileAndLinkAsTheyWere()
	{
		const QString why = test::mountPrivateTmpfs(m_notes, "size=4m");
		QVERIFY2(why.isEmpty(), qPrintable(why));
		obs_source_t *a = m_a->source();
		QVERIFY(m_store.saveNote(a, u"<p>old</p>"_s, m_error));
		m_store.takeCollectionDirty();
		QCOMPARE(mount(nullptr, QFile::encodeName(m_notes).constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
		obs_source_set_name(a, "B");
		const QByteArray fileBefore = fileBytes(at(u"A.json"_s));
		const QJsonObject linkBefore = link(a);
		QVERIFY(!m_store.saveNote(a, "<p>" + QString(100000, 'n') + "</p>", m_error) && !m_error.isEmpty());
		QVERIFY(!m_store.syncSceneName(a, m_error)); // a rename is refused the same way
		QCOMPARE(fileBytes(at(u"A.json"_s)), fileBefore);
		QCOMPARE(link(a), linkBefore);
		QCOMPARE(QDir(m_notes).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{u"A.json"_s});
		QVERIFY(!m_store.takeCollectionDirty());
	}

	// The times a note keeps are the renaming and clearing tests' business.
	void atomicWriterLimits()
	{
		const QString path = m_dir->filePath(u"deep/er/backup.json"_s);
		QVERIFY(NoteStore::writeFileAtomically(path, QByteArray(MaxNoteFileBytes, 'x'), m_error));
		QVERIFY(!NoteStore::writeFileAtomically(path, QByteArray(MaxNoteFileBytes + 1, 'y'), m_error));
		QCOMPARE(m_error, text("BackupTooLarge"));
		QCOMPARE(fileBytes(path), QByteArray(MaxNoteFileBytes, 'x'));
		QVERIFY(!NoteStore::writeFileAtomically(path + u"/x.json"_s, "x", m_error)); // a file where a folder belongs
		QCOMPARE(m_error, text("NoteSaveFailed"));
	}

	// A save killed at any moment leaves the old or the new note whole.
	void killedSavesLeaveOldOrNewContent()
	{
		const QString path = at(u"Big.json"_s);
		const QByteArray versions[2] = {largeNote('a'), largeNote('b')};
		QRandomGenerator random(20240611);
		qputenv(WriterVariable, QFile::encodeName(path));
		for (int round = 0; round < 16; ++round) {
			QVERIFY(NoteStore::writeFileAtomically(path, "old", m_error));
			QProcess writer;
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
			// A save had finished before the kill, so only a whole version can be there.
			const QByteArray now = fileBytes(path);
			QVERIFY2(now == versions[0] || now == versions[1], qPrintable(u"round %1: %2 bytes"_s.arg(round).arg(now.size())));
		}
		qunsetenv(WriterVariable);
	}

	void clearingOnlyEmptiesOldNotes()
	{
		obs_source_t *a = m_a->source();
		const QDateTime cutoff = QDateTime::currentDateTime().addDays(-7);
		QVERIFY(!m_store.clearNoteIfNotNewer(a, cutoff, m_error)); // no note
		QVERIFY(m_store.saveNote(a, u"<p>a</p>"_s, m_error, cutoff.addSecs(60)));
		QVERIFY(!m_store.clearNoteIfNotNewer(a, cutoff, m_error));
		QVERIFY(!m_store.clearNoteIfNotNewer(a, QDateTime(), m_error));
		QCOMPARE(m_store.readNote(a, m_error), u"<p>a</p>"_s);
		QVERIFY(m_store.saveNote(a, u"<p>a</p>"_s, m_error, cutoff));
		QVERIFY(m_store.clearNoteIfNotNewer(a, cutoff, m_error));
		QCOMPARE(m_store.readNote(a, m_error), QString());
		QVERIFY(QFileInfo(at(u"A.json"_s)).lastModified() > cutoff);
		QVERIFY(!m_store.clearNoteIfNotNewer(a, cutoff.addDays(8), m_error)); // already empty
	}
};

QUILLMAR_OBS_TEST_MAIN(NoteStoreTest)
#include "tst_note_store.moc"
