#include "dock/dock.h"
#include "editor/editor.h"
#include "fake_frontend.h"
#include "module/module.h"
#include "module/text.h"
#include "obs_test_env.h"
#include "storage/note_store.h"

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
#include <QTextBlock>

#include <memory>
#include <sys/stat.h>

using namespace quillmar;

namespace {

QString notesDir()
{
	return test::moduleConfigDir() + QStringLiteral("/notes");
}

QString notePath(const QString &file)
{
	return notesDir() + QLatin1Char('/') + file;
}

QByteArray fileBytes(const QString &path)
{
	QFile f(path);
	return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
	QDir().mkpath(QFileInfo(path).absolutePath());
	QFile f(path);
	QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
	QCOMPARE(f.write(bytes), bytes.size());
}

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

QJsonObject link(obs_source_t *scene)
{
	obs_data_t *settings = obs_source_get_private_settings(scene);
	obs_data_t *object = obs_data_get_obj(settings, "quillmar");
	const QByteArray json = object ? QByteArray(obs_data_get_json(object)) : QByteArray();
	obs_data_release(object);
	obs_data_release(settings);
	return QJsonDocument::fromJson(json).object();
}

void hostSave()
{
	obs_data_t *data = obs_data_create();
	fake::emitSave(data, true);
	obs_data_release(data);
}

QString numberedLines(int count)
{
	QStringList paragraphs;
	for (int i = 0; i < count; ++i)
		paragraphs << QStringLiteral("<p>line %1</p>").arg(i);
	return paragraphs.join(QString());
}

ino_t inodeOf(const QString &path)
{
	struct stat st;
	return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
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
		QTRY_COMPARE_WITH_TIMEOUT(storedText(QStringLiteral("B.json")), QStringLiteral("beta"), 3000);
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

	void burstOfEditsIsWrittenOnce()
	{
		test::Scene a("A");
		fake::setProgramScene(a.source());
		const QString path = notePath(QStringLiteral("A.json"));
		for (int i = 0; i < 6; ++i) {
			type(QString(QChar(u'a' + i)));
			QTest::qWait(150);
			QVERIFY2(!QFile::exists(path), "written during the burst");
		}
		QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path), 3000);
		QCOMPARE(storedText(QStringLiteral("A.json")), QStringLiteral("abcdef"));
		const ino_t written = inodeOf(path); // every save replaces the file
		QTest::qWait(800);
		QCOMPARE(inodeOf(path), written);
	}

	void hostSaveHideAndExitSaveTheNote()
	{
		test::Scene a("A");
		fake::setProgramScene(a.source());
		type(QStringLiteral("one"));
		const int saves = fake::frontendSaveCount();
		hostSave();
		QCOMPARE(storedText(QStringLiteral("A.json")), QStringLiteral("one"));
		// The new link missed the data being saved: the collection is saved again afterwards, once.
		QCOMPARE(fake::frontendSaveCount(), saves);
		QTRY_COMPARE(fake::frontendSaveCount(), saves + 1);
		QTest::qWait(20);
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
		hostSave();
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
		QTest::newRow("another scene's file") << "foreign" << "NoteSceneMismatch";
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
		if (kind == QLatin1String("foreign"))
			writeBytes(path, encodeNoteFile(b.uuid(), QStringLiteral("B"), QStringLiteral("<p>theirs</p>")));
		else if (kind == QLatin1String("malformed"))
			writeBytes(path, "{\"format\":\"OBS-Quillmar\",\"version\":1");
		else
			writeBytes(path, encodeNoteFile(a.uuid(), QStringLiteral("A"), QStringLiteral("<p>%1</p>").arg(tooLong)));
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
		hostSave();
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
		int maximum = -1;
		while (maximum != bar->maximum()) {
			maximum = bar->maximum();
			QTest::qWait(300);
		}
		const int deep = maximum - 10;
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
		QCOMPARE(label("sceneLabel")->styleSheet(), QStringLiteral("font-weight: bold; color: palette(highlight);"));
		type(QStringLiteral("x"));
		QCOMPARE(editor()->toPlainText(), QStringLiteral("draft"));

		dock()->setRemoteEditing(true);
		QCOMPARE(editor()->toolTip(), text("RemoteEditing"));
		dock()->setLocked(false);
		QVERIFY(editor()->isReadOnly()); // still held by the remote client
		QCOMPARE(label("sceneLabel")->styleSheet(), QStringLiteral("font-weight: bold;"));
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
		QTest::qWait(20);
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
		a.reset(); // deleted within the autosave delay
		fake::setProgramScene(b.source());
		QCOMPARE(sceneLabel(), QStringLiteral("B"));
		QCOMPARE(status(), text("DeletedSceneNoteSaved").arg(notePath(QStringLiteral("A.json"))));
		const NoteFileRecord record = recordAt(notePath(QStringLiteral("A.json")));
		QCOMPARE(record.sceneId, uuid);
		QCOMPARE(record.sceneName, QStringLiteral("A"));
		QCOMPARE(storedText(QStringLiteral("A.json")), QStringLiteral("saved once then more"));

		// Never saved before: a fresh file under its last name, even when the timer finds it gone.
		writeBytes(notePath(QStringLiteral("Fresh.json")), "someone else's");
		auto c = std::make_unique<test::Scene>("Fresh");
		const QString cUuid = c->uuid();
		fake::setProgramScene(c->source());
		type(QStringLiteral("new scene"));
		c.reset();
		QTRY_VERIFY_WITH_TIMEOUT(!dock()->isDirty(), 3000);
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
