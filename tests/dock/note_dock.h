#pragma once

// A dock showing one scene's note, for the tests that drive its tools as a person would.

#include "dock/dock.h"
#include "editor/editor.h"
#include "obs_test_env.h"

#include <QAction>
#include <QDir>
#include <QTest>
#include <QTextCursor>
#include <QToolBar>

#include <memory>

namespace quillmar::test {

class NoteDock {
public:
	explicit NoteDock(const QString &html = QString(), bool shown = false)
	{
		resetHost();
		QDir().mkpath(moduleConfigDir());
		dock = std::make_unique<Dock>(moduleConfigDir() + QStringLiteral("/settings.ini"));
		dock->resize(900, 420);
		dock->showSceneNote(scene.source());
		if (!html.isEmpty())
			editor()->setHtml(html);
		if (shown) {
			dock->show();
			QVERIFY(QTest::qWaitForWindowExposed(dock.get()));
		}
	}
	~NoteDock() { dock.reset(); }

	Editor *editor() const { return dock->editor(); }
	template <typename T = QWidget> T *widget(const char *name) const
	{
		return dock->findChild<T *>(QLatin1String(name));
	}
	QAction *action(const char *name) const { return widget<QAction>(name); }
	QString plain() const { return editor()->toPlainText(); }

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

	Scene scene{"Tools scene"};
	std::unique_ptr<Dock> dock;
};

} // namespace quillmar::test
