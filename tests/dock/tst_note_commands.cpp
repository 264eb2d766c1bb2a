// Import, export, backup and restore, auto-clear, the context menu and the about dialog, driven
// the way a person drives them: file dialogs, questions and menus answered by a script.
#include "note_dock.h"
#include "documents/note_document.h"
#include "documents/zip.h"
#include "hostile_images.h"
#include "test_util.h"
#include "module/hotkeys.h"
#include "remote/remote.h"
#include "storage/backup.h"

using namespace quillmar;
using namespace Qt::StringLiterals;

class NoteCommandsTest : public QObject {
	Q_OBJECT

private Q_SLOTS:
	void import_data() { test::jsonTable("dock/imports.json"); }
	void import()
	{
		QFETCH(QJsonObject, row);
		const QString file = row["file"].toString(), note = row["note"].toString(), shown = row["shown"].toString();
		const bool broken = note == QLatin1String("<broken>");
		test::NoteDock d(broken || note.isEmpty() ? QString() : u"<p>%1</p>"_s.arg(note));
		if (broken)
			d.breakNote();
		// The note's file turns into a symbolic link, which the store never writes through.
		const QString target = test::notePath(u"A.json"_s);
		QVERIFY(!row["blocked"].toBool() || (QFile::remove(target) && QFile::link(d.path(u"elsewhere.json"_s), target)));
		const QString chosen = file.startsWith(u'/') ? file : d.path(file);
		const QByteArray content = row["head"].toString().toUtf8() +
					   row["repeat"].toString().toUtf8().repeated(row["times"].toInt()) + row["content"].toString().toUtf8();
		QString error;
		if (row.contains("word"))
			QVERIFY(writeZip(chosen, {{u"word/document.xml"_s, row["word"].toString().toUtf8()}}, error));
		else if (!content.isEmpty())
			QVERIFY(test::writeBytes(chosen, content));
		d.pick(chosen, !file.startsWith(QLatin1String("no")));
		if (row.contains("meanwhile"))
			d.dialogs->onQuestion = [&] { QVERIFY(d.dock->applyRemoteNote(d.scene("A"), row["meanwhile"].toString())); };
		d.action("importDocument")->trigger();

		QCOMPARE(d.plain(), shown);
		QCOMPARE(d.stored("A"), broken || row["blocked"].toBool() ? u"<error>"_s : shown);
		QVERIFY(!d.dock->isDirty() && !QFile::exists(d.path(u"elsewhere.json"_s)));
		const QString outcome = text(row["outcome"].toString().toUtf8().constData());
		if (d.dialogs->log.filter(u"warning:"_s).isEmpty())
			QVERIFY2(d.status().startsWith(outcome), qPrintable(d.status()));
		else
			QVERIFY(d.dialogs->log.last().startsWith(u"warning:"_s + outcome));
		if (!note.isEmpty() && !broken && shown != note && !row.contains("meanwhile")) {
			d.editor()->undo(); // one step back to the note as it was
			QCOMPARE(d.plain(), note);
		}
	}

	void exportNote_data() { test::jsonTable("dock/export_names.json"); }
	void exportNote()
	{
		QFETCH(QJsonObject, row);
		const QString written = row["written"].toString();
		test::NoteDock d(u"<p>one <b>two</b> \u25C6[cue]</p><ul><li>three</li></ul>"_s);
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

	// Three notes in an archive: two scenes whose names sanitise alike, and one scene gone; cancelled
	// first, then confirmed. Then a backup made by the dock, restored after the notes changed.
	void backupAndRestore()
	{
		test::NoteDock d(u"<p>shown</p>"_s);
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
		d.pick(d.path(u"all.zip"_s), false);
		d.triggerMenuEntry("ctxRestoreBackup");
		QVERIFY(d.dialogs->log.first().endsWith(text("RestorePrompt").arg(2).arg(0)));
		QCOMPARE(QDir(test::notesDir()).entryList(QDir::Files), QStringList{u"A.json"_s});

		bool restoringMeanwhile = false, readOnlyMeanwhile = false;
		d.dialogs->onQuestion = [&] {
			// Fires inside the busy dialog's loop while the notes are written.
			QTimer::singleShot(0, d.dock, [&] {
				restoringMeanwhile = d.dock->isRestoring();
				readOnlyMeanwhile = d.editor()->isReadOnly();
				d.dock->runHotkeyAction(HotkeyInsertTime);
			});
		};
		d.pick(d.path(u"all.zip"_s));
		d.triggerMenuEntry("ctxRestoreBackup");
		QCOMPARE(d.status(), text("RestoreResult").arg(2).arg(1));
		QCOMPARE(QDir(test::notesDir()).entryList(QDir::Files).size(), 3);
		QVERIFY(d.stored("X?") == u"ex"_s && d.stored("X*") == u"why"_s);
		QVERIFY(restoringMeanwhile && readOnlyMeanwhile);
		QVERIFY(!d.dock->isRestoring() && !d.editor()->isReadOnly());
		QCOMPARE(d.plain(), u"shown"_s);
		d.dialogs->onQuestion = nullptr;

		// Backed up through the dock, then restored after the notes changed.
		d.dialogs->saveNames << test::notePath(u"inside.zip"_s) << d.path(u"notes"_s) << d.path(u"one"_s);
		d.dock->backup(true);
		QVERIFY(d.dialogs->log.last().endsWith(text("BackupChooseFolder")));
		d.triggerMenuEntry("ctxBackupAll"); // the extension is added
		QCOMPARE(d.status(), text("BackupSaved"));
		d.dock->backup(false);
		d.editor()->setPlainText(u"changed"_s);
		QVERIFY(d.dock->saveNote(true, true));
		QVERIFY(QFile::remove(d.dock->noteStore().resolveNotePath(d.scene("X*"))));
		d.pick(d.path(u"notes.zip"_s));
		d.dock->restoreBackup();
		QCOMPARE(d.status(), text("RestoreResult").arg(3).arg(0));
		QVERIFY(d.plain() == u"shown"_s && d.stored("X*") == u"why"_s);

		// A single-note backup goes to the scene shown now, whichever it came from.
		d.show("X?");
		d.pick(d.path(u"one.json"_s));
		d.dock->restoreBackup();
		QVERIFY(d.plain() == u"shown"_s && d.stored("A") == u"shown"_s);
	}

	// Loaded or imported (every kind of source is tried in documents_note_document), a note's image
	// shows as a placeholder and keeps its src on disk.
	void hostileImages()
	{
		const test::HostileImages images;
		QVERIFY(images.ready());
		const QString resolved = images.resolve(u"real.png"_s);
		const QString html = test::HostileImages::noteWith(resolved);
		for (const bool import : {false, true}) {
			test::NoteDock d(import ? QString() : html);
			if (import) {
				QVERIFY(test::writeBytes(d.path(u"in.html"_s), html.toUtf8()));
				d.pick(d.path(u"in.html"_s));
				d.dock->importDocument();
			}
			d.editor()->grab();
			QVERIFY2(d.plain() == u"before \uFFFC after"_s, import ? "import" : "load");
			QCOMPARE(d.editor()->document()->resource(QTextDocument::ImageResource, QUrl(resolved)).value<QImage>(),
				 NoteDocument::placeholderImage());
			QString error;
			QVERIFY(d.dock->noteStore().readNote(d.scene("A"), error).contains(resolved.toHtmlEscaped()));
		}
	}

	// What each state lets a person do: the context menu (one mark per entry in menu order, '+'
	// enabled), and the editing commands, which change nothing where they are refused.
	void guardedStates_data() { test::jsonTable("dock/guarded_states.json"); }
	void guardedStates()
	{
		QFETCH(QJsonObject, row);
		const QString state = row["state"].toString();
		QApplication::clipboard()->clear();
		test::NoteDock d(u"<p>text</p>"_s);
		if (state == u"broken"_s)
			d.breakNote();
		if (state == u"none"_s)
			fake::setProgramScene(nullptr);
		const bool typed = state == u"edit"_s || state == u"read"_s || state == u"remote"_s;
		if (typed)
			QTest::keyClicks(d.editor(), u"x"_s);
		d.dock->setLocked(state == u"read"_s);
		d.dock->setRemoteEditing(state == u"remote"_s);
		if (typed)
			d.editor()->selectAll();
		if (state == u"image"_s) {
			auto *mime = new QMimeData;
			mime->setImageData(QImage(4, 4, QImage::Format_RGB32));
			QApplication::clipboard()->setMimeData(mime);
		}
		QString shown;
		d.dialogs->onMenu = [&](QMenu *menu) {
			for (const char *name : {"Undo", "Redo", "Cut", "Copy", "Paste", "PastePlain", "Delete", "SelectAll",
						 "ConvertBasic", "ClearBody", "BackupCurrent", "BackupAll", "RestoreBackup", "About"})
				shown += menu->findChild<QAction *>(u"ctx"_s + QLatin1String(name))->isEnabled() ? u'+' : u'-';
		};
		d.dock->showContextMenu(QPoint(2, 2));
		QCOMPARE(shown, row["enabled"].toString());

		const QString before = d.editor()->toHtml();
		d.select(0, 2);
		d.dock->insertMark();
		d.dock->insertTime();
		d.action("formatBold")->trigger();
		d.action("clearFormat")->trigger();
		QCOMPARE(d.editor()->toHtml() != before, state == u"edit"_s || state == u"image"_s);
		if (state == u"read"_s)
			QVERIFY(!d.action("formatBold")->isEnabled() && d.action("nextMark")->isEnabled());
		if (state == u"none"_s) { // nothing to format or search, until a scene comes
			for (bool enabled : {false, true}) {
				for (const char *name : {"formatToolbar", "paragraphToolbar", "searchText"})
					QVERIFY2(d.widget(name)->isEnabled() == enabled, name);
				QCOMPARE(d.action("findText")->isEnabled(), enabled);
				d.show("A");
			}
		}
	}

	// Where the scene is while the pass runs, and whether its note goes.
	void autoClear_data() { test::jsonTable("dock/auto_clear.json"); }
	void autoClear()
	{
		QFETCH(QJsonObject, row);
		const QString place = row["place"].toString();
		test::NoteDock d;
		obs_source_t *old = d.scene("Old");
		const QDateTime saved = QDateTime::currentDateTimeUtc();
		QString error;
		QVERIFY(d.dock->noteStore().saveNote(old, u"<p>old</p>"_s, error, saved));
		QDateTime now = saved.addSecs(row["ageHours"].toInt() * 3600);
		d.dock->setAutoClearClock([&now] { return now; });
		fake::setSceneOrder({old, d.scene("Other"), d.scene("Third")});
		if (place == u"program"_s) { // the shown scene is the preview; the old note is on air
			fake::setPreviewScene(d.scene("Third"), false);
			fake::setProgramScene(old, false);
			fake::setStudioMode(true);
			QCOMPARE(d.dock->currentSceneUuid(), d.uuid("Third"));
		} else {
			d.show(place == u"shown"_s ? "Old" : "Other");
		}
		if (place == u"phone"_s) {
			RemoteState &remote = d.dock->remote()->state();
			remote.setViewedScene(remote.open(u"phone"_s), d.uuid("Old"));
		}

		// Set through the about dialog, as a person would.
		const bool unchosen = place == u"unchosen"_s;
		d.dialogs->onDialog = [&](QDialog *dialog) {
			dialog->findChild<QSpinBox *>(u"autoClearDays"_s)->setValue(1);
			dialog->findChild<QComboBox *>(u"autoClearScope"_s)->setCurrentIndex(unchosen ? 0 : 1);
			if (unchosen) {
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
		if (place == u"shown"_s) // the host moved on, and the dock has not followed yet
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
