// Import, export, backup and restore, auto-clear, the context menu and the about dialog, driven
// the way a person drives them: file dialogs, questions and menus answered by a script.
#include "dock/dock.h"
#include "dock/dock_dialogs.h"
#include "documents/note_document.h"
#include "documents/zip.h"
#include "editor/editor.h"
#include "fake_frontend.h"
#include "hostile_images.h"
#include "module/hotkeys.h"
#include "module/module.h"
#include "module/text.h"
#include "obs_test_env.h"
#include "storage/backup.h"
#include "storage/note_store.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMimeData>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QUrl>
#include <QTimer>

#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace quillmar;

namespace {

// Answers the dock's dialogs from queues and keeps a log of what was asked.
struct ScriptedDialogs : DockDialogs {
	QStringList openNames, saveNames, log;
	QString chosenFilter, suggestedName;
	QList<QMessageBox::StandardButton> answers;
	std::function<void()> onQuestion;
	std::function<void(QMenu *)> onMenu;
	std::function<int(QDialog *)> onDialog;

	static QString next(QStringList &queue) { return queue.isEmpty() ? QString() : queue.takeFirst(); }
	QString openFileName(QWidget *, const QString &, const QString &) override { return next(openNames); }
	QString saveFileName(QWidget *, const QString &, const QString &suggested, const QString &, QString *chosen) override
	{
		suggestedName = suggested;
		if (chosen)
			*chosen = chosenFilter;
		return next(saveNames);
	}
	QMessageBox::StandardButton question(QWidget *, const QString &title, const QString &text) override
	{
		log << QStringLiteral("question:") + title + QLatin1Char(':') + text;
		if (onQuestion)
			onQuestion();
		return answers.isEmpty() ? QMessageBox::No : answers.takeFirst();
	}
	void warning(QWidget *, const QString &title, const QString &text) override { log << "warning:" + title + ':' + text; }
	void information(QWidget *, const QString &title, const QString &text) override { log << "information:" + title + ':' + text; }
	void execMenu(QMenu *menu, const QPoint &) override { onMenu(menu); }
	int execDialog(QDialog *dialog) override { return onDialog ? onDialog(dialog) : QDialog::Rejected; }
};

QString notesDir()
{
	return test::moduleConfigDir() + QStringLiteral("/notes");
}

QByteArray fileBytes(const QString &path)
{
	QFile f(path);
	return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
	QFile f(path);
	QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
	QCOMPARE(f.write(bytes), bytes.size());
}

QString plainOf(const QString &html)
{
	QTextDocument doc;
	doc.setHtml(html);
	return doc.toPlainText();
}

// The plain text stored for a scene, or "<none>".
QString storedText(obs_source_t *scene)
{
	NoteStore store(notesDir());
	QString error;
	const QString html = store.readNote(scene, error);
	return error.isEmpty() ? plainOf(html) : QStringLiteral("<error>");
}

QByteArray docx(const QByteArray &body)
{
	return R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?><w:document )"
	       R"(xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body>)" +
	       body + "</w:body></w:document>";
}

} // namespace

class NoteCommandsTest : public QObject {
	Q_OBJECT

	QTemporaryDir m_files;
	ScriptedDialogs *m_dialogs = nullptr;

	Dock *dock() const { return module::dock(); }
	Editor *editor() const { return dock()->editor(); }
	QString status() const { return dock()->statusMessage(); }
	QString path(const char *name) const { return m_files.filePath(QLatin1String(name)); }

	// Shows the scene with the given note already stored and saved.
	void show(const test::Scene &scene, const QString &html)
	{
		QString error;
		if (!html.isNull())
			QVERIFY2(dock()->noteStore().saveNote(scene.source(), html, error), qPrintable(error));
		fake::setProgramScene(scene.source());
		QCOMPARE(dock()->currentSceneUuid(), scene.uuid());
	}

	// The names and enabled states of the context menu's entries, as "ctxCopy" or "-ctxCut".
	QStringList menuEntries(const QPoint &at = QPoint(2, 2))
	{
		QStringList entries;
		m_dialogs->onMenu = [&](QMenu *menu) {
			for (QAction *a : menu->actions())
				if (!a->objectName().isEmpty())
					entries << (a->isEnabled() ? QString() : QStringLiteral("-")) + a->objectName();
		};
		dock()->showContextMenu(at);
		m_dialogs->onMenu = nullptr;
		return entries;
	}

	void triggerMenuEntry(const char *name)
	{
		m_dialogs->onMenu = [name](QMenu *menu) {
			QAction *a = menu->findChild<QAction *>(QLatin1String(name));
			QVERIFY(a && a->isEnabled());
			a->trigger();
		};
		dock()->showContextMenu(QPoint(2, 2));
		m_dialogs->onMenu = nullptr;
	}

private Q_SLOTS:
	void init()
	{
		test::resetHost();
		QVERIFY(module::load());
		auto dialogs = std::make_unique<ScriptedDialogs>();
		m_dialogs = dialogs.get();
		dock()->setDialogs(std::move(dialogs));
		dock()->resize(700, 500);
		fake::mainWindow()->show();
		dock()->show();
		QApplication::clipboard()->clear();
	}

	void cleanup()
	{
		module::unload();
		fake::reset();
		fake::mainWindow()->hide();
	}

	void import_data()
	{
		QTest::addColumn<QString>("file");
		QTest::addColumn<QByteArray>("content");
		QTest::addColumn<QString>("note");
		QTest::addColumn<bool>("yes");
		QTest::addColumn<QString>("shown");
		QTest::addColumn<QString>("outcome"); // status, or the warning's title

		const QByteArray pad = QByteArray("<p>ok</p><!--") + QByteArray(24 * 1024 * 1024 - 16, 'x') + "-->";
		QTest::newRow("txt into an empty note asks nothing") << "a.txt" << QByteArray("<b>one</b>\ntwo") << QString()
								      << false << "<b>one</b>\ntwo" << text("SavedNote");
		QTest::newRow("html replaces after yes") << "a.html" << QByteArray("<p>new <b>bold</b></p>") << "old" << true
							 << "new bold" << text("SavedNote");
		QTest::newRow("no keeps the note") << "a.html" << QByteArray("<p>new</p>") << "old" << false << "old"
						   << text("Loaded");
		QTest::newRow("HTM in capitals is html") << "A.HTM" << QByteArray("<i>x</i>y") << QString() << false << "xy"
							 << text("SavedNote");
		QByteArray lines;
		for (int i = 0; i < 20001; ++i)
			lines += "l\n";
		lines.chop(1);
		QTest::newRow("20001 lines refused") << "long.txt" << lines << "old" << true << "old" << text("TextLimit");
		QTest::newRow("exactly 24 MiB is read") << "big.html" << pad << QString() << false << "ok" << text("SavedNote");
		QTest::newRow("24 MiB and a byte refused") << "bigger.html" << pad + ' ' << "old" << true << "old"
							   << text("ImportFailed");
		QTest::newRow("a device is refused") << "/dev/zero" << QByteArray() << "old" << true << "old"
						     << text("ImportFailed");
		QTest::newRow("simplified word shows the notice")
			<< "w.docx" << docx("<w:p><w:r><w:object/><w:t>kept</w:t></w:r></w:p>") << QString() << false << "kept"
			<< text("WordSimplified");
		QTest::newRow("broken word warns") << "bad.docx" << QByteArray("not a zip") << "old" << true << "old"
						   << text("WordImportFailed");
	}

	void import()
	{
		QFETCH(QString, file);
		QFETCH(QByteArray, content);
		QFETCH(QString, note);
		QFETCH(bool, yes);
		QFETCH(QString, shown);
		QFETCH(QString, outcome);

		test::Scene a("A");
		show(a, note.isNull() ? QString() : QStringLiteral("<p>%1</p>").arg(note));
		const QString chosen = file.startsWith(u'/') ? file : m_files.filePath(file);
		if (!file.startsWith(u'/')) {
			if (file.endsWith(QLatin1String(".docx")) && content.startsWith("<?xml")) {
				QString error;
				QVERIFY(writeZip(chosen, {{QStringLiteral("word/document.xml"), content}}, error));
			} else {
				writeBytes(chosen, content);
			}
		}
		m_dialogs->openNames << chosen;
		m_dialogs->answers << (yes ? QMessageBox::Yes : QMessageBox::No);
		dock()->findChild<QAction *>(QStringLiteral("importDocument"))->trigger();

		QCOMPARE(editor()->toPlainText(), shown);
		QCOMPARE(storedText(a.source()), shown);
		const bool asked = m_dialogs->log.filter(QStringLiteral("question:")).size() == 1;
		QCOMPARE(asked, !note.isNull() && !file.contains(QLatin1String("long")) && outcome != text("ImportFailed") &&
					outcome != text("WordImportFailed"));
		if (!m_dialogs->log.isEmpty() && m_dialogs->log.last().startsWith(QStringLiteral("warning:")))
			QVERIFY(m_dialogs->log.last().startsWith(QStringLiteral("warning:") + outcome));
		else
			QCOMPARE(status(), outcome);
		if (!note.isNull() && shown != note) {
			editor()->undo(); // one step back to the note as it was
			QCOMPARE(editor()->toPlainText(), note);
		}
	}

	void failedSaveRevertsTheImport()
	{
		test::Scene a("A");
		show(a, QStringLiteral("<p>old</p>"));
		// The note's file turns into a symbolic link, which the store never writes through.
		const QString target = notesDir() + QStringLiteral("/A.json");
		QVERIFY(QFile::remove(target));
		QVERIFY(QFile::link(path("elsewhere.json"), target));
		writeBytes(path("in.html"), "<p>new</p>");
		m_dialogs->openNames << path("in.html");
		m_dialogs->answers << QMessageBox::Yes;
		dock()->importDocument();
		QCOMPARE(editor()->toPlainText(), QStringLiteral("old"));
		QVERIFY(!dock()->isDirty());
		QVERIFY(status().startsWith(text("NoteSaveFailed")));
		QVERIFY(!QFile::exists(path("elsewhere.json")));

		// Clearing is the same replacement, reverted without a report of its own.
		m_dialogs->answers << QMessageBox::Yes;
		dock()->setStatus(QStringLiteral("before"));
		triggerMenuEntry("ctxClearBody");
		QCOMPARE(editor()->toPlainText(), QStringLiteral("old"));
		QCOMPARE(status(), QStringLiteral("before"));
	}

	void exportNote_data()
	{
		QTest::addColumn<QString>("name");
		QTest::addColumn<QString>("filter");
		QTest::addColumn<QString>("written");
		QTest::addColumn<bool>("html");
		const QString textFilter = QStringLiteral("Text files (*.txt)");
		const QString htmlFilter = QStringLiteral("HTML files (*.html *.htm)");
		QTest::newRow("no extension, html filter") << "n" << htmlFilter << "n.html" << true;
		QTest::newRow("no extension, text filter") << "n" << textFilter << "n.txt" << false;
		QTest::newRow("HTM with the text filter") << "n.HTM" << textFilter << "n.HTM" << true;
		QTest::newRow("txt with the html filter") << "n.txt" << htmlFilter << "n.txt" << false;
	}

	void exportNote()
	{
		QFETCH(QString, name);
		QFETCH(QString, filter);
		QFETCH(QString, written);
		QFETCH(bool, html);
		test::Scene a("A");
		show(a, QStringLiteral("<p>one <b>two</b> \u25C6[cue]</p><ul><li>three</li></ul>"));
		const QString before = editor()->toHtml();
		m_dialogs->saveNames << m_files.filePath(name);
		m_dialogs->chosenFilter = filter;
		dock()->findChild<QAction *>(QStringLiteral("exportDocument"))->trigger();
		QCOMPARE(status(), text("Exported"));
		const QString bytes = QString::fromUtf8(fileBytes(m_files.filePath(written)));
		if (!html) {
			QCOMPARE(bytes, editor()->toPlainText());
			return;
		}
		// What goes out as HTML comes back as the same note.
		m_dialogs->openNames << m_files.filePath(written);
		m_dialogs->answers << QMessageBox::Yes;
		dock()->importDocument();
		QCOMPARE(editor()->toHtml(), before);
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
		test::Scene shown("Shown"), x("X?"), y("X*");
		show(shown, QStringLiteral("<p>shown</p>"));
		QStringList notes;
		const auto note = [&](const QString &uuid, const char *name, const char *body) {
			const QString file = m_files.filePath(QString::number(notes.size()) + QStringLiteral(".json"));
			writeBytes(file, encodeNoteFile(uuid, QLatin1String(name), QStringLiteral("<p>%1</p>").arg(QLatin1String(body))));
			notes << file;
		};
		note(x.uuid(), "X?", "ex");
		note(QStringLiteral("00000000-0000-4000-8000-000000000000"), "Gone", "gone");
		note(y.uuid(), "X*", "why");
		QString error;
		QVERIFY(writeBackup(path("all.zip"), notes, error));

		bool restoringMeanwhile = false;
		bool readOnlyMeanwhile = false;
		m_dialogs->onQuestion = [&] {
			// Fires inside the busy dialog's loop while the notes are written.
			QTimer::singleShot(0, dock(), [&] {
				restoringMeanwhile = dock()->isRestoring();
				readOnlyMeanwhile = editor()->isReadOnly();
				dock()->runHotkeyAction(HotkeyInsertTime);
			});
		};
		m_dialogs->openNames << path("all.zip");
		m_dialogs->answers << (confirm ? QMessageBox::Yes : QMessageBox::No);
		triggerMenuEntry("ctxRestoreBackup");
		QVERIFY(m_dialogs->log.filter(QStringLiteral("question:")).first().endsWith(text("RestorePrompt").arg(2).arg(0)));
		const QStringList files = QDir(notesDir()).entryList(QDir::Files);
		if (!confirm) {
			QCOMPARE(files, QStringList{QStringLiteral("Shown.json")});
			QCOMPARE(storedText(x.source()), QString());
			return;
		}
		QCOMPARE(status(), text("RestoreResult").arg(2).arg(1));
		QCOMPARE(files.size(), 3);
		QCOMPARE(storedText(x.source()), QStringLiteral("ex"));
		QCOMPARE(storedText(y.source()), QStringLiteral("why"));
		QVERIFY(dock()->noteStore().resolveNotePath(x.source()) != dock()->noteStore().resolveNotePath(y.source()));
		QVERIFY(restoringMeanwhile && readOnlyMeanwhile);
		QVERIFY(!dock()->isRestoring() && !editor()->isReadOnly());
		QCOMPARE(editor()->toPlainText(), QStringLiteral("shown"));
	}

	// Backing up through the dock, then restoring that file after the notes changed.
	void backupThenRestore()
	{
		test::Scene a("A"), b("B");
		show(b, QStringLiteral("<p>bee</p>"));
		show(a, QStringLiteral("<p>ay</p>"));
		m_dialogs->saveNames << notesDir() + QStringLiteral("/inside.zip");
		dock()->backup(true);
		QVERIFY(m_dialogs->log.last().endsWith(text("BackupChooseFolder")));
		QVERIFY(m_dialogs->suggestedName.startsWith(QStringLiteral("OBS-Quillmar_Backup_")));

		m_dialogs->saveNames << path("notes"); // the extension is added
		triggerMenuEntry("ctxBackupAll");
		QCOMPARE(status(), text("BackupSaved"));
		m_dialogs->saveNames << path("one");
		dock()->backup(false);
		QCOMPARE(m_dialogs->suggestedName.left(2), QStringLiteral("A_"));

		editor()->setPlainText(QStringLiteral("changed"));
		QVERIFY(dock()->saveNote(true, true));
		QVERIFY(QFile::remove(dock()->noteStore().resolveNotePath(b.source())));

		m_dialogs->openNames << path("notes.zip");
		m_dialogs->answers << QMessageBox::Yes;
		dock()->restoreBackup();
		QCOMPARE(status(), text("RestoreResult").arg(2).arg(0));
		QCOMPARE(editor()->toPlainText(), QStringLiteral("ay"));
		QCOMPARE(storedText(b.source()), QStringLiteral("bee"));

		// A single-note backup goes to the scene shown now, whichever it came from.
		fake::setProgramScene(b.source());
		m_dialogs->openNames << path("one.json");
		m_dialogs->answers << QMessageBox::Yes;
		dock()->restoreBackup();
		QCOMPARE(editor()->toPlainText(), QStringLiteral("ay"));
		QCOMPARE(storedText(a.source()), QStringLiteral("ay"));
	}

	void hostileImages_data()
	{
		QTest::addColumn<QString>("entry");
		QTest::addColumn<QString>("src");
		for (const char *entry : {"note file", "import", "restore"})
			for (const QString &src : test::HostileImages::sources())
				QTest::addRow("%s %s", entry, qPrintable(src)) << QString::fromLatin1(entry) << src;
	}

	// However the note arrives, it shows with a placeholder and keeps its src on disk.
	void hostileImages()
	{
		QFETCH(QString, entry);
		QFETCH(QString, src);
		const test::HostileImages files;
		QVERIFY(files.ready());
		const QString resolved = files.resolve(src);
		const QString html = test::HostileImages::noteWith(resolved);
		test::Scene a("A");
		show(a, entry == QLatin1String("note file") ? html : QString());
		if (entry == QLatin1String("import")) {
			writeBytes(path("in.html"), html.toUtf8());
			m_dialogs->openNames << path("in.html");
			dock()->importDocument();
		} else if (entry == QLatin1String("restore")) {
			writeBytes(path("one.json"), encodeNoteFile(a.uuid(), QStringLiteral("A"), html));
			m_dialogs->openNames << path("one.json");
			m_dialogs->answers << QMessageBox::Yes;
			dock()->restoreBackup();
		}
		editor()->grab();
		QCOMPARE(editor()->toPlainText(), QStringLiteral("before \uFFFC after"));
		QCOMPARE(editor()->document()->resource(QTextDocument::ImageResource, QUrl(resolved)).value<QImage>(),
			 NoteDocument::placeholderImage());
		QString error;
		QVERIFY(dock()->noteStore().readNote(a.source(), error).contains(resolved.toHtmlEscaped()));
	}

	void contextMenu_data()
	{
		QTest::addColumn<QString>("state");
		QTest::addColumn<QString>("enabled"); // one mark per entry in menu order, '+' enabled
		QTest::newRow("editable, text selected") << "edit" << "+-++--++++++++";
		QTest::newRow("read mode") << "read" << "---+---+--++-+";
		QTest::newRow("load error") << "broken" << "----------++++";
		QTest::newRow("no scene") << "none" << "-----------+-+";
		QTest::newRow("image on the clipboard") << "image" << "-------+++++++";
	}

	void contextMenu()
	{
		QFETCH(QString, state);
		QFETCH(QString, enabled);
		test::Scene a("A");
		if (state == QLatin1String("broken")) {
			QDir().mkpath(notesDir());
			writeBytes(notesDir() + QStringLiteral("/A.json"), "{broken");
			NoteStore(notesDir()).writeSceneLink(a.source(), {a.uuid(), QStringLiteral("A"),
									  notesDir() + QStringLiteral("/A.json"), QString()});
		}
		if (state != QLatin1String("none"))
			show(a, state == QLatin1String("broken") ? QString() : QStringLiteral("<p>text</p>"));
		if (state == QLatin1String("broken"))
			QVERIFY(dock()->hasLoadError());
		if (state == QLatin1String("edit")) {
			QTest::keyClicks(editor(), QStringLiteral("x"));
			editor()->selectAll();
		}
		if (state == QLatin1String("read")) {
			dock()->setLocked(true);
			editor()->selectAll();
		}
		if (state == QLatin1String("image")) {
			auto *mime = new QMimeData;
			mime->setImageData(QImage(4, 4, QImage::Format_RGB32));
			QApplication::clipboard()->setMimeData(mime);
		}
		const QStringList names{"Undo", "Redo", "Cut", "Copy", "Paste", "PastePlain", "Delete", "SelectAll",
					"ConvertBasic", "ClearBody", "BackupCurrent", "BackupAll", "RestoreBackup", "About"};
		QStringList entries;
		for (int i = 0; i < names.size(); ++i)
			entries << (enabled.at(i) == u'+' ? QString() : QStringLiteral("-")) + QStringLiteral("ctx") + names[i];
		QCOMPARE(menuEntries(), entries);
	}

	void deleteMark()
	{
		test::Scene a("A");
		show(a, QStringLiteral("<p>before \u25C6[cue] after</p>"));
		QCOMPARE(menuEntries(QPoint(2, 2)).filter(QStringLiteral("ctxDeleteMark")).size(), 0);
		QTextCursor at(editor()->document());
		at.setPosition(8);
		const QPoint mark = editor()->cursorRect(at).center() + QPoint(2, 0);
		QVERIFY(menuEntries(mark).contains(QStringLiteral("ctxDeleteMark")));
		m_dialogs->onMenu = [](QMenu *menu) { menu->findChild<QAction *>(QStringLiteral("ctxDeleteMark"))->trigger(); };
		dock()->showContextMenu(mark);
		QCOMPARE(editor()->toPlainText(), QStringLiteral("before  after"));
		editor()->undo();
		QCOMPARE(editor()->toPlainText(), QStringLiteral("before \u25C6[cue] after"));
	}

	void autoClear_data()
	{
		QTest::addColumn<int>("ageHours");
		QTest::addColumn<QString>("place"); // where the scene is while the pass runs
		QTest::addColumn<bool>("cleared");
		QTest::newRow("25 h old") << 25 << "" << true;
		QTest::newRow("23 h old") << 23 << "" << false;
		QTest::newRow("shown") << 25 << "shown" << false;
		QTest::newRow("program") << 25 << "program" << false;
		QTest::newRow("not chosen") << 25 << "unchosen" << false;
	}

	void autoClear()
	{
		QFETCH(int, ageHours);
		QFETCH(QString, place);
		QFETCH(bool, cleared);
		test::Scene old("Old"), other("Other"), third("Third");
		const QDateTime saved = QDateTime::currentDateTimeUtc();
		QString error;
		QVERIFY(dock()->noteStore().saveNote(old.source(), QStringLiteral("<p>old</p>"), error, saved));
		QDateTime now = saved.addSecs(ageHours * 3600);
		dock()->setAutoClearClock([&now] { return now; });
		fake::setSceneOrder({old.source(), other.source(), third.source()});
		if (place == QLatin1String("program")) {
			// The shown scene is the preview; the old note is on air.
			fake::setPreviewScene(third.source(), false);
			fake::setProgramScene(old.source(), false);
			fake::setStudioMode(true);
			QCOMPARE(dock()->currentSceneUuid(), third.uuid());
		} else {
			fake::setProgramScene(place == QLatin1String("shown") ? old.source() : other.source());
		}

		// Set through the about dialog, as a person would.
		m_dialogs->onDialog = [&](QDialog *dialog) {
			dialog->findChild<QSpinBox *>(QStringLiteral("autoClearDays"))->setValue(1);
			auto *scope = dialog->findChild<QComboBox *>(QStringLiteral("autoClearScope"));
			scope->setCurrentIndex(place == QLatin1String("unchosen") ? 0 : 1);
			if (place == QLatin1String("unchosen")) {
				m_dialogs->onDialog = [&](QDialog *chooser) {
					auto *list = chooser->findChild<QListWidget *>(QStringLiteral("autoClearScenes"));
					list->item(1)->setCheckState(Qt::Checked);
					m_dialogs->onDialog = nullptr;
					return int(QDialog::Accepted);
				};
				dialog->findChild<QPushButton *>(QStringLiteral("autoClearChoose"))->click();
			}
			dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
			return dialog->result();
		};
		triggerMenuEntry("ctxAbout");
		QCOMPARE(dock()->autoClearDays(), 1);
		fake::emitEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
		auto *timer = dock()->findChild<QTimer *>(QStringLiteral("autoClearTimer"));
		QCOMPARE(timer->interval(), 5000);
		for (int step = 0; step < 3; ++step) {
			QVERIFY(QMetaObject::invokeMethod(timer, "timeout"));
			QCOMPARE(timer->interval(), step < 2 ? 25 : 86400000);
		}
		const NoteStore store(notesDir());
		QCOMPARE(store.readNote(old.source(), error).isEmpty(), cleared);
	}

	void autoClearKeepsTheDockResponsive()
	{
		module::unload();
		QSettings s(test::moduleConfigDir() + QStringLiteral("/settings.ini"), QSettings::IniFormat);
		s.setValue(QStringLiteral("autoClear/days"), 1);
		s.setValue(QStringLiteral("autoClear/all"), true);
		s.sync();
		QVERIFY(module::load());
		std::vector<std::unique_ptr<test::Scene>> scenes;
		QString error;
		const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-2);
		for (int i = 0; i < 1000; ++i) {
			scenes.push_back(std::make_unique<test::Scene>(QByteArray::number(i).constData()));
			QVERIFY(dock()->noteStore().saveNote(scenes.back()->source(), QStringLiteral("<p>n</p>"), error, old));
		}
		fake::emitEvent(OBS_FRONTEND_EVENT_FINISHED_LOADING);
		auto *timer = dock()->findChild<QTimer *>(QStringLiteral("autoClearTimer"));
		const NoteStore store(notesDir());
		const auto remaining = [&] {
			int notes = 0;
			for (const auto &scene : scenes)
				notes += !store.readNote(scene->source(), error).isEmpty();
			return notes;
		};
		// One scene per step, each step handing control back to the event loop for 25 ms.
		for (int i = 0; i < 1000; ++i) {
			QVERIFY(QMetaObject::invokeMethod(timer, "timeout"));
			QCOMPARE(timer->interval(), i < 999 ? 25 : 86400000);
			if (i == 0 || i == 499)
				QCOMPARE(remaining(), 999 - i);
		}
		QCOMPARE(remaining(), 0);
	}
};

QUILLMAR_OBS_TEST_MAIN(NoteCommandsTest)
#include "tst_note_commands.moc"
