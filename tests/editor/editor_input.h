#pragma once

// Content reaching the editor as a user's paste, drop and input method send it.

#include "editor/editor.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QMimeData>
#include <QTest>

#include <memory>

namespace quillmar::test {

inline QMimeData *mimeData(const QString &text, const QString &html = QString())
{
	auto *data = new QMimeData;
	if (!text.isNull())
		data->setText(text);
	if (!html.isNull())
		data->setHtml(html);
	return data;
}

// Pastes through the clipboard and the paste key, as a user does.
inline void paste(Editor &editor, QMimeData *data)
{
	QApplication::clipboard()->setMimeData(data);
	QTest::keyClick(&editor, Qt::Key_V, Qt::ControlModifier);
}

inline bool sendInputMethod(Editor &editor, const QString &preedit, const QString &commit, int from = 0, int length = 0)
{
	QInputMethodEvent event(preedit, {});
	event.setCommitString(commit, from, length);
	event.setAccepted(false);
	QApplication::sendEvent(&editor, &event);
	return event.isAccepted();
}

inline bool drop(Editor &editor, int position, QMimeData *dropped)
{
	const std::unique_ptr<QMimeData> owner(dropped);
	QTextCursor at(editor.document());
	at.setPosition(position);
	const QPoint point = editor.cursorRect(at).center();
	QDragEnterEvent enter(point, Qt::CopyAction, dropped, Qt::LeftButton, Qt::NoModifier);
	QApplication::sendEvent(editor.viewport(), &enter);
	QDragMoveEvent move(point, Qt::CopyAction, dropped, Qt::LeftButton, Qt::NoModifier);
	QApplication::sendEvent(editor.viewport(), &move);
	QDropEvent event(point, Qt::CopyAction, dropped, Qt::LeftButton, Qt::NoModifier);
	event.setAccepted(false);
	QApplication::sendEvent(editor.viewport(), &event);
	return event.isAccepted();
}

} // namespace quillmar::test
