#pragma once

#include "storage/note_file.h"

#include <obs.hpp>

#include <QDateTime>
#include <QSet>
#include <QString>

namespace quillmar {

// Where one scene's note is about to be written.
struct NoteTarget {
	QString sceneId;
	QString sceneName;
	QString path;
	// The file the scene's link resolved to before, or empty.
	QString previousPath;
};

// Reads, writes, names, renames and clears the note files of the notes directory, and keeps each
// scene's link to its file in the scene's private settings. Symbolic links are never read,
// written through or deleted. Used on the dock's thread, except the two static file functions,
// which backups also run on worker threads.
class NoteStore {
public:
	explicit NoteStore(const QString &notesDirectory);

	QString notesDirectory() const { return m_notesDirectory; }

	// The scene's note file, or empty when the scene has no usable link.
	QString resolveNotePath(obs_source_t *scene) const;
	// Empty with an empty error: the scene has no note yet.
	QString readNote(obs_source_t *scene, QString &error) const;
	// An invalid modificationTime gives the file the current time.
	bool saveNote(obs_source_t *scene, const QString &html, QString &error,
		      const QDateTime &modificationTime = QDateTime());
	// Moves the note to a file named after the scene's current name when its name changed.
	bool syncSceneName(obs_source_t *scene, QString &error);
	// True only when a note was emptied.
	bool clearNoteIfNotNewer(obs_source_t *scene, const QDateTime &cutoff, QString &error);

	// reservedNames holds case-folded file names that count as taken besides the directory's.
	NoteTarget planTarget(obs_source_t *scene, const QSet<QString> &reservedNames) const;
	QString allocateFileName(const QString &sceneName, const QString &excludedPath,
				 const QSet<QString> &reservedNames) const;
	void writeSceneLink(obs_source_t *scene, const NoteTarget &target);

	// For a scene that vanished with unsaved edits: writes them to previousPath (the file its
	// note came from) or, when empty, to a new file named after sceneName. No link is written.
	// Returns the path written, or empty with error set.
	QString saveOrphanedNote(const QString &sceneId, const QString &sceneName, const QString &previousPath,
				 const QString &html, QString &error);

	bool takeCollectionDirty();

	static bool readNoteFileAt(const QString &path, QByteArray &bytes, NoteFileRecord &record, QString &error);
	// The one writer for note and backup files: the target is replaced only once every byte is
	// written, so it is never left half-written.
	static bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString &error,
					const QDateTime &modificationTime = QDateTime());

private:
	bool m_collectionDirty = false;
	QString m_notesDirectory;
};

// A scene of the current collection by UUID; empty for a group, a removed scene or anything else.
OBSSourceAutoRelease sceneByUuid(const QString &uuid);

} // namespace quillmar
