#include "storage/backup.h"

#include "editor/note_limits.h"
#include "module/text.h"
#include "storage/note_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUuid>

namespace quillmar {

namespace {

constexpr qint64 MaxBackupTotal = 536870912;
constexpr int MaxBackupNotes = 10000;

bool isSingleNoteBackup(const QString &path)
{
	return path.endsWith(QLatin1String(".json"), Qt::CaseInsensitive);
}

// "{A...}" and "a..." name the same scene; both would be restored onto it.
QString sceneKey(const QString &sceneId)
{
	return QUuid::fromString(sceneId).toString(QUuid::WithoutBraces);
}

// Staged copies live in a fresh directory of the caller's that is discarded after the restore, so
// they are not flushed to disk one by one (several milliseconds per file, minutes for a large
// restore). Creating each file exclusively means nothing already there, a link included, is ever
// written through.
bool writeStagedFile(const QString &path, const QByteArray &bytes, QString &error)
{
	QFile file(path);
	if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
		error = file.errorString();
		return false;
	}
	if (file.write(bytes) == bytes.size() && file.flush()) {
		file.close();
		if (file.error() == QFileDevice::NoError)
			return true;
	}
	error = file.errorString();
	file.remove();
	return false;
}

class Stager {
public:
	explicit Stager(const QString &directory) : m_directory(directory) { QDir().mkpath(directory); }

	bool stage(const NoteFileRecord &record, const QByteArray &bytes, QString &error)
	{
		if (!fitsNoteLimits(record.html)) {
			error = text("TextLimit");
			return false;
		}
		m_total += bytes.size();
		if (m_total > MaxBackupTotal || m_entries.size() >= MaxBackupNotes) {
			error = text("BackupTooLarge");
			return false;
		}
		const QString key = sceneKey(record.sceneId);
		if (m_scenes.contains(key)) {
			error = text("BackupInvalid");
			return false;
		}
		const QString path = QDir(m_directory).filePath(QString::number(m_entries.size()) + QLatin1String(".json"));
		if (!writeStagedFile(path, bytes, error))
			return false;
		m_scenes.insert(key);
		m_entries.append({path, record.sceneId});
		return true;
	}

	QList<RestoreEntry> entries() const { return m_entries; }

private:
	QString m_directory;
	qint64 m_total = 0;
	QSet<QString> m_scenes;
	QList<RestoreEntry> m_entries;
};

} // namespace

ZipLimits backupZipLimits()
{
	ZipLimits limits;
	limits.maxEntries = MaxBackupNotes;
	limits.maxEntrySize = quint32(MaxNoteFileBytes);
	limits.maxTotalSize = MaxBackupTotal;
	limits.acceptName = [](const QString &name) {
		return isSafeZipName(name) && name.endsWith(QLatin1String(".json"), Qt::CaseInsensitive);
	};
	return limits;
}

bool writeBackup(const QString &target, const QStringList &notePaths, QString &error)
{
	if (notePaths.isEmpty() || notePaths.size() > MaxBackupNotes) {
		error = text("BackupEmpty");
		return false;
	}
	QByteArray bytes;
	NoteFileRecord record;
	if (isSingleNoteBackup(target)) {
		if (notePaths.size() != 1) {
			error = text("BackupSingleNote");
			return false;
		}
		return NoteStore::readNoteFileAt(notePaths.first(), bytes, record, error) &&
		       NoteStore::writeFileAtomically(target, bytes, error);
	}

	ZipWriter writer;
	if (!writer.open(target, error))
		return false;
	qint64 total = 0;
	QSet<QString> scenes;
	for (const QString &path : notePaths) {
		if (!NoteStore::readNoteFileAt(path, bytes, record, error))
			return false;
		total += bytes.size();
		if (total > MaxBackupTotal) {
			error = text("BackupTooLarge");
			return false;
		}
		const QString key = sceneKey(record.sceneId);
		if (scenes.contains(key)) {
			error = text("BackupInvalid");
			return false;
		}
		scenes.insert(key);
		if (!writer.add(QFileInfo(path).fileName(), bytes, error))
			return false;
	}
	return writer.commit(error);
}

QList<RestoreEntry> readBackup(const QString &path, const QString &stagingDirectory, QString &error)
{
	Stager stager(stagingDirectory);
	bool ok;
	if (isSingleNoteBackup(path)) {
		QByteArray bytes;
		NoteFileRecord record;
		ok = NoteStore::readNoteFileAt(path, bytes, record, error) && stager.stage(record, bytes, error);
	} else {
		ok = readZip(
			path, backupZipLimits(),
			[&stager](const QString &, const QByteArray &bytes, QString &entryError) {
				NoteFileRecord record;
				return parseNoteFile(bytes, record, entryError) && stager.stage(record, bytes, entryError);
			},
			error);
	}
	return ok ? stager.entries() : QList<RestoreEntry>();
}

} // namespace quillmar
