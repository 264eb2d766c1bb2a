// Import, export, backup and restore, auto-clear, the context menu and the about dialog, driven
// the way a person drives them: file dialogs, questions and menus answered by a script.
#include "note_dock.h"
#include "documents/note_document.h"
#include "documents/zip.h"
#include "hostile_images.h"
#include "json_rows.h"
#include "module/hotkeys.h"
#include "remote/remote.h"
#include "storage/backup.h"

using namespace quillmar;
using namespace Qt::StringLiterals;

namespace {

// The note dock with scripted dialogs and a folder for the files a person picks.
struct CommandDock : test::NoteDock {
	explicit CommandDock(const QString &html = QString()) : NoteDock(html) { QApplication::clipboard()->clear(); }
	QString path(const QString &name) const { return files.filePath(name); }
	// The file a person picks next, and their answer to the question that follows.
	void pick(const QString &file, bool yes = true)
	{
		dialogs->openNames << file;
		dialogs->answers << (yes ? QMessageBox::Yes : QMessageBox::No);
	}
	// A stored note that cannot be read, shown with its load error.
	void breakNote()
	{
		QVERIFY(test::writeBytes(test::notePath(u"A.json"_s), "{broken"));
		NoteStore(test::notesDir()).writeSceneLink(scene("A"), {uuid("A"), u"A"_s,
								       test::notePath(u"A.json"_s), QString()});
		fake::setProgramScene(nullptr);
		show("A");
		QVERIFY(dock->hasLoadError());
	}

	QTemporaryDir files;
};

// A Word body with an object the import drops, keeping its text.
const char WordWithObject[] =
	"<?xml version=\"1.0\"?><w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
	"<w:body><w:p><w:r><w:object/><w:t>kept</w:t></w:r></w:p></w:body></w:document>";

} // namespace

class NoteCommandsTest : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void import_data()
	{
		QTest::addColumn<QString>("file");
		QTest::addColumn<QByteArray>("content");
		QTest::addColumn<QString>("note");
		QTest::addColumn<QString>("shown");
		QTest::addColumn<QString>("outcome"); // status, or the warning's title

		const QByteArray pad = QByteArray("<p>ok</p><!--") + QByteArray(24 * 1024 * 1024 - 16, 'x') + "-->";
		QTest::newRow("txt into an empty note asks nothing")
			<< "a.txt" << QByteArray("<b>one</b>\ntwo") << QString() << "<b>one</b>\ntwo" << text("SavedNote");
		QTest::newRow("html replaces after yes") << "a.html" << QByteArray("<p>new <b>bold</b></p>") << "old"
							 << "new bold" << text("SavedNote");
		QTest::newRow("no keeps the note") << "no.html" << QByteArray("<p>new</p>") << "old" << "old" << text("Loaded");
		QTest::newRow("no keeps an unreadable note") << "no.html" << QByteArray("<p>new</p>") << "<broken>" << QString()
							     << text("BackupInvalid");
		QTest::newRow("HTM in capitals is html") << "A.HTM" << QByteArray("<i>x</i>y") << QString() << "xy" << text("SavedNote");
		QTest::newRow("20001 lines refused") << "long.txt" << QByteArray("l\n").repeated(20000) + 'l' << "old"
						     << "old" << text("TextLimit");
		QTest::newRow("exactly 24 MiB is read") << "big.html" << pad << QString() << "ok" << text("SavedNote");
		QTest::newRow("24 MiB and a byte refused") << "bigger.html" << pad + ' ' << "old" << "old" << text("ImportFailed");
		QTest::newRow("a device is refused") << "/dev/zero" << QByteArray() << "old" << "old" << text("ImportFailed");
		QTest::newRow("simplified word shows the notice")
			<< "w.docx" << QByteArray(WordWithObject) << QString() << "kept" << text("WordSimplified");
		QTest::newRow("broken word warns") << "bad.docx" << QByteArray("not a zip") << "old" << "old" << text("WordImportFailed");
	}
	void import()
	{
		QFETCH(QString, file);
		QFETCH(QByteArray, content);
		QFETCH(QString, note);
		QFETCH(QString, shown);
		QFETCH(QString, outcome);
		const bool broken = note == QLatin1String("<broken>");
		CommandDock d(note.isNull() || broken ? QString() : u"<p>%1</p>"_s.arg(note));
		if (broken)
			d.breakNote();
		const QString chosen = file.startsWith(u'/') ? file : d.path(file);
		QString error;
		if (content.startsWith("<?xml"))
			QVERIFY(writeZip(chosen, {{u"word/document.xml"_s, content}}, error));
		else if (!content.isEmpty())
			QVERIFY(test::writeBytes(chosen, content));
		d.pick(chosen, !file.startsWith(QLatin1String("no")));
		d.action("importDocument")->trigger();

		QCOMPARE(d.plain(), shown);
		QCOMPARE(d.stored("A"), broken ? u"<error>"_s : shown);
		if (d.dialogs->log.filter(u"warning:"_s).isEmpty())
			QVERIFY2(d.status().startsWith(outcome), qPrintable(d.status()));
		else
			QVERIFY(d.dialogs->log.last().startsWith(u"warning:"_s + outcome));
		if (!note.isNull() && !broken && shown != note) {
			d.editor()->undo(); // one step back to the note as it was
			QCOMPARE(d.plain(), note);
		}
	}

	void failedSaveRevertsTheImport()
	{
		CommandDock d(u"<p>old</p>"_s);
		// The note's file turns into a symbolic link, which the store never writes through.
		const QString target = test::notePath(u"A.json"_s);
		QVERIFY(QFile::remove(target));
		QVERIFY(QFile::link(d.path(u"elsewhere.json"_s), target));
		QVERIFY(test::writeBytes(d.path(u"in.html"_s), "<p>new</p>"));
		d.pick(d.path(u"in.html"_s));
		d.dock->importDocument();
		QCOMPARE(d.plain(), u"old"_s);
		QVERIFY(!d.dock->isDirty());
		QVERIFY(d.status().startsWith(text("NoteSaveFailed")));
		QVERIFY(!QFile::exists(d.path(u"elsewhere.json"_s)));
	}

	void exportNote_data() { test::jsonRows("dock/export_names"); }
	void exportNote()
	{
		QFETCH(QJsonObject, row);
		const QString written = row["written"].toString();
		CommandDock d(u"<p>one <b>two</b> \u25C6[cue]</p><ul><li>three</li></ul>"_s);
		const QString before = d.editor()->toHtml();
		d.dialogs->saveNames << d.path(row["file"].toString());
		d.dialogs->chosenFilter = row["filter"].toString();
		d.action("exportDocument")->trigger();
		QCOMPARE(d.status(), text("Exported"));
		if (written.endsWith(QLatin1String(".txt"))) {
			QCOMPARE(QString::fromUtf8(test::fileBytes(d.path(written))), d.plain());
			return;
		}
		// What goes out as HTML comes back as the same note.
		d.pick(d.path(written));
		d.dock->importDocument();
		QCOMPARE(d.editor()->toHtml(), before);
	}

	void restore_data()
	{
		QTest::addColumn<bool>("confirm");
		QTest::newRow("confirmed") << true;
		QTest::newRow("cancelled") << false;
	}
	// Three notes in the archive: two scenes whose names sanitise alike, and one scene gone.
	void restore()
	{
		QFETCH(bool, confirm);
		CommandDock d(u"<p>shown</p>"_s);
		QStringList notes;
		const auto note = [&](const QString &uuid, const char *name, const char *body) {
			notes << d.path(QString::number(notes.size()) + u".json"_s);
			QVERIFY(test::writeBytes(notes.last(), encodeNoteFile(uuid, QLatin1String(name), QLatin1String(body))));
		};
		note(d.uuid("X?"), "X?", "ex");
		note(u"00000000-0000-4000-8000-000000000000"_s, "Gone", "gone");
		note(d.uuid("X*"), "X*", "why");
		QString error;
		QVERIFY(writeBackup(d.path(u"all.zip"_s), notes, error));

		bool restoringMeanwhile = false, readOnlyMeanwhile = false;
		d.dialogs->onQuestion = [&] {
			// Fires inside the busy dialog's loop while the notes are written.
			QTimer::singleShot(0, d.dock, [&] {
				restoringMeanwhile = d.dock->isRestoring();
				readOnlyMeanwhile = d.editor()->isReadOnly();
				d.dock->runHotkeyAction(HotkeyInsertTime);
			});
		};
		d.pick(d.path(u"all.zip"_s), confirm);
		d.triggerMenuEntry("ctxRestoreBackup");
		QVERIFY(d.dialogs->log.first().endsWith(text("RestorePrompt").arg(2).arg(0)));
		const QStringList files = QDir(test::notesDir()).entryList(QDir::Files);
		if (!confirm) {
			QCOMPARE(files, QStringList{u"A.json"_s});
			return;
		}
		QCOMPARE(d.status(), text("RestoreResult").arg(2).arg(1));
		QCOMPARE(files.size(), 3);
		QCOMPARE(d.stored("X?"), u"ex"_s);
		QCOMPARE(d.stored("X*"), u"why"_s);
		QVERIFY(restoringMeanwhile && readOnlyMeanwhile);
		QVERIFY(!d.dock->isRestoring() && !d.editor()->isReadOnly());
		QCOMPARE(d.plain(), u"shown"_s);
	}

	// Backing up through the dock, then restoring that file after the notes changed.
	void backupThenRestore()
	{
		CommandDock d(u"<p>ay</p>"_s);
		QString error;
		QVERIFY(d.dock->noteStore().saveNote(d.scene("B"), u"<p>bee</p>"_s, error));
		d.dialogs->saveNames << test::notePath(u"inside.zip"_s);
		d.dock->backup(true);
		QVERIFY(d.dialogs->log.last().endsWith(text("BackupChooseFolder")));
		d.dialogs->saveNames << d.path(u"notes"_s); // the extension is added
		d.triggerMenuEntry("ctxBackupAll");
		QCOMPARE(d.status(), text("BackupSaved"));
		d.dialogs->saveNames << d.path(u"one"_s);
		d.dock->backup(false);

		d.editor()->setPlainText(u"changed"_s);
		QVERIFY(d.dock->saveNote(true, true));
		QVERIFY(QFile::remove(d.dock->noteStore().resolveNotePath(d.scene("B"))));
		d.pick(d.path(u"notes.zip"_s));
		d.dock->restoreBackup();
		QCOMPARE(d.status(), text("RestoreResult").arg(2).arg(0));
		QCOMPARE(d.plain(), u"ay"_s);
		QCOMPARE(d.stored("B"), u"bee"_s);

		// A single-note backup goes to the scene shown now, whichever it came from.
		d.show("B");
		d.pick(d.path(u"one.json"_s));
		d.dock->restoreBackup();
		QCOMPARE(d.plain(), u"ay"_s);
		QCOMPARE(d.stored("A"), u"ay"_s);
	}

	void hostileImages_data()
	{
		QTest::addColumn<QString>("entry");
		// Every kind of source is tried in documents_note_document; here each way in once.
		for (const char *entry : {"note file", "import", "restore"})
			QTest::newRow(entry) << QString::fromLatin1(entry);
	}
	// However the note arrives, its image shows as a placeholder and keeps its src on disk.
	void hostileImages()
	{
		QFETCH(QString, entry);
		const test::HostileImages images;
		QVERIFY(images.ready());
		const QString resolved = images.resolve(u"real.png"_s);
		const QString html = test::HostileImages::noteWith(resolved);
		const bool import = entry == QLatin1String("import");
		CommandDock d(entry == QLatin1String("note file") ? html : QString());
		const QString file = d.path(import ? u"in.html"_s : u"one.json"_s);
		QVERIFY(test::writeBytes(file, import ? html.toUtf8() : encodeNoteFile(d.uuid("A"), u"A"_s, html)));
		d.pick(file);
		if (import)
			d.dock->importDocument();
		else if (entry == QLatin1String("restore"))
			d.dock->restoreBackup();
		d.editor()->grab();
		QCOMPARE(d.plain(), u"before \uFFFC after"_s);
		QCOMPARE(d.editor()->document()->resource(QTextDocument::ImageResource, QUrl(resolved)).value<QImage>(),
			 NoteDocument::placeholderImage());
		QString error;
		QVERIFY(d.dock->noteStore().readNote(d.scene("A"), error).contains(resolved.toHtmlEscaped()));
	}

	// One mark per entry in menu order, '+' enabled.
	void contextMenu_data() { test::jsonRows("dock/context_menu"); }
	void contextMenu()
	{
		QFETCH(QJsonObject, row);
		const QString state = row["state"].toString();
		CommandDock d(state == QLatin1String("image") ? u"<p>text</p>"_s : QString());
		if (state == QLatin1String("broken"))
			d.breakNote();
		if (state == QLatin1String("none"))
			fake::setProgramScene(nullptr);
		if (state == QLatin1String("edit") || state == QLatin1String("read")) {
			QTest::keyClicks(d.editor(), u"x"_s);
			d.dock->setLocked(state == QLatin1String("read"));
			d.editor()->selectAll();
		}
		if (state == QLatin1String("image")) {
			auto *mime = new QMimeData;
			mime->setImageData(QImage(4, 4, QImage::Format_RGB32));
			QApplication::clipboard()->setMimeData(mime);
		}
		const QStringList names{"Undo", "Redo", "Cut", "Copy", "Paste", "PastePlain", "Delete", "SelectAll",
					"ConvertBasic", "ClearBody", "BackupCurrent", "BackupAll", "RestoreBackup", "About"};
		QString shown;
		d.dialogs->onMenu = [&](QMenu *menu) {
			for (const QString &name : names)
				shown += menu->findChild<QAction *>(u"ctx"_s + name)->isEnabled() ? u'+' : u'-';
		};
		d.dock->showContextMenu(QPoint(2, 2));
		QCOMPARE(shown, row["enabled"].toString());
	}

	// The entry shows only on a mark, and takes the whole mark in one undoable step.
	void deleteMark()
	{
		CommandDock d(u"<p>before \u25C6[cue] after</p>"_s);
		const auto offered = [&](const QPoint &at) {
			bool found = false;
			d.dialogs->onMenu = [&](QMenu *menu) { found = menu->findChild<QAction *>(u"ctxDeleteMark"_s); };
			d.dock->showContextMenu(at);
			return found;
		};
		QTextCursor at(d.editor()->document());
		at.setPosition(8);
		const QPoint mark = d.editor()->cursorRect(at).center() + QPoint(2, 0);
		QVERIFY(!offered(QPoint(2, 2)) && offered(mark));
		d.triggerMenuEntry(u"ctxDeleteMark"_s, mark);
		QCOMPARE(d.plain(), u"before  after"_s);
		d.editor()->undo();
		QCOMPARE(d.plain(), u"before \u25C6[cue] after"_s);
	}

	// Where the scene is while the pass runs, and whether its note goes.
	void autoClear_data() { test::jsonRows("dock/auto_clear"); }
	void autoClear()
	{
		QFETCH(QJsonObject, row);
		const QString place = row["place"].toString();
		CommandDock d;
		obs_source_t *old = d.scene("Old");
		const QDateTime saved = QDateTime::currentDateTimeUtc();
		QString error;
		QVERIFY(d.dock->noteStore().saveNote(old, u"<p>old</p>"_s, error, saved));
		QDateTime now = saved.addSecs(row["ageHours"].toInt() * 3600);
		d.dock->setAutoClearClock([&now] { return now; });
		fake::setSceneOrder({old, d.scene("Other"), d.scene("Third")});
		if (place == QLatin1String("program")) { // the shown scene is the preview; the old note is on air
			fake::setPreviewScene(d.scene("Third"), false);
			fake::setProgramScene(old, false);
			fake::setStudioMode(true);
			QCOMPARE(d.dock->currentSceneUuid(), d.uuid("Third"));
		} else {
			d.show(place == QLatin1String("shown") ? "Old" : "Other");
		}
		if (place == QLatin1String("phone")) {
			RemoteState &remote = d.dock->remote()->state();
			remote.setViewedScene(remote.open(u"phone"_s), d.uuid("Old"));
		}

		// Set through the about dialog, as a person would.
		d.dialogs->onDialog = [&](QDialog *dialog) {
			dialog->findChild<QSpinBox *>(u"autoClearDays"_s)->setValue(1);
			dialog->findChild<QComboBox *>(u"autoClearScope"_s)->setCurrentIndex(place == QLatin1String("unchosen") ? 0 : 1);
			if (place == QLatin1String("unchosen")) {
				d.dialogs->onDialog = [&](QDialog *chooser) {
					chooser->findChild<QListWidget *>(u"autoClearScenes"_s)->item(1)->setCheckState(Qt::Checked);
					d.dialogs->onDialog = nullptr;
					return int(QDialog::Accepted);
				};
				dialog->findChild<QPushButton *>(u"autoClearChoose"_s)->click();
			}
			dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
			return dialog->result();
		};
		d.triggerMenuEntry("ctxAbout");
		QCOMPARE(d.dock->autoClearDays(), 1);
		fake::emitEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
		if (place == QLatin1String("shown")) // the host moved on, and the dock has not followed yet
			fake::setProgramScene(d.scene("Other"), false);
		auto *timer = d.widget<QTimer>("autoClearTimer");
		QCOMPARE(timer->interval(), 5000);
		// One scene per step, each step handing control back to the event loop for 25 ms.
		for (int step = 0; step < 3; ++step) {
			QVERIFY(QMetaObject::invokeMethod(timer, "timeout"));
			QCOMPARE(timer->interval(), step < 2 ? 25 : 86400000);
		}
		QCOMPARE(d.stored("Old"), row["cleared"].toBool() ? QString() : u"old"_s);
	}
};

QUILLMAR_OBS_TEST_MAIN(NoteCommandsTest)
#include "tst_note_commands.moc"
