// The note's context menu and the about dialog.
#include "dock/dock.h"

#include "dock/marks.h"

#include "dock/dock_dialogs.h"
#include "dock/dock_theme.h"
#include "editor/editor.h"
#include "module/module.h"
#include "module/text.h"

#include <QApplication>
#include <QBoxLayout>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QTextBlock>
#include <QTextCursor>

namespace quillmar {

void Dock::showContextMenu(const QPoint &position)
{
	const bool editable = m_editor->isEnabled() && !m_editor->isReadOnly();
	const bool selection = m_editor->textCursor().hasSelection();
	const bool empty = m_editor->document()->isEmpty();
	const bool scene = !m_currentUuid.isEmpty();
	QTextDocument *document = m_editor->document();

	QMenu menu(m_editor);
	menu.setObjectName(QStringLiteral("noteContextMenu"));
	const auto add = [&](const char *key, const QKeySequence &shortcut, bool enabled, auto command) {
		QString label = text(key);
		if (!shortcut.isEmpty())
			label += QLatin1Char('\t') + shortcut.toString(QKeySequence::NativeText);
		QAction *action = menu.addAction(label);
		action->setObjectName(QStringLiteral("ctx") + QLatin1String(key));
		action->setEnabled(enabled);
		connect(action, &QAction::triggered, this, command);
		return action;
	};
	const QMimeData *clip = QApplication::clipboard()->mimeData();
	const bool clipText = clip && clip->hasText() && !clip->text().isEmpty();

	add("Undo", QKeySequence::Undo, editable && document->isUndoAvailable(), [this] { m_editor->undo(); });
	add("Redo", QKeySequence::Redo, editable && document->isRedoAvailable(), [this] { m_editor->redo(); });
	menu.addSeparator();
	add("Cut", QKeySequence::Cut, editable && selection, [this] { m_editor->checkedCut(); });
	add("Copy", QKeySequence::Copy, selection, [this] { m_editor->copy(); });
	add("Paste", QKeySequence::Paste, editable && m_editor->canPaste(), [this] { m_editor->paste(); });
	add("PastePlain", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V), editable && clipText,
	    [this] { m_editor->checkedInsertPlainText(QApplication::clipboard()->text()); });
	add("Delete", QKeySequence::Delete, editable && selection, [this] { m_editor->checkedDelete(); });
	add("SelectAll", QKeySequence::SelectAll, !empty, [this] { m_editor->selectAll(); });
	menu.addSeparator();

	const QTextCursor mark = markAtCursor(m_editor->cursorForPosition(position));
	if (!mark.isNull()) {
		add("DeleteMark", QKeySequence(), editable, [this, mark] {
			QTextCursor cursor = mark;
			if (!m_editor->checkInsertion(cursor, QString()))
				return;
			cursor.beginEditBlock();
			cursor.removeSelectedText();
			cursor.endEditBlock();
			m_editor->setTextCursor(cursor);
		});
		menu.addSeparator();
	}
	add("ConvertBasic", QKeySequence(), editable && !empty, [this] { convertToBasicFormat(); });
	add("ClearBody", QKeySequence(), editable && !empty,
	    [this] { replaceNote(QString(), "ClearBody", "ClearBodyPrompt", false); });
	menu.addSeparator();
	add("BackupCurrent", QKeySequence(), scene, [this] { backup(false); });
	add("BackupAll", QKeySequence(), true, [this] { backup(true); });
	add("RestoreBackup", QKeySequence(), scene && !m_locked && !m_remoteEditing, [this] { restoreBackup(); });
	menu.addSeparator();
	connect(menu.addAction(text("RemoteAccess")), &QAction::triggered, this, &Dock::openRemoteSettings);
	connect(menu.addAction(text("PrompterWindow")), &QAction::triggered, this, &Dock::openPrompterWindow);
	QAction *about = menu.addAction(text("About"));
	about->setObjectName(QStringLiteral("ctxAbout"));
	connect(about, &QAction::triggered, this, &Dock::showAbout);

	m_dialogs->execMenu(&menu, m_editor->mapToGlobal(position));
}

void Dock::showAbout()
{
	QDialog dialog(this);
	dialog.setObjectName(QStringLiteral("aboutDialog"));
	dialog.setWindowTitle(text("About"));
	auto *layout = new QVBoxLayout(&dialog);
	const bool dark = theme::isDark(palette().color(QPalette::Window));
	for (const char *key : {"AboutBody", "ShortcutBody"}) {
		QString body = text(key);
		if (qstrcmp(key, "AboutBody") == 0)
			body = body.arg(QLatin1String(module::Version));
		auto *label = new QLabel(body, &dialog);
		label->setObjectName(QLatin1String(key));
		label->setTextFormat(Qt::RichText);
		label->setWordWrap(true);
		label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse |
					       Qt::LinksAccessibleByKeyboard);
		label->setOpenExternalLinks(true);
		layout->addWidget(label);
		auto *line = new QFrame(&dialog);
		line->setFixedHeight(1);
		line->setStyleSheet(dark ? QStringLiteral("background: #666666; border: 0;")
					 : QStringLiteral("background: #aaaaaa; border: 0;"));
		layout->addWidget(line);
	}
	auto *form = new QFormLayout;
	layout->addLayout(form);
	const std::function<bool()> apply = buildAutoClearSection(&dialog, form);
	auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
	layout->addWidget(buttons);
	connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
	connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
		if (apply())
			dialog.accept();
	});
	m_dialogs->execDialog(&dialog);
}

} // namespace quillmar
