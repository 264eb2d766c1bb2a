#pragma once

// The dock as the host shows it: the module loaded against the fake front-end, scenes made on
// demand, notes stored for them. The one builder of the dock's tests.

#include "dock/dock.h"
#include "editor/editor.h"
#include "fake_frontend.h"
#include "module/module.h"
#include "module/text.h"
#include "obs_test_env.h"
#include "storage/note_store.h"
#include "test_util.h"

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include <map>
#include <memory>

namespace quillmar::test {

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

	Editor *editor() const { return dock->editor(); }
	template <typename T = QWidget> T *widget(const char *name) const
	{
		return dock->findChild<T *>(QLatin1String(name));
	}
	QAction *action(const char *name) const { return widget<QAction>(name); }
	QAction *buttonAction(const char *name) const { return widget<QToolButton>(name)->defaultAction(); }
	QString label(const char *name) const { return widget<QLabel>(name)->text(); }
	QString status() const { return dock->statusMessage(); }
	QString shown() const { return label("sceneLabel"); }
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

	Dock *dock = nullptr;

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
