#pragma once

// The dock as the host shows it: the module loaded against the fake front-end, scenes made on
// demand, notes stored for them, dialogs answered by a script. The one builder of the dock's tests.

// Qt's module headers come before libobs's: its SIMD shims break the compiler's intrinsics
// headers when those come after them.
#include <QtTest>
#include <QtWidgets>

#include "dock/dock.h"
#include "dock/dock_dialogs.h"
#include "editor/editor.h"
#include "fake_frontend.h"
#include "module/module.h"
#include "module/text.h"
#include "obs_test_env.h"
#include "storage/note_store.h"
#include "test_util.h"

#include <functional>
#include <map>
#include <memory>

namespace quillmar::test {

// Answers the dock's dialogs from queues and keeps a log of what was asked.
struct ScriptedDialogs : DockDialogs {
	QStringList openNames, saveNames, log;
	QString chosenFilter;
	QList<QMessageBox::StandardButton> answers;
	std::function<void()> onQuestion;
	std::function<void(QMenu *)> onMenu;
	std::function<int(QDialog *)> onDialog;

	static QString next(QStringList &queue) { return queue.isEmpty() ? QString() : queue.takeFirst(); }
	QString openFileName(QWidget *, const QString &, const QString &) override { return next(openNames); }
	QString saveFileName(QWidget *, const QString &, const QString &, const QString &, QString *chosen) override
	{
		if (chosen)
			*chosen = chosenFilter;
		return next(saveNames);
	}
	QMessageBox::StandardButton question(QWidget *, const QString &title, const QString &text) override
	{
		log << "question:" + title + ':' + text;
		if (onQuestion)
			onQuestion();
		return answers.isEmpty() ? QMessageBox::No : answers.takeFirst();
	}
	void warning(QWidget *, const QString &title, const QString &text) override { log << "warning:" + title + ':' + text; }
	void information(QWidget *, const QString &, const QString &) override {}
	void execMenu(QMenu *menu, const QPoint &) override { onMenu(menu); }
	int execDialog(QDialog *dialog) override { return onDialog ? onDialog(dialog) : QDialog::Rejected; }
};

class NoteDock {
public:
	// Shows scene "A" with html as its stored note (none when empty).
	explicit NoteDock(const QString &html = QString(), bool exposed = false)
	{
		resetHost();
		load();
		show("A", html);
		if (exposed)
			QVERIFY(QTest::qWaitForWindowExposed(dock));
	}
	~NoteDock()
	{
		module::unload();
		fake::reset();
		fake::mainWindow()->hide();
	}

	void load()
	{
		QVERIFY(module::load());
		dock = module::dock();
		dock->resize(900, 420);
		auto scripted = std::make_unique<ScriptedDialogs>();
		dialogs = scripted.get();
		dock->setDialogs(std::move(scripted));
		fake::mainWindow()->show();
		dock->show(); // as the host's dock widget does
	}
	void restart()
	{
		module::unload();
		fake::reset();
		load();
	}

	obs_source_t *scene(const char *name)
	{
		auto &scene = m_scenes[name];
		if (!scene)
			scene = std::make_unique<Scene>(name);
		return scene->source();
	}
	QString uuid(const char *name) { return QString::fromUtf8(obs_source_get_uuid(scene(name))); }
	void remove(const char *name) { m_scenes.erase(name); }
	// Stores html as the scene's note (when given) and makes the scene the program.
	void show(const char *name, const QString &html = QString())
	{
		QString error;
		if (!html.isEmpty())
			QVERIFY2(dock->noteStore().saveNote(scene(name), html, error), qPrintable(error));
		fake::setProgramScene(scene(name));
	}
	// Scene "A" shown with a stored note that cannot be read.
	void breakNote()
	{
		QVERIFY(writeBytes(notePath(QStringLiteral("A.json")), "{broken"));
		NoteStore(notesDir()).writeSceneLink(scene("A"), {uuid("A"), QStringLiteral("A"), notePath(QStringLiteral("A.json")), QString()});
		fake::setProgramScene(nullptr);
		show("A");
		QVERIFY(dock->hasLoadError());
	}
	// The plain text stored for a scene (empty without a note), "<error>" for a bad one.
	QString stored(const char *name)
	{
		QString error;
		const QString html = NoteStore(notesDir()).readNote(scene(name), error);
		return error.isEmpty() ? plainOf(html) : QStringLiteral("<error>");
	}
	static QString plainOf(const QString &html)
	{
		QTextDocument document;
		document.setHtml(html);
		return document.toPlainText();
	}
	// A file a person picks, outside the notes folder, and their answer to the question after it.
	QString path(const QString &name) const { return files.filePath(name); }
	void pick(const QString &file, bool yes = true)
	{
		dialogs->openNames << file;
		dialogs->answers << (yes ? QMessageBox::Yes : QMessageBox::No);
	}

	Editor *editor() const { return dock->editor(); }
	template <typename T = QWidget> T *widget(const char *name) const { return dock->findChild<T *>(QLatin1String(name)); }
	QAction *action(const char *name) const { return widget<QAction>(name); }
	QAction *buttonAction(const char *name) const { return widget<QToolButton>(name)->defaultAction(); }
	QString status() const { return dock->statusMessage(); }
	QString shown() const { return widget<QLabel>("sceneLabel")->text(); }
	QString plain() const { return editor()->toPlainText(); }
	QScrollBar *bar() const { return editor()->verticalScrollBar(); }

	void type(const QString &keys)
	{
		editor()->moveCursor(QTextCursor::End);
		QTest::keyClicks(editor(), keys);
	}
	// Puts the editor's cursor at [from, to).
	void select(int from, int to = -1)
	{
		QTextCursor cursor(editor()->document());
		cursor.setPosition(from);
		if (to >= 0)
			cursor.setPosition(to, QTextCursor::KeepAnchor);
		editor()->setTextCursor(cursor);
	}
	QTextCharFormat formatAt(int position) const
	{
		QTextCursor cursor(editor()->document());
		cursor.setPosition(position + 1);
		return cursor.charFormat();
	}

	// Opens the context menu and triggers its entry with the given object name or text.
	void triggerMenuEntry(const QString &name, const QPoint &at = QPoint(2, 2))
	{
		dialogs->onMenu = [name](QMenu *menu) {
			for (QAction *a : menu->actions())
				if (a->objectName() == name || a->text() == name) {
					QVERIFY(a->isEnabled());
					return a->trigger();
				}
			QFAIL(qPrintable(name));
		};
		dock->showContextMenu(at);
	}

	Dock *dock = nullptr;
	ScriptedDialogs *dialogs = nullptr;
	QTemporaryDir files;

private:
	std::map<QByteArray, std::unique_ptr<Scene>> m_scenes;
};

// Paragraphs "line 0", "line 1", ... as note HTML.
inline QString numberedLines(int count)
{
	QString html;
	for (int i = 0; i < count; ++i)
		html += QStringLiteral("<p>line %1</p>").arg(i);
	return html;
}

} // namespace quillmar::test
