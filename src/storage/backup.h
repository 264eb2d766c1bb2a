#pragma once

#include "documents/zip.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace quillmar {

// One note read out of a backup and staged for restoring.
struct RestoreEntry {
	QString stagedPath;
	QString sceneId;
};

// What a multi-note backup archive may hold: note files ending in ".json" at safe paths, at most
// 10000 entries of 64 MiB each and 512 MiB together.
ZipLimits backupZipLimits();

// A target ending in ".json" gets the one note file byte for byte; any other name a ZIP archive of
// the note files in the given order. Nothing at the target changes unless the whole backup was
// written. Safe on a worker thread: it touches only the files named.
bool writeBackup(const QString &target, const QStringList &notePaths, QString &error);

// Validates every note of a backup and copies it unchanged to 0.json, 1.json, ... in the staging
// directory. Empty with error set on any failure; files staged until then are the caller's to
// discard with the directory. Safe on a worker thread.
QList<RestoreEntry> readBackup(const QString &path, const QString &stagingDirectory, QString &error);

} // namespace quillmar
