#include "dock/dock.h"
#include "editor/editor.h"
#include "fake_frontend.h"
#include "module/module.h"
#include "module/text.h"
#include "obs_test_env.h"
#include "storage/note_store.h"
#include "test_util.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMainWindow>
#include <QScrollBar>
#include <QSettings>
#include <QTimer>
#include <QTextBlock>

#include <memory>

using namespace quillmar;

namespace {

using test::fileBytes;
using test::link;
using test::notePath;
using test::notesDir;

NoteFileRecord recordAt(const QString &path)
{
	NoteFileRecord record;
	QString error;
	parseNoteFile(fileBytes(path), record, error);
	return record;
}

// The plain text of the note stored for a file, or a marker when there is none.
QString storedText(const QString &file)
{
	if (!QFile::exists(notePath(file)))
		return QStringLiteral("<no file>");
	QTextDocument doc;
	doc.setHtml(recordAt(notePath(file)).html);
	return doc.toPlainText();
}

QString numberedLines(int count)
{
	QStringList paragraphs;
	for (int i = 0; i < count; ++i)
		paragraphs << QStringLiteral("<p>line %1</p>").arg(i);
	return paragraphs.join(QString());
}

} // namespace

class SceneNotesTest : public QObject {
	Q_OBJECT

	Dock *dock() const { return module::dock(); }
	Editor *editor() const { return dock()->findChild<Editor *>(QStringLiteral("noteEditor")); }
	QLabel *label(const char *name) const { return dock()->findChild<QLabel *>(QString::fromLatin1(name)); }
	QString status() const { return label("saveStatus")->toolTip(); }
	QString sceneLabel() const { return label("sceneLabel")->text(); }
	int scrollPosition() const { return editor()->verticalScrollBar()->value(); }

	void type(const QString &keys)
	{
		editor()->moveCursor(QTextCursor::End);
		QTest::keyClicks(editor(), keys);
	}

	void loadModule()
	{
		QVERIFY(module::load());
		dock()->resize(700, 500);
		fake::mainWindow()->resize(800, 600);
		fake::mainWindow()->show();
		dock()->show(); // as the host's dock widget does
	}

	void restartModule()
	{
		module::unload();
		fake::reset();
		loadModule();
	}

private Q_SLOTS:
	void init()
	{
		test::resetHost();
		loadModule();
	}

	void cleanup()
	{
		module::unload();
		fake::reset();
		fake::mainWindow()->hide();
	}

	void followsProgramAndPreviewScenes()
	{
		QCOMPARE(sceneLabel(), text("NoScene"));
		QVERIFY(!editor()->isEnabled());

		test::Scene a("A"), b("B"), c("C");
		fake::setProgramScene(a.source());
		QCOMPARE(sceneLabel(), QStringLiteral("A"));
		QCOMPARE(dock()->currentSceneUuid(), a.uuid());
		QVERIFY(editor()->isEnabled() && !editor()->isReadOnly());
		QCOMPARE(status(), text("Loaded"));

		fake::setPreviewScene(b.source(), false);
		fake::setStudioMode(true);
		QCOMPARE(sceneLabel(), QStringLiteral("B"));
		fake::setPreviewScene(c.source());
		QCOMPARE(sceneLabel(), QStringLiteral("C"));
		fake::setProgramScene(b.source()); // the program changes, the preview stays shown
		QCOMPARE(sceneLabel(), QStringLiteral("C"));
		fake::setStudioMode(false);
		QCOMPARE(sceneLabel(), QStringLiteral("B"));

		fake::setProgramScene(nullptr);
		QCOMPARE(sceneLabel(), text("NoScene"));
		QCOMPARE(status(), text("SelectScene"));
		QVERIFY(!editor()->isEnabled());
		QVERIFY(dock()->currentSceneUuid().isEmpty());
	}

	void editsEndUpInTheirScenesFiles()
	{
		test::Scene a("A"), b("B");
		fake::setProgramScene(a.source());
		type(QStringLiteral("alpha"));
		QCOMPARE(status(), text("Saving"));
		const int saves = fake::frontendSaveCount();

		fake::setProgramScene(b.source()); // switching saves first
		QCOMPARE(storedText(QStringLiteral("A.json")), QStringLiteral("alpha"));
		QCOMPARE(link(a.source()).value(QStringLiteral("file")).toString(), QStringLiteral("A.json"));
		QCOMPARE(fake::frontendSaveCount(), saves + 1); // the new link must reach the collection
		QCOMPARE(editor()->toPlainText(), QString());

		type(QStringLiteral("beta"));
		dock()->autosaveTimer().start(0);
		QTRY_COMPARE(storedText(QStringLiteral("B.json")), QStringLiteral("beta"));
		QCOMPARE(status(), text("SavedNote"));
		QVERIFY(!dock()->isDirty());
		QCOMPARE(QDir(notesDir()).entryList(QDir::Files).size(), 2);
		// Same link again: no collection save for plain edits.
		const int linked = fake::frontendSaveCount();
		type(QStringLiteral("!"));
		QVERIFY(dock()->saveNote(true, true));
		QCOMPARE(fake::frontendSaveCount(), linked);

		fake::setProgramScene(a.source());
		QCOMPARE(editor()->toPlainText(), QStringLiteral("alpha"));
		QVERIFY(!dock()->isDirty()); // loading is not an edit
	}

	// The test ends the autosave delay itself: every edit restarts it, and only its end writes.
	void burstOfEditsIsWrittenOnce()
	{
		test::Scene a("A");
		fake::setProgramScene(a.source());
		QTimer &delay = dock()->autosaveTimer();
		for (int i = 0; i < 6; ++i) {
			delay.stop();
			type(QString(QChar(u'a' + i)));
			QVERIFY(delay.isActive());
			QCoreApplication::processEvents();
			QVERIFY2(!QFile::exists(notePath(QStringLiteral("A.json"))), "written during the burst");
		}
		delay.start(0);
		QTRY_COMPARE(storedText(QStringLiteral("A.json")), QStringLiteral("abcdef"));
		QVERIFY(!delay.isActive() && !dock()->isDirty());
	}

	void hostSaveHideAndExitSaveTheNote()
	{
		test::Scene a("A");
		fake::setProgramScene(a.source());
		type(QStringLiteral("one"));
		const int saves = fake::frontendSaveCount();
		test::hostSave();
		QCOMPARE(storedText(QStringLiteral("A.json")), QStringLiteral("one"));
		// The new link missed the data being saved: the collection is saved again afterwards, once.
		QCOMPARE(fake::frontendSaveCount(), saves);
		QCoreApplication::processEvents();
		QCoreApplication::processEvents();
		QCOMPARE(fake::frontendSaveCount(), saves + 1);

		type(QStringLiteral(" two"));
		dock()->hide();
		QCOMPARE(storedText(QStringLiteral("A.json")), QStringLiteral("one two"));
		dock()->show();

		type(QStringLiteral(" three"));
		fake::emitEvent(OBS_FRONTEND_EVENT_EXIT);
		QCOMPARE(storedText(QStringLiteral("A.json")), QStringLiteral("one two three"));
		// Nothing is followed or saved after the exit.
		type(QStringLiteral(" four"));
		fake::setProgramScene(nullptr);
		QCOMPARE(sceneLabel(), QStringLiteral("A"));
		QCOMPARE(storedText(QStringLiteral("A.json")), QStringLiteral("one two three"));
	}

	void failedSaveKeepsTheNoteAndRefusesTheSwitch()
	{
		test::Scene a("A"), b("B");
		fake::setProgramScene(a.source());
		type(QStringLiteral("first"));
		QVERIFY(dock()->saveNote(true, true));
		const QString path = notePath(QStringLiteral("A.json"));
		const QByteArray saved = fileBytes(path);
		const QJsonObject savedLink = link(a.source());

		// A directory where the note file goes: the save cannot replace it.
		QVERIFY(QFile::rename(path, path + QStringLiteral(".moved")));
		QVERIFY(QDir().mkpath(path + QStringLiteral("/blocker")));
		type(QStringLiteral(" second"));
		fake::setProgramScene(b.source());
		QCOMPARE(dock()->currentSceneUuid(), a.uuid());
		QCOMPARE(editor()->toPlainText(), QStringLiteral("first second"));
		QVERIFY(dock()->isDirty());
		QVERIFY(!label("saveError")->isHidden());
		QCOMPARE(status(), text("NoteSaveFailed") + QLatin1Char(' ') + label("saveError")->toolTip());
		QVERIFY(QFileInfo(path).isDir());
		QCOMPARE(link(a.source()), savedLink);
		QCOMPARE(fileBytes(path + QStringLiteral(".moved")), saved);

		// The next trigger (here the host saving) tries again and then lets the switch through.
		QVERIFY(QDir(path).removeRecursively());
		test::hostSave();
		QVERIFY(!dock()->isDirty());
		QVERIFY(label("saveError")->isHidden());
		QCOMPARE(storedText(QStringLiteral("A.json")), QStringLiteral("first second"));
		fake::setProgramScene(b.source());
		QCOMPARE(sceneLabel(), QStringLiteral("B"));
	}

	void noteOverTheLimitsIsNotSaved()
	{
		test::Scene a("A"), b("B");
		fake::setProgramScene(a.source());
		// Put the editor over a limit behind its own checks, as a bad import would.
		editor()->textCursor().insertText(QString(10001, QLatin1Char('x')));
		fake::setProgramScene(b.source());
		QCOMPARE(sceneLabel(), QStringLiteral("A"));
		QCOMPARE(status(), text("TextLimit"));
		QVERIFY(!QFile::exists(notePath(QStringLiteral("A.json"))));
	}

	void unreadableNotesAreLoadErrors_data()
	{
		QTest::addColumn<QString>("kind");
		QTest::addColumn<QString>("key");
		QTest::newRow("malformed") << "malformed" << "BackupInvalid";
		QTest::newRow("paragraph over the limit") << "limit" << "TextLimit";
	}

	void unreadableNotesAreLoadErrors()
	{
		QFETCH(QString, kind);
		QFETCH(QString, key);
		test::Scene a("A"), b("B");
		const QString path = notePath(QStringLiteral("A.json"));
		const QString tooLong(10001, QLatin1Char('x'));
		QString error;
		QVERIFY(dock()->noteStore().saveNote(a.source(), QStringLiteral("<p>mine</p>"), error));
		if (kind == QLatin1String("malformed"))
			QVERIFY(test::writeBytes(path, "{\"format\":\"OBS-Quillmar\",\"version\":1"));
		else
			QVERIFY(test::writeBytes(path, encodeNoteFile(a.uuid(), QStringLiteral("A"), QStringLiteral("<p>%1</p>").arg(tooLong))));
		const QByteArray before = fileBytes(path);

		fake::setProgramScene(a.source());
		QVERIFY(dock()->hasLoadError());
		QVERIFY(status().startsWith(text(key.toUtf8().constData())));
		QCOMPARE(editor()->placeholderText(), status());
		QVERIFY(editor()->isReadOnly());
		type(QStringLiteral("typed"));
		QCOMPARE(editor()->toPlainText(), QString());
		QVERIFY(!dock()->isDirty());
		// Host saves, hides, unlocking, renames and leaving the scene never overwrite it.
		test::hostSave();
		dock()->hide();
		dock()->show();
		dock()->setLocked(true);
		dock()->setLocked(false);
		QVERIFY(editor()->isReadOnly());
		QCOMPARE(fileBytes(path), before);
		obs_source_set_name(a.source(), "A renamed");
		QTRY_COMPARE(sceneLabel(), QStringLiteral("A renamed"));
		QVERIFY(dock()->hasLoadError());
		fake::setProgramScene(b.source());
		if (kind == QLatin1String("limit")) // readable, only too long to show: a rename moves it whole
			QCOMPARE(storedText(QStringLiteral("A renamed.json")), tooLong);
		else
			QCOMPARE(fileBytes(path), before);

		// Back on a readable scene everything is normal again.
		QVERIFY(!dock()->hasLoadError());
		QVERIFY(!editor()->isReadOnly());
		QVERIFY(editor()->placeholderText().isEmpty());

		// Mended by hand: showing the scene again reads the file again.
		fake::setProgramScene(a.source());
		QVERIFY(dock()->hasLoadError());
		const QString linked = notePath(link(a.source()).value(QStringLiteral("file")).toString());
		QVERIFY(test::writeBytes(linked, encodeNoteFile(a.uuid(), QStringLiteral("A renamed"), QStringLiteral("<p>fixed</p>"))));
		fake::setProgramScene(a.source());
		QVERIFY(!dock()->hasLoadError());
		QCOMPARE(editor()->toPlainText(), QStringLiteral("fixed"));
	}

	void renamesMoveNoteFiles()
	{
		test::Scene a("A"), b("B");
		QString error;
		QVERIFY(dock()->noteStore().saveNote(a.source(), QStringLiteral("<p>alpha</p>"), error));
		fake::setProgramScene(b.source());
		type(QStringLiteral("beta"));
		QVERIFY(dock()->saveNote(true, true));

		// A scene that is not shown: its file moves at once, and the collection is saved.
		int saves = fake::frontendSaveCount();
		obs_source_set_name(a.source(), "Opening");
		QTRY_VERIFY(QFile::exists(notePath(QStringLiteral("Opening.json"))));
		QVERIFY(!QFile::exists(notePath(QStringLiteral("A.json"))));
		QCOMPARE(storedText(QStringLiteral("Opening.json")), QStringLiteral("alpha"));
		QCOMPARE(link(a.source()).value(QStringLiteral("file")).toString(), QStringLiteral("Opening.json"));
		QCOMPARE(fake::frontendSaveCount(), saves + 1);
		QCOMPARE(sceneLabel(), QStringLiteral("B"));

		// The shown scene, dirty: the pending edits are saved under the new name.
		type(QStringLiteral(" more"));
		saves = fake::frontendSaveCount();
		obs_source_set_name(b.source(), "talk");
		QTRY_COMPARE(sceneLabel(), QStringLiteral("talk"));
		QVERIFY(!dock()->isDirty());
		QVERIFY(!QFile::exists(notePath(QStringLiteral("B.json"))));
		QCOMPARE(storedText(QStringLiteral("talk.json")), QStringLiteral("beta more"));
		QCOMPARE(recordAt(notePath(QStringLiteral("talk.json"))).sceneName, QStringLiteral("talk"));
		QCOMPARE(link(b.source()).value(QStringLiteral("name")).toString(), QStringLiteral("talk"));
		QCOMPARE(fake::frontendSaveCount(), saves + 1);
	}

	void collectionChangeSavesAndWaitsForLoading()
	{
		test::Scene a("A");
		fake::setProgramScene(a.source());
		QVERIFY(!dock()->isCollectionReady());
		fake::emitEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
		QVERIFY(dock()->isCollectionReady());
		type(QStringLiteral("before the change"));

		fake::emitEvent(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGING);
		QCOMPARE(storedText(QStringLiteral("A.json")), QStringLiteral("before the change"));
		QVERIFY(!dock()->isCollectionReady());
		QCOMPARE(sceneLabel(), text("NoScene"));
		QVERIFY(!editor()->isEnabled());

		test::Scene other("Other");
		fake::setProgramScene(other.source(), false);
		fake::emitEvent(OBS_FRONTEND_EVENT_SCENE_COLLECTION_CHANGED);
		QCOMPARE(sceneLabel(), QStringLiteral("Other"));
		QVERIFY(dock()->isCollectionReady());
	}

	void readingPositionsSurviveACleanShutdown()
	{
		test::Scene a("A"), b("B");
		fake::setProgramScene(a.source());
		QVERIFY(dock()->applyRemoteNote(a.source(), numberedLines(300)));
		QTRY_VERIFY(editor()->verticalScrollBar()->maximum() > 400);
		editor()->verticalScrollBar()->setValue(400);
		fake::setProgramScene(b.source());
		QCOMPARE(scrollPosition(), 0);
		fake::setProgramScene(a.source());
		QCOMPARE(scrollPosition(), 400); // remembered in memory

		editor()->verticalScrollBar()->setValue(250);
		module::unload(); // shut-down writes the positions
		QSettings settings(test::moduleConfigDir() + QStringLiteral("/settings.ini"), QSettings::IniFormat);
		QCOMPARE(settings.value(QStringLiteral("readingPositions/") + a.uuid()).toInt(), 250);
		QCOMPARE(settings.value(QStringLiteral("readingPositions/") + b.uuid()).toInt(), 0);

		fake::reset();
		loadModule();
		fake::setProgramScene(a.source());
		// Applied as soon as the new editor's layout reaches it.
		QTRY_COMPARE(scrollPosition(), 250);

		// Showing the dock again puts the remembered position back once the layout settles.
		dock()->hide();
		editor()->verticalScrollBar()->setValue(10);
		dock()->show();
		QCOMPARE(scrollPosition(), 10);
		QTRY_COMPARE(scrollPosition(), 250);

		// Switching scenes while the dock is hidden keeps the positions.
		dock()->hide();
		fake::setProgramScene(b.source());
		fake::setProgramScene(a.source());
		dock()->show();
		QTRY_COMPARE(scrollPosition(), 250);
	}

	void readingPositionsOfLongNotesWaitForTheLayout()
	{
		test::Scene a("A"), b("B");
		fake::setProgramScene(a.source());
		QVERIFY(dock()->applyRemoteNote(a.source(), numberedLines(12000)));
		QScrollBar *bar = editor()->verticalScrollBar();
		// Lay the whole note out now; the scroll range follows once the size change arrives.
		editor()->document()->documentLayout()->blockBoundingRect(editor()->document()->lastBlock());
		const int full = int(editor()->document()->documentLayout()->documentSize().height());
		QTRY_VERIFY(bar->maximum() > full - editor()->viewport()->height() - 50);
		const int deep = bar->maximum() - 10;
		bar->setValue(deep);
		fake::setProgramScene(b.source());
		// Qt lays out a freshly loaded long note in steps; the position is kept until it fits.
		fake::setProgramScene(a.source());
		QVERIFY(bar->maximum() < deep);
		fake::setProgramScene(b.source()); // a switch before the layout got there keeps it too
		fake::setProgramScene(a.source());
		QTRY_COMPARE(bar->value(), deep);
	}

	void lockAndRemoteEditingMakeTheEditorReadOnly()
	{
		test::Scene a("A");
		fake::setProgramScene(a.source());
		type(QStringLiteral("draft"));
		dock()->setLocked(true);
		QCOMPARE(storedText(QStringLiteral("A.json")), QStringLiteral("draft")); // locking saves
		const QString lockedLook = label("sceneLabel")->styleSheet();
		type(QStringLiteral("x"));
		QCOMPARE(editor()->toPlainText(), QStringLiteral("draft"));

		dock()->setRemoteEditing(true);
		QCOMPARE(editor()->toolTip(), text("RemoteEditing"));
		dock()->setLocked(false);
		QVERIFY(editor()->isReadOnly()); // still held by the remote client
		QVERIFY(label("sceneLabel")->styleSheet() != lockedLook);
		dock()->setRemoteEditing(false);
		QVERIFY(!editor()->isReadOnly());
		QVERIFY(editor()->toolTip().isEmpty());

		// The lock is read back at start.
		dock()->setLocked(true);
		restartModule();
		fake::setProgramScene(a.source());
		QVERIFY(dock()->isLocked());
		QVERIFY(editor()->isReadOnly());
	}

	void remoteNotesAreStoredAndShown()
	{
		test::Scene a("A"), b("B");
		fake::setProgramScene(a.source());
		QVERIFY(dock()->applyRemoteNote(b.source(), QStringLiteral("<p>from the phone</p>")));
		QCOMPARE(storedText(QStringLiteral("B.json")), QStringLiteral("from the phone"));
		QCOMPARE(editor()->toPlainText(), QString());

		type(QStringLiteral("local"));
		QVERIFY(dock()->applyRemoteNote(a.source(), QStringLiteral("<p>remote A</p>")));
		QCOMPARE(editor()->toPlainText(), QStringLiteral("remote A"));
		QVERIFY(!dock()->isDirty());
		QCOMPARE(storedText(QStringLiteral("A.json")), QStringLiteral("remote A"));

		// A failed remote save reports and changes nothing.
		const QString path = notePath(QStringLiteral("A.json"));
		QVERIFY(QFile::remove(path) && QDir().mkpath(path));
		QVERIFY(!dock()->applyRemoteNote(a.source(), QStringLiteral("<p>lost?</p>")));
		QVERIFY(!label("saveError")->isHidden());
		QCOMPARE(editor()->toPlainText(), QStringLiteral("remote A"));
	}

	void restoreHoldsEventsAndFollowsAfterwards()
	{
		test::Scene a("A"), b("B");
		fake::setProgramScene(a.source());
		dock()->beginRestore();
		type(QStringLiteral("ignored"));
		QVERIFY(!dock()->isDirty());
		fake::setProgramScene(b.source());
		obs_source_set_name(a.source(), "A2");
		QCoreApplication::processEvents();
		QCOMPARE(sceneLabel(), QStringLiteral("A"));
		// The restore wrote A's note behind the dock's back.
		QString error;
		QVERIFY(dock()->noteStore().saveNote(a.source(), QStringLiteral("<p>restored</p>"), error));
		dock()->endRestore();
		QCOMPARE(sceneLabel(), QStringLiteral("B"));
		fake::setProgramScene(a.source());
		QCOMPARE(editor()->toPlainText(), QStringLiteral("restored"));
	}

	void editsOfADeletedSceneAreKept()
	{
		auto a = std::make_unique<test::Scene>("A");
		test::Scene b("B");
		const QString uuid = a->uuid();
		fake::setProgramScene(a->source());
		type(QStringLiteral("saved once"));
		QVERIFY(dock()->saveNote(true, true));
		type(QStringLiteral(" then more"));
		// Deleted within the autosave delay; someone still holds it, so it is removed but alive.
		const OBSSourceAutoRelease held = obs_source_get_ref(a->source());
		a.reset();
		fake::setProgramScene(b.source());
		QCOMPARE(sceneLabel(), QStringLiteral("B"));
		QCOMPARE(status(), text("DeletedSceneNoteSaved").arg(notePath(QStringLiteral("A.json"))));
		const NoteFileRecord record = recordAt(notePath(QStringLiteral("A.json")));
		QCOMPARE(record.sceneId, uuid);
		QCOMPARE(record.sceneName, QStringLiteral("A"));
		QCOMPARE(storedText(QStringLiteral("A.json")), QStringLiteral("saved once then more"));

		// Never saved before: a fresh file under its last name, even when the timer finds it gone.
		QVERIFY(test::writeBytes(notePath(QStringLiteral("Fresh.json")), "someone else's"));
		auto c = std::make_unique<test::Scene>("Fresh");
		const QString cUuid = c->uuid();
		fake::setProgramScene(c->source());
		type(QStringLiteral("new scene"));
		c.reset();
		dock()->autosaveTimer().start(0);
		QTRY_VERIFY(!dock()->isDirty());
		QCOMPARE(recordAt(notePath(QStringLiteral("Fresh_2.json"))).sceneId, cUuid);
		QCOMPARE(storedText(QStringLiteral("Fresh_2.json")), QStringLiteral("new scene"));
		QCOMPARE(fileBytes(notePath(QStringLiteral("Fresh.json"))), QByteArray("someone else's"));
		QVERIFY(label("saveError")->isHidden());
		fake::setProgramScene(b.source());
		QCOMPARE(sceneLabel(), QStringLiteral("B"));
	}
};

QUILLMAR_OBS_TEST_MAIN(SceneNotesTest)
#include "tst_scene_notes.moc"
