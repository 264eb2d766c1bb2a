// Import and export of the whole note, conversion to basic formatting, and replacing the note.
#include "dock/dock.h"

#include "dock/dock_dialogs.h"
#include "documents/blocks.h"
#include "documents/note_document.h"
#include "documents/word_import.h"
#include "editor/editor.h"
#include "module/text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QTextCursor>

namespace quillmar {

namespace {

constexpr qint64 MaxImportBytes = 24 * 1024 * 1024;

bool endsWith(const QString &name, const char *suffix)
{
	return name.endsWith(QLatin1String(suffix), Qt::CaseInsensitive);
}

} // namespace

bool Dock::replaceNote(const QString &html, const char *titleKey, const char *promptKey, bool report)
{
	if (!m_editor->isEnabled() || m_locked || m_remoteEditing || m_restoring || m_closing)
		return false;
	if (!fitsNoteLimits(html)) {
		showLimitMessage();
		return false;
	}
	const QString uuid = m_currentUuid;
	const int revision = m_editor->document()->revision();
	if (!m_editor->document()->isEmpty() || m_loadError) {
		if (m_dialogs->question(this, text(titleKey), text(promptKey)) != QMessageBox::Yes)
			return false;
	}
	// The note may have moved on while the question was open.
	if (m_locked || m_remoteEditing || m_restoring || m_closing || m_currentUuid != uuid ||
	    m_editor->document()->revision() != revision || !m_editor->isEnabled())
		return false;

	const QString previousStatus = statusMessage();
	const bool previousDirty = m_dirty;
	const bool previousLoadError = m_loadError;
	const QString previousPlaceholder = m_editor->placeholderText();
	stopScrolling();
	{
		const QSignalBlocker blocker(m_editor);
		QTextCursor cursor(m_editor->document());
		cursor.beginEditBlock();
		cursor.select(QTextCursor::Document);
		if (html.isEmpty())
			cursor.removeSelectedText();
		else
			cursor.insertHtml(html);
		cursor.endEditBlock();
		m_editor->setTextCursor(cursor);
	}
	m_editor->setPlaceholderText(QString());
	m_loadError = false;
	applyReadOnly();
	updateToolEnabling();
	m_dirty = true;
	invalidateSearch();
	updateDocumentStatus();

	if (saveNote(true, report)) {
		notifyRemoteNoteChanged(m_currentUuid);
		return true;
	}
	// A replacement that cannot be stored is taken back whole: the note and its state as before.
	QString failure = statusMessage();
	{
		const QSignalBlocker blocker(m_editor);
		m_editor->undo();
	}
	m_autosaveTimer.stop();
	m_dirty = previousDirty;
	m_loadError = previousLoadError;
	m_editor->setPlaceholderText(previousPlaceholder);
	applyReadOnly();
	updateToolEnabling();
	invalidateSearch();
	updateDocumentStatus();
	if (m_dirty)
		m_autosaveTimer.start();
	setStatus(report ? failure : previousStatus);
	return false;
}

void Dock::importDocument()
{
	if (!m_editor->isEnabled() || m_locked || m_remoteEditing || m_restoring)
		return;
	const QString path = m_dialogs->openFileName(this, text("ImportTitle"), text("ImportFilter"));
	if (path.isEmpty())
		return;

	if (endsWith(path, ".docx")) {
		const WordImportResult result = importWordDocument(path);
		if (!result.error.isEmpty()) {
			m_dialogs->warning(this, text("WordImportFailed"), result.error);
			return;
		}
		if (replaceNote(result.html, "ReplaceTitle", "ReplacePrompt", true) && result.simplified)
			setStatus(text("WordSimplified"));
		return;
	}

	// Only a regular file: opening a FIFO would block until some writer comes, reading a device
	// never ends.
	QFile file(path);
	QByteArray bytes;
	bool ok = QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly) && file.size() <= MaxImportBytes;
	if (ok) {
		bytes = file.read(MaxImportBytes + 1);
		ok = file.error() == QFileDevice::NoError && bytes.size() <= MaxImportBytes;
	}
	if (!ok) {
		m_dialogs->warning(this, text("ImportFailed"), text("FileReadFailed") + QDir::toNativeSeparators(path));
		return;
	}
	QString content = QString::fromUtf8(bytes);
	if (endsWith(path, ".txt")) {
		NoteDocument scratch;
		scratch.setUndoRedoEnabled(false);
		scratch.setLayoutEnabled(false);
		scratch.setPlainText(content);
		if (!fitsNoteLimits(scratch)) {
			showLimitMessage();
			return;
		}
		content = scratch.toHtml();
	}
	replaceNote(content, "ReplaceTitle", "ReplacePrompt", true);
}

void Dock::exportDocument()
{
	if (!m_editor->isEnabled())
		return;
	QString filter;
	QString path = m_dialogs->saveFileName(this, text("ExportTitle"), QStringLiteral("Quillmar"),
					      text("ExportFilter"), &filter);
	if (path.isEmpty())
		return;
	const bool html = endsWith(path, ".html") || endsWith(path, ".htm");
	const bool plain =
		endsWith(path, ".txt") || (!html && filter.contains(QLatin1String("*.txt"), Qt::CaseSensitive));
	if (!html && !endsWith(path, ".txt"))
		path += plain ? QStringLiteral(".txt") : QStringLiteral(".html");

	QString content;
	if (m_loadError) {
		// A note that could not be shown can still be rescued from its file.
		const OBSSourceAutoRelease scene(currentScene());
		QString error;
		const QString stored = scene ? m_store.readNote(scene, error) : QString();
		if (!error.isEmpty()) {
			setStatus(error);
			return;
		}
		content = plain ? htmlToPlainText(stored) : stored;
	} else if (plain) {
		content = m_editor->toPlainText();
		content.remove(QChar::ObjectReplacementCharacter);
	} else {
		content = m_editor->toHtml();
	}

	QSaveFile file(path);
	const QByteArray bytes = content.toUtf8();
	if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit()) {
		setStatus(text("Exported"));
		return;
	}
	const QString error = file.errorString();
	file.cancelWriting();
	m_dialogs->warning(this, text("ExportFailed"), error);
}

void Dock::convertToBasicFormat()
{
	if (!m_editor->isEnabled() || m_editor->isReadOnly() || m_editor->document()->isEmpty())
		return;
	QString html;
	if (!convertToBasic(*m_editor->document(), html)) {
		m_dialogs->warning(this, text("ConvertBasic"), text("ConvertFailed"));
		return;
	}
	if (replaceNote(html, "ConvertBasic", "ConvertPrompt", true))
		setStatus(text("ConvertedBasic"));
}

} // namespace quillmar
