#include "note_dock.h"
#include "test_util.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QSettings>
#include <QTextBlock>
#include <QTimer>

using namespace quillmar;
using test::fileBytes;
using test::notePath;

namespace {

NoteFileRecord recordAt(const QString &file)
{
	NoteFileRecord record;
	QString error;
	parseNoteFile(fileBytes(notePath(file)), record, error);
	return record;
}

// The plain text stored in a note file, or a marker when there is none.
QString storedIn(const QString &file)
{
	return QFile::exists(notePath(file)) ? test::NoteDock::plainOf(recordAt(file).html) : QStringLiteral("<no file>");
}

QString linkedFile(obs_source_t *scene)
{
	return test::link(scene).value(QStringLiteral("file")).toString();
}

} // namespace

class SceneNotesTest : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void followsProgramAndPreviewScenes()
	{
		test::NoteDock note;
		const auto shown = [&] { return note.label("sceneLabel"); };
		QCOMPARE(shown(), QStringLiteral("A"));
		QVERIFY(note.editor()->isEnabled() && !note.editor()->isReadOnly());
		QCOMPARE(note.status(), text("Loaded"));
		fake::setPreviewScene(note.scene("B"), false);
		fake::setStudioMode(true);
		QCOMPARE(shown(), QStringLiteral("B"));
		fake::setPreviewScene(note.scene("C"));
		QCOMPARE(shown(), QStringLiteral("C"));
		fake::setProgramScene(note.scene("B")); // the program changes, the preview stays shown
		QCOMPARE(shown(), QStringLiteral("C"));
		fake::setStudioMode(false);
		QCOMPARE(shown(), QStringLiteral("B"));
		fake::setProgramScene(nullptr);
		QCOMPARE(shown(), text("NoScene"));
		QCOMPARE(note.status(), text("SelectScene"));
		QVERIFY(!note.editor()->isEnabled() && note.dock->currentSceneUuid().isEmpty());
	}

	void editsEndUpInTheirScenesFiles()
	{
		test::NoteDock note;
		note.type(QStringLiteral("alpha"));
		QCOMPARE(note.status(), text("Saving"));
		const int saves = fake::frontendSaveCount();
		note.show("B"); // switching saves first
		QCOMPARE(storedIn(QStringLiteral("A.json")), QStringLiteral("alpha"));
		QCOMPARE(linkedFile(note.scene("A")), QStringLiteral("A.json"));
		QCOMPARE(fake::frontendSaveCount(), saves + 1); // the new link must reach the collection
		QCOMPARE(note.plain(), QString());

		// Every edit restarts the autosave delay; only its end writes.
		QTimer &delay = note.dock->autosaveTimer();
		for (const char *key : {"b", "e", "t", "a"}) {
			delay.stop();
			note.type(QLatin1String(key));
			QVERIFY(delay.isActive());
			QCoreApplication::processEvents();
			QVERIFY2(!QFile::exists(notePath(QStringLiteral("B.json"))), "written during the burst");
		}
		delay.start(0);
		QTRY_COMPARE(storedIn(QStringLiteral("B.json")), QStringLiteral("beta"));
		QCOMPARE(note.status(), text("SavedNote"));
		QVERIFY(!note.dock->isDirty());
		QCOMPARE(QDir(test::notesDir()).entryList(QDir::Files).size(), 2);
		const int linked = fake::frontendSaveCount(); // same link again: no collection save
		note.type(QStringLiteral("!"));
		QVERIFY(note.dock->saveNote(true, true));
		QCOMPARE(fake::frontendSaveCount(), linked);

		note.show("A");
		QCOMPARE(note.plain(), QStringLiteral("alpha"));
		QVERIFY(!note.dock->isDirty()); // loading is not an edit
	}

	void hostSaveHideAndExitSaveTheNote()
	{
		test::NoteDock note;
		note.type(QStringLiteral("one"));
		const int saves = fake::frontendSaveCount();
		test::hostSave();
		QCOMPARE(storedIn(QStringLiteral("A.json")), QStringLiteral("one"));
		// The new link missed the data being saved: the collection is saved again afterwards, once.
		QCOMPARE(fake::frontendSaveCount(), saves);
		QCoreApplication::processEvents();
		QCoreApplication::processEvents();
		QCOMPARE(fake::frontendSaveCount(), saves + 1);

		note.type(QStringLiteral(" two"));
		note.dock->hide();
		QCOMPARE(storedIn(QStringLiteral("A.json")), QStringLiteral("one two"));
		note.dock->show();
		note.type(QStringLiteral(" three"));
		fake::emitEvent(OBS_FRONTEND_EVENT_EXIT);
		QCOMPARE(storedIn(QStringLiteral("A.json")), QStringLiteral("one two three"));
		// Nothing is followed or saved after the exit.
		note.type(QStringLiteral(" four"));
		fake::setProgramScene(nullptr);
		QCOMPARE(note.label("sceneLabel"), QStringLiteral("A"));
		QCOMPARE(storedIn(QStringLiteral("A.json")), QStringLiteral("one two three"));
	}

	void failedSavesKeepTheNoteAndRefuseTheSwitch()
	{
		test::NoteDock note;
		note.type(QStringLiteral("first"));
		QVERIFY(note.dock->saveNote(true, true));
		const QString path = notePath(QStringLiteral("A.json"));
		const QByteArray saved = fileBytes(path);
		const QJsonObject savedLink = test::link(note.scene("A"));
		// A directory where the note file goes: the save cannot replace it.
		QVERIFY(QFile::rename(path, path + QStringLiteral(".moved")));
		QVERIFY(QDir().mkpath(path + QStringLiteral("/blocker")));
		note.type(QStringLiteral(" second"));
		note.show("B");
		QCOMPARE(note.dock->currentSceneUuid(), note.uuid("A"));
		QCOMPARE(note.plain(), QStringLiteral("first second"));
		QVERIFY(note.dock->isDirty());
		auto *badge = note.widget<QLabel>("saveError");
		QVERIFY(!badge->isHidden());
		QCOMPARE(note.status(), text("NoteSaveFailed") + QLatin1Char(' ') + badge->toolTip());
		QCOMPARE(test::link(note.scene("A")), savedLink);
		QCOMPARE(fileBytes(path + QStringLiteral(".moved")), saved);

		// The next trigger (here the host saving) tries again and then lets the switch through.
		QVERIFY(QDir(path).removeRecursively());
		test::hostSave();
		QVERIFY(!note.dock->isDirty() && badge->isHidden());
		QCOMPARE(storedIn(QStringLiteral("A.json")), QStringLiteral("first second"));
		note.show("B");
		QCOMPARE(note.label("sceneLabel"), QStringLiteral("B"));

		// A note over the limits (behind the editor's checks, as a bad import would) is not saved.
		note.editor()->textCursor().insertText(QString(kParagraphCharLimit + 1, QLatin1Char('x')));
		note.show("A");
		QCOMPARE(note.label("sceneLabel"), QStringLiteral("B"));
		QCOMPARE(note.status(), text("TextLimit"));
		QVERIFY(!QFile::exists(notePath(QStringLiteral("B.json"))));
	}

	void unreadableNotesAreLoadErrors_data()
	{
		QTest::addColumn<QByteArray>("content"); // empty: a readable note too long to show
		QTest::addColumn<QString>("key");
		QTest::newRow("malformed") << QByteArray("{\"format\":\"OBS-Quillmar\"") << "BackupInvalid";
		QTest::newRow("paragraph over the limit") << QByteArray() << "TextLimit";
	}
	void unreadableNotesAreLoadErrors()
	{
		QFETCH(QByteArray, content);
		QFETCH(QString, key);
		test::NoteDock note;
		note.show("B", QStringLiteral("<p>mine</p>"));
		const QString path = notePath(QStringLiteral("B.json"));
		const QString tooLong(kParagraphCharLimit + 1, QLatin1Char('x'));
		QVERIFY(test::writeBytes(path, content.isEmpty() ? encodeNoteFile(note.uuid("B"), QStringLiteral("B"), tooLong)
								 : content));
		const QByteArray before = fileBytes(path);
		note.show("A");
		note.show("B");
		QVERIFY(note.dock->hasLoadError());
		QVERIFY(note.status().startsWith(text(key.toUtf8().constData())));
		QCOMPARE(note.editor()->placeholderText(), note.status());
		note.type(QStringLiteral("typed"));
		QCOMPARE(note.plain(), QString());
		// Host saves, hides, unlocking, renames and leaving the scene never overwrite it.
		test::hostSave();
		note.dock->hide();
		note.dock->show();
		note.dock->setLocked(true);
		note.dock->setLocked(false);
		QVERIFY(note.editor()->isReadOnly() && !note.dock->isDirty());
		QCOMPARE(fileBytes(path), before);
		obs_source_set_name(note.scene("B"), "B2");
		QTRY_COMPARE(note.label("sceneLabel"), QStringLiteral("B2"));
		QVERIFY(note.dock->hasLoadError());
		note.show("A");
		if (content.isEmpty()) // readable, only too long to show: a rename moves it whole
			QCOMPARE(storedIn(QStringLiteral("B2.json")), tooLong);
		else
			QCOMPARE(fileBytes(path), before);
		QVERIFY(!note.dock->hasLoadError() && !note.editor()->isReadOnly());
		QVERIFY(note.editor()->placeholderText().isEmpty());

		// Mended by hand: showing the scene again reads the file again.
		note.show("B");
		QVERIFY(note.dock->hasLoadError());
		QVERIFY(test::writeBytes(notePath(linkedFile(note.scene("B"))),
					 encodeNoteFile(note.uuid("B"), QStringLiteral("B2"), QStringLiteral("<p>fixed</p>"))));
		note.show("B");
		QVERIFY(!note.dock->hasLoadError());
		QCOMPARE(note.plain(), QStringLiteral("fixed"));
	}

	void renamesMoveNoteFiles()
	{
		test::NoteDock note;
		note.show("B", QStringLiteral("<p>beta</p>"));
		note.show("A", QStringLiteral("<p>alpha</p>"));
		// A scene that is not shown: its file moves at once, and the collection is saved.
		int saves = fake::frontendSaveCount();
		obs_source_set_name(note.scene("B"), "Opening");
		QTRY_VERIFY(QFile::exists(notePath(QStringLiteral("Opening.json"))));
		QCOMPARE(storedIn(QStringLiteral("B.json")), QStringLiteral("<no file>"));
		QCOMPARE(storedIn(QStringLiteral("Opening.json")), QStringLiteral("beta"));
		QCOMPARE(linkedFile(note.scene("B")), QStringLiteral("Opening.json"));
		QCOMPARE(fake::frontendSaveCount(), saves + 1);
		QCOMPARE(note.label("sceneLabel"), QStringLiteral("A"));

		// The shown scene, dirty: the pending edits are saved under the new name.
		note.type(QStringLiteral(" more"));
		saves = fake::frontendSaveCount();
		obs_source_set_name(note.scene("A"), "talk");
		QTRY_COMPARE(note.label("sceneLabel"), QStringLiteral("talk"));
		QVERIFY(!note.dock->isDirty());
		QCOMPARE(storedIn(QStringLiteral("A.json")), QStringLiteral("<no file>"));
		QCOMPARE(storedIn(QStringLiteral("talk.json")), QStringLiteral("alpha more"));
		QCOMPARE(recordAt(QStringLiteral("talk.json")).sceneName, QStringLiteral("talk"));
		QCOMPARE(test::link(note.scene("A")).value(QStringLiteral("name")).toString(), QStringLiteral("talk"));
		QCOMPARE(fake::frontendSaveCount(), saves + 1);
	}

	void collectionChangeSavesAndWaitsForLoading()
	{
		test::NoteDock note;
		QVERIFY(!note.dock->isCollectionReady());
		fake::emitEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
		QVERIFY(note.dock->isCollectionReady());
		note.type(QStringLiteral("before the change"));
		fake::emitEvent(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING);
		QCOMPARE(storedIn(QStringLiteral("A.json")), QStringLiteral("before the change"));
		QVERIFY(!note.dock->isCollectionReady() && !note.editor()->isEnabled());
		QCOMPARE(note.label("sceneLabel"), text("NoScene"));
		fake::setProgramScene(note.scene("Other"), false);
		fake::emitEvent(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED);
		QCOMPARE(note.label("sceneLabel"), QStringLiteral("Other"));
		QVERIFY(note.dock->isCollectionReady());
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
		QCOMPARE(settings.value(QStringLiteral("readingPositions/") + note.uuid("A")).toInt(), 250);
		QCOMPARE(settings.value(QStringLiteral("readingPositions/") + note.uuid("B")).toInt(), 0);
		note.restart();
		note.show("A");
		QTRY_COMPARE(note.bar()->value(), 250); // once the new editor's layout reaches it

		// Showing the dock again puts the remembered position back once the layout settles,
		// also after switching scenes while it was hidden.
		for (bool switchWhileHidden : {false, true}) {
			note.dock->hide();
			if (switchWhileHidden) {
				note.show("B");
				note.show("A");
			} else {
				note.bar()->setValue(10);
			}
			note.dock->show();
			QTRY_COMPARE(note.bar()->value(), 250);
		}
	}

	void readingPositionsOfLongNotesWaitForTheLayout()
	{
		test::NoteDock note(test::numberedLines(12000));
		QTextDocument *document = note.editor()->document();
		// Lay the whole note out now; the scroll range follows once the size change arrives.
		document->documentLayout()->blockBoundingRect(document->lastBlock());
		const int full = int(document->documentLayout()->documentSize().height());
		QTRY_VERIFY(note.bar()->maximum() > full - note.editor()->viewport()->height() - 50);
		const int deep = note.bar()->maximum() - 10;
		note.bar()->setValue(deep);
		note.show("B");
		// Qt lays out a freshly loaded long note in steps; the position is kept until it fits,
		// also across a switch before the layout got there.
		note.show("A");
		QVERIFY(note.bar()->maximum() < deep);
		note.show("B");
		note.show("A");
		QTRY_COMPARE(note.bar()->value(), deep);
	}

	void lockAndRemoteEditingMakeTheEditorReadOnly()
	{
		test::NoteDock note;
		note.type(QStringLiteral("draft"));
		note.dock->setLocked(true);
		QCOMPARE(storedIn(QStringLiteral("A.json")), QStringLiteral("draft")); // locking saves
		const QString lockedLook = note.widget<QLabel>("sceneLabel")->styleSheet();
		note.type(QStringLiteral("x"));
		QCOMPARE(note.plain(), QStringLiteral("draft"));
		note.dock->setRemoteEditing(true);
		QCOMPARE(note.editor()->toolTip(), text("RemoteEditing"));
		note.dock->setLocked(false);
		QVERIFY(note.editor()->isReadOnly()); // still held by the remote client
		QVERIFY(note.widget<QLabel>("sceneLabel")->styleSheet() != lockedLook);
		note.dock->setRemoteEditing(false);
		QVERIFY(!note.editor()->isReadOnly() && note.editor()->toolTip().isEmpty());

		note.dock->setLocked(true); // read back at start
		note.restart();
		note.show("A");
		QVERIFY(note.dock->isLocked() && note.editor()->isReadOnly());
	}

	void remoteNotesAreStoredAndShown()
	{
		test::NoteDock note;
		QVERIFY(note.dock->applyRemoteNote(note.scene("B"), QStringLiteral("<p>from the phone</p>")));
		QCOMPARE(note.stored("B"), QStringLiteral("from the phone"));
		QCOMPARE(note.plain(), QString());
		note.type(QStringLiteral("local"));
		QVERIFY(note.dock->applyRemoteNote(note.scene("A"), QStringLiteral("<p>remote A</p>")));
		QCOMPARE(note.plain(), QStringLiteral("remote A"));
		QVERIFY(!note.dock->isDirty());
		QCOMPARE(note.stored("A"), QStringLiteral("remote A"));
		// A failed remote save reports and changes nothing.
		const QString path = notePath(QStringLiteral("A.json"));
		QVERIFY(QFile::remove(path) && QDir().mkpath(path));
		QVERIFY(!note.dock->applyRemoteNote(note.scene("A"), QStringLiteral("<p>lost?</p>")));
		QVERIFY(!note.widget<QLabel>("saveError")->isHidden());
		QCOMPARE(note.plain(), QStringLiteral("remote A"));
	}

	void restoreHoldsEventsAndFollowsAfterwards()
	{
		test::NoteDock note;
		note.dock->beginRestore();
		note.type(QStringLiteral("ignored"));
		QVERIFY(!note.dock->isDirty());
		note.show("B");
		obs_source_set_name(note.scene("A"), "A2");
		QCoreApplication::processEvents();
		QCOMPARE(note.label("sceneLabel"), QStringLiteral("A"));
		QString error; // the restore writes A's note behind the dock's back
		QVERIFY(note.dock->noteStore().saveNote(note.scene("A"), QStringLiteral("<p>restored</p>"), error));
		note.dock->endRestore();
		QCOMPARE(note.label("sceneLabel"), QStringLiteral("B"));
		note.show("A");
		QCOMPARE(note.plain(), QStringLiteral("restored"));
	}

	void editsOfADeletedSceneAreKept()
	{
		test::NoteDock note;
		const QString uuid = note.uuid("A");
		note.type(QStringLiteral("saved once"));
		QVERIFY(note.dock->saveNote(true, true));
		note.type(QStringLiteral(" then more"));
		// Deleted within the autosave delay; someone still holds it, so it is removed but alive.
		const OBSSourceAutoRelease held = obs_source_get_ref(note.scene("A"));
		note.remove("A");
		note.show("B");
		QCOMPARE(note.label("sceneLabel"), QStringLiteral("B"));
		QCOMPARE(note.status(), text("DeletedSceneNoteSaved").arg(notePath(QStringLiteral("A.json"))));
		QCOMPARE(recordAt(QStringLiteral("A.json")).sceneId, uuid);
		QCOMPARE(recordAt(QStringLiteral("A.json")).sceneName, QStringLiteral("A"));
		QCOMPARE(storedIn(QStringLiteral("A.json")), QStringLiteral("saved once then more"));

		// Never saved before: a fresh file under its last name, even when the timer finds it gone.
		QVERIFY(test::writeBytes(notePath(QStringLiteral("Fresh.json")), "someone else's"));
		const QString fresh = note.uuid("Fresh");
		note.show("Fresh");
		note.type(QStringLiteral("new scene"));
		note.remove("Fresh");
		note.dock->autosaveTimer().start(0);
		QTRY_VERIFY(!note.dock->isDirty());
		QCOMPARE(recordAt(QStringLiteral("Fresh_2.json")).sceneId, fresh);
		QCOMPARE(storedIn(QStringLiteral("Fresh_2.json")), QStringLiteral("new scene"));
		QCOMPARE(fileBytes(notePath(QStringLiteral("Fresh.json"))), QByteArray("someone else's"));
		QVERIFY(note.widget<QLabel>("saveError")->isHidden());
		note.show("B");
		QCOMPARE(note.label("sceneLabel"), QStringLiteral("B"));
	}
};

QUILLMAR_OBS_TEST_MAIN(SceneNotesTest)
#include "tst_scene_notes.moc"
