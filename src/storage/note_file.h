#pragma once

#include <QByteArray>
#include <QString>

namespace quillmar {

// Note and backup files are refused above this size, both when reading and when writing.
constexpr qint64 MaxNoteFileBytes = 64 * 1024 * 1024;

// The three strings a note file carries.
struct NoteFileRecord {
	QString sceneId;
	QString sceneName;
	QString html;
};

// The compact JSON of one note file: {"format","html","sceneId","sceneName","version"}.
QByteArray encodeNoteFile(const QString &sceneId, const QString &sceneName, const QString &html);

// Validates the bytes of one note file and fills the record; on failure the record is untouched
// and error holds the text of "BackupTooLarge" or "BackupInvalid".
bool parseNoteFile(const QByteArray &bytes, NoteFileRecord &record, QString &error);

// A base name that every common file system accepts, derived from a scene name.
QString sanitizeNoteFileName(const QString &name);

} // namespace quillmar
