#include "note_dock.h"
#include "test_util.h"

using namespace quillmar;
using namespace Qt::StringLiterals;
using test::fileBytes;

namespace {

QString file(const char *name) { return test::notePath(QLatin1String(name) + u".json"_s); }
NoteFileRecord recordOf(const char *name)
{
	NoteFileRecord record;
	QString error;
	parseNoteFile(fileBytes(file(name)), record, error);
	return record;
}
// The plain text stored in a note file.
QString storedIn(const char *name)
{
	return QFile::exists(file(name)) ? test::NoteDock::plainOf(recordOf(name).html) : u"<no file>"_s;
}
QString linkOf(obs_source_t *scene) { return test::link(scene).value(u"file"_s).toString(); }

} // namespace

class SceneNotesTest : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void followsProgramAndPreviewScenes()
	{
		test::NoteDock note;
		QVERIFY(note.editor()->isEnabled() && !note.editor()->isReadOnly() && note.status() == text("Loaded"));
		fake::setPreviewScene(note.scene("B"), false);
		fake::setStudioMode(true);
		QCOMPARE(note.shown(), u"B"_s);
		fake::setProgramScene(note.scene("C")); // the program changes, the preview stays shown
		QCOMPARE(note.shown(), u"B"_s);
		fake::setStudioMode(false);
		QCOMPARE(note.shown(), u"C"_s);
		fake::setProgramScene(nullptr);
		QVERIFY(note.shown() == text("NoScene") && note.status() == text("SelectScene"));
		QVERIFY(!note.editor()->isEnabled() && note.dock->currentSceneUuid().isEmpty());

		// A collection change saves first and shows nothing until the new one has loaded.
		note.show("A");
		fake::emitEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
		QVERIFY(note.dock->isCollectionReady());
		note.type(u"before the change"_s);
		fake::emitEvent(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING);
		QCOMPARE(storedIn("A"), u"before the change"_s);
		QVERIFY(!note.dock->isCollectionReady() && !note.editor()->isEnabled());
		fake::setProgramScene(note.scene("Other"), false);
		fake::emitEvent(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED);
		QCOMPARE(note.shown(), u"Other"_s);
	}

	void editsEndUpInTheirScenesFiles()
	{
		test::NoteDock note;
		note.type(u"alpha"_s);
		QCOMPARE(note.status(), text("Saving"));
		const int saves = fake::frontendSaveCount();
		test::hostSave();
		QCOMPARE(storedIn("A"), u"alpha"_s);
		// The new link missed the data being saved: the collection is saved again afterwards, once.
		QCOMPARE(fake::frontendSaveCount(), saves);
		QCoreApplication::processEvents();
		QCoreApplication::processEvents();
		QCOMPARE(fake::frontendSaveCount(), saves + 1);

		// Every edit restarts the autosave delay; only its end writes.
		note.show("B");
		QTimer &delay = note.dock->autosaveTimer();
		for (const char *key : {"b", "e"}) {
			delay.stop();
			note.type(QLatin1String(key));
			QVERIFY(delay.isActive());
			QCoreApplication::processEvents();
			QVERIFY2(!QFile::exists(file("B")), "written during the burst");
		}
		delay.start(0);
		QTRY_COMPARE(storedIn("B"), u"be"_s);
		const int linked = fake::frontendSaveCount(); // same link again: no collection save
		note.type(u"!"_s);
		QVERIFY(note.dock->saveNote(true, true));
		QCOMPARE(fake::frontendSaveCount(), linked);
		note.show("C");
		note.type(u"gamma"_s);
		note.show("A"); // switching saves first, and the new link must reach the collection
		QVERIFY(storedIn("C") == u"gamma"_s && linkOf(note.scene("C")) == u"C.json"_s);
		QVERIFY(fake::frontendSaveCount() == linked + 1 && !note.dock->isDirty()); // loading is not an edit

		// Hiding the dock and the exit save; nothing is followed or saved after the exit.
		note.type(u" two"_s);
		note.dock->hide();
		QCOMPARE(storedIn("A"), u"alpha two"_s);
		note.dock->show();
		note.type(u" three"_s);
		fake::emitEvent(OBS_FRONTEND_EVENT_EXIT);
		QCOMPARE(storedIn("A"), u"alpha two three"_s);
		note.type(u" four"_s);
		fake::setProgramScene(nullptr);
		QVERIFY(note.shown() == u"A"_s && storedIn("A") == u"alpha two three"_s);
	}

	void failedSavesKeepTheNoteAndRefuseTheSwitch()
	{
		test::NoteDock note;
		note.type(u"first"_s);
		QVERIFY(note.dock->saveNote(true, true));
		const QString path = file("A");
		const QByteArray saved = fileBytes(path);
		const QJsonObject savedLink = test::link(note.scene("A"));
		// A directory where the note file goes: the save cannot replace it.
		QVERIFY(QFile::rename(path, path + u".moved"_s) && QDir().mkpath(path + u"/blocker"_s));
		note.type(u" second"_s);
		note.show("B");
		QCOMPARE(note.dock->currentSceneUuid(), note.uuid("A"));
		QVERIFY(note.plain() == u"first second"_s && note.dock->isDirty());
		auto *badge = note.widget<QLabel>("saveError");
		QVERIFY(!badge->isHidden() && badge->accessibleName() == note.status());
		QCOMPARE(note.status(), text("NoteSaveFailed") + u' ' + badge->toolTip());
		QVERIFY(test::link(note.scene("A")) == savedLink && fileBytes(path + u".moved"_s) == saved);

		// The next trigger (here the host saving) tries again and then lets the switch through.
		QVERIFY(QDir(path).removeRecursively());
		test::hostSave();
		QVERIFY(!note.dock->isDirty() && badge->isHidden());
		note.show("B");
		QVERIFY(storedIn("A") == u"first second"_s && note.shown() == u"B"_s);

		// A note over the limits (behind the editor's checks, as a bad import would) is not saved.
		note.editor()->textCursor().insertText(QString(kParagraphCharLimit + 1, u'x'));
		note.show("A");
		QVERIFY(note.shown() == u"B"_s && note.status() == text("TextLimit") && !QFile::exists(file("B")));
	}

	// An empty "content": a readable note too long to show.
	void unreadableNotesAreLoadErrors_data() { test::jsonTable("dock/unreadable_notes.json"); }
	void unreadableNotesAreLoadErrors()
	{
		QFETCH(QJsonObject, row);
		const QByteArray content = row["content"].toString().toUtf8();
		test::NoteDock note;
		note.show("B", u"<p>mine</p>"_s);
		const QString tooLong(kParagraphCharLimit + 1, u'x');
		QVERIFY(test::writeBytes(file("B"), content.isEmpty() ? encodeNoteFile(note.uuid("B"), u"B"_s, tooLong) : content));
		const QByteArray before = fileBytes(file("B"));
		note.show("A");
		note.show("B");
		QVERIFY(note.dock->hasLoadError() && note.status().startsWith(text(content.isEmpty() ? "TextLimit" : "BackupInvalid")));
		note.type(u"typed"_s);
		QVERIFY(note.plain().isEmpty() && note.editor()->placeholderText() == note.status());
		// Host saves, locking, unlocking, renames and leaving the scene never overwrite it.
		test::hostSave();
		note.dock->setLocked(true);
		note.dock->setLocked(false);
		QVERIFY(note.editor()->isReadOnly() && !note.dock->isDirty() && fileBytes(file("B")) == before);
		obs_source_set_name(note.scene("B"), "B2");
		QTRY_VERIFY(note.shown() == u"B2"_s && note.dock->hasLoadError());
		note.show("A");
		if (content.isEmpty()) // readable, only too long to show: a rename moves it whole
			QCOMPARE(storedIn("B2"), tooLong);
		else
			QCOMPARE(fileBytes(file("B")), before);
		QVERIFY(!note.dock->hasLoadError() && !note.editor()->isReadOnly());

		// Mended by hand: showing the scene again reads the file again.
		note.show("B");
		QVERIFY(test::writeBytes(test::notePath(linkOf(note.scene("B"))),
					 encodeNoteFile(note.uuid("B"), u"B2"_s, u"<p>fixed</p>"_s)));
		note.show("B");
		QCOMPARE(note.plain(), u"fixed"_s);
	}

	void renamesMoveNoteFiles()
	{
		test::NoteDock note;
		note.show("B", u"<p>beta</p>"_s);
		note.show("A", u"<p>alpha</p>"_s);
		// A scene that is not shown: its file moves at once, and the collection is saved.
		int saves = fake::frontendSaveCount();
		obs_source_set_name(note.scene("B"), "Opening");
		QTRY_COMPARE(storedIn("Opening"), u"beta"_s);
		QVERIFY(storedIn("B") == u"<no file>"_s && linkOf(note.scene("B")) == u"Opening.json"_s);
		QCOMPARE(fake::frontendSaveCount(), saves + 1);

		// The shown scene, dirty: the pending edits are saved under the new name.
		note.type(u" more"_s);
		saves = fake::frontendSaveCount();
		obs_source_set_name(note.scene("A"), "talk");
		QTRY_COMPARE(note.shown(), u"talk"_s);
		QVERIFY(!note.dock->isDirty() && storedIn("A") == u"<no file>"_s);
		QVERIFY(storedIn("talk") == u"alpha more"_s && recordOf("talk").sceneName == u"talk"_s);
		QVERIFY(test::link(note.scene("A")).value(u"name"_s).toString() == u"talk"_s && fake::frontendSaveCount() == saves + 1);
	}

	void readingPositionsSurviveACleanShutdown()
	{
		test::NoteDock note(test::numberedLines(300));
		QTRY_VERIFY(note.bar()->maximum() > 400);
		note.bar()->setValue(400);
		note.show("B");
		QCOMPARE(note.bar()->value(), 0);
		note.show("A");
		QCOMPARE(note.bar()->value(), 400); // remembered in memory
		note.bar()->setValue(250);
		module::unload(); // shut-down writes the positions
		QSettings settings(test::settingsPath(), QSettings::IniFormat);
		QCOMPARE(settings.value(u"readingPositions/"_s + note.uuid("A")).toInt(), 250);
		note.restart();
		note.show("A");
		QTRY_COMPARE(note.bar()->value(), 250); // once the new editor's layout reaches it
		// Showing the dock again puts the remembered position back once the layout settles.
		note.dock->hide();
		note.bar()->setValue(10);
		note.dock->show();
		QTRY_COMPARE(note.bar()->value(), 250);

		// A long note is laid out in steps; the position is kept until the layout reaches it,
		// also across a switch before it got there.
		note.show("L", test::numberedLines(12000));
		QTextDocument *document = note.editor()->document();
		document->documentLayout()->blockBoundingRect(document->lastBlock());
		const int full = int(document->documentLayout()->documentSize().height());
		QTRY_VERIFY(note.bar()->maximum() > full - note.editor()->viewport()->height() - 50);
		const int deep = note.bar()->maximum() - 10;
		note.bar()->setValue(deep);
		for (int round = 0; round < 2; ++round) {
			note.show("B");
			note.show("L");
			QVERIFY(round > 0 || note.bar()->maximum() < deep);
		}
		QTRY_COMPARE(note.bar()->value(), deep);
	}

	// Read mode and a remote client each hold the editor; notes from the phone and restores go
	// around it.
	void readModeRemoteNotesAndRestores()
	{
		test::NoteDock note;
		note.type(u"draft"_s);
		note.dock->setLocked(true);
		QCOMPARE(storedIn("A"), u"draft"_s); // locking saves
		note.type(u"x"_s);
		QCOMPARE(note.plain(), u"draft"_s); // read mode
		note.dock->setRemoteEditing(true);
		note.dock->setLocked(false);
		QVERIFY(note.editor()->isReadOnly()); // still held by the remote client
		note.dock->setRemoteEditing(false);
		QVERIFY(!note.editor()->isReadOnly());
		note.type(u" more"_s);
		note.dock->setRemoteEditing(true); // a phone takes the note: the pending edits go first
		QCOMPARE(storedIn("A"), u"draft more"_s);
		note.dock->setRemoteEditing(false);
		note.dock->setLocked(true); // read back at start
		note.restart();
		note.show("A");
		QVERIFY(note.dock->isLocked() && note.editor()->isReadOnly());
		note.dock->setLocked(false);
		QVERIFY(note.dock->applyRemoteNote(note.scene("B"), u"<p>from the phone</p>"_s));
		QVERIFY(note.stored("B") == u"from the phone"_s && note.plain() == u"draft more"_s);
		note.type(u"local"_s);
		QVERIFY(note.dock->applyRemoteNote(note.scene("A"), u"<p>remote A</p>"_s));
		QVERIFY(note.plain() == u"remote A"_s && !note.dock->isDirty());
		// A failed remote save reports and changes nothing.
		QVERIFY(QFile::remove(file("A")) && QDir().mkpath(file("A")));
		QVERIFY(!note.dock->applyRemoteNote(note.scene("A"), u"<p>lost?</p>"_s));
		QVERIFY(!note.widget<QLabel>("saveError")->isHidden() && note.plain() == u"remote A"_s);
		QVERIFY(QDir(file("A")).removeRecursively());

		// A restore holds edits and scene events, then follows the host and reads what it wrote.
		note.dock->beginRestore();
		note.type(u"ignored"_s);
		QVERIFY(!note.dock->isDirty());
		note.show("B");
		obs_source_set_name(note.scene("A"), "A2");
		QCoreApplication::processEvents();
		QCOMPARE(note.shown(), u"A"_s);
		QString error;
		QVERIFY(note.dock->noteStore().saveNote(note.scene("A"), u"<p>restored</p>"_s, error));
		note.dock->endRestore();
		QCOMPARE(note.shown(), u"B"_s);
		note.show("A");
		QCOMPARE(note.plain(), u"restored"_s);
	}

	void editsOfADeletedSceneAreKept()
	{
		test::NoteDock note;
		const QString uuid = note.uuid("A");
		note.type(u"saved once"_s);
		QVERIFY(note.dock->saveNote(true, true));
		note.type(u" then more"_s);
		// Deleted within the autosave delay; someone still holds it, so it is removed but alive.
		const OBSSourceAutoRelease held = obs_source_get_ref(note.scene("A"));
		note.remove("A");
		note.show("B");
		QCOMPARE(note.status(), text("DeletedSceneNoteSaved").arg(file("A")));
		QVERIFY(recordOf("A").sceneId == uuid && storedIn("A") == u"saved once then more"_s);

		// Never saved before: a fresh file under its last name, even when the timer finds it gone.
		QVERIFY(test::writeBytes(file("Fresh"), "someone else's"));
		const QString fresh = note.uuid("Fresh");
		note.show("Fresh");
		note.type(u"new scene"_s);
		note.remove("Fresh");
		note.dock->autosaveTimer().start(0);
		QTRY_VERIFY(!note.dock->isDirty());
		QVERIFY(recordOf("Fresh_2").sceneId == fresh && storedIn("Fresh_2") == u"new scene"_s);
		QCOMPARE(fileBytes(file("Fresh")), QByteArray("someone else's"));
	}

	// What the status row shows; the arithmetic behind it is tested in editor_note_limits.
	void statusRowCountsAndReports()
	{
		QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
		test::NoteDock note(QString(), true);
		const auto label = [&](const char *name) { return note.widget<QLabel>(name)->text(); };
		const auto counted = [&](const QString &shown, const QString &paragraphs) {
			note.dock->updateDocumentStatus();
			QCOMPARE(label("characterCount"), text("CharacterCount").arg(shown));
			QCOMPARE(label("documentStatus"), text("DocumentStatus").arg(paragraphs));
		};
		fake::setProgramScene(nullptr);
		note.editor()->setPlainText(u"left over"_s); // no scene: nothing counts
		counted(u"0"_s, u"0"_s);
		note.show("A");
		note.editor()->insertPlainText(u"ab\nc"_s);
		counted(u"4"_s, u"2"_s);
		note.editor()->selectAll();
		const QString selected = text("SelectedCharacters").arg(3);
		QCOMPARE(label("characterCount"), selected);
		QCOMPARE(note.widget("characterCount")->accessibleName(),
			 selected + u"; "_s + text("CharacterRemaining").arg(u"4"_s, u"200.000"_s, u"199.996"_s));
		QLocale::setDefault(QLocale::c());

		note.editor()->setHtml(test::numberedLines(300));
		QTRY_VERIFY(note.bar()->maximum() > 100);
		note.bar()->setValue(note.bar()->maximum() / 2);
		QCOMPARE(label("scrollPercent"), u"50%"_s);
		note.editor()->setPlainText(QString(kParagraphCharLimit, u'q'));
		note.type(u"a"_s);
		QVERIFY(note.plain().size() == kParagraphCharLimit && note.status() == text("TextLimit"));
	}
};

QUILLMAR_OBS_TEST_MAIN(SceneNotesTest)
#include "tst_scene_notes.moc"
