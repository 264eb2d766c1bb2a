#include "storage/backup.h"

#include "editor/note_limits.h"
#include "module/text.h"
#include "storage/note_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>
#include <QThreadPool>
#include <QUuid>

#include <deque>
#include <functional>
#include <future>
#include <memory>

namespace quillmar {

namespace {

constexpr qint64 MaxBackupTotal = 536870912;
constexpr int MaxBackupNotes = 10000;
// Bytes that jobs waiting for their turn may hold together (one job may always run).
constexpr qint64 MaxBytesInFlight = 192 * 1024 * 1024;

bool isSingleNoteBackup(const QString &path)
{
	return path.endsWith(QLatin1String(".json"), Qt::CaseInsensitive);
}

// "{A...}" and "a..." name the same scene; both would be restored onto it.
QString sceneKey(const QString &sceneId)
{
	return QUuid::fromString(sceneId).toString(QUuid::WithoutBraces);
}

// Runs jobs on a private thread pool and hands their results to one consumer strictly in the
// order the jobs were given, so the first failure in that order is the one reported, as if one
// note were handled after the other. Jobs own their inputs.
template <typename T>
class OrderedJobs {
public:
	explicit OrderedJobs(std::function<bool(T &)> consume) : m_consume(std::move(consume))
	{
		const int threads = qMax(1, QThread::idealThreadCount());
		m_pool.setMaxThreadCount(threads);
		m_maxJobs = threads + 1;
	}

	~OrderedJobs() { m_pool.waitForDone(); }

	// weight: the bytes the job holds at most. False once the consumer has failed.
	bool push(std::function<T()> job, qint64 weight)
	{
		while (!m_pending.empty() &&
		       (int(m_pending.size()) >= m_maxJobs || m_weight + weight > MaxBytesInFlight)) {
			if (!next())
				return false;
		}
		auto promise = std::make_shared<std::promise<T>>();
		m_pending.push_back({promise->get_future(), weight});
		m_weight += weight;
		m_pool.start([promise, job = std::move(job)]() mutable { promise->set_value(job()); });
		return true;
	}

	bool finish()
	{
		while (!m_pending.empty()) {
			if (!next())
				return false;
		}
		return true;
	}

private:
	struct Pending {
		std::future<T> result;
		qint64 weight;
	};

	bool next()
	{
		Pending pending = std::move(m_pending.front());
		m_pending.pop_front();
		m_weight -= pending.weight;
		T value = pending.result.get();
		return m_consume(value);
	}

	std::function<bool(T &)> m_consume;
	QThreadPool m_pool;
	std::deque<Pending> m_pending;
	qint64 m_weight = 0;
	int m_maxJobs = 2;
};

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
	// A short write is tried again, so that the device says why it stopped.
	const char *data = bytes.constData();
	qint64 left = bytes.size();
	qint64 n = 1;
	while (left > 0 && (n = file.write(data, left)) > 0) {
		data += n;
		left -= n;
	}
	if (left == 0 && file.flush()) {
		file.close();
		if (file.error() == QFileDevice::NoError)
			return true;
	}
	error = file.errorString();
	file.remove();
	return false;
}

// One note of a backup after the checks that need nothing but its own bytes.
struct CheckedNote {
	QString error;
	QString sceneId;
	QByteArray bytes;
};

CheckedNote checkNote(QByteArray bytes)
{
	CheckedNote note;
	NoteFileRecord record;
	if (!parseNoteFile(bytes, record, note.error))
		return note;
	if (!fitsNoteLimits(record.html)) {
		note.error = text("TextLimit");
		return note;
	}
	note.sceneId = record.sceneId;
	note.bytes = std::move(bytes);
	return note;
}

// The running total and the scenes taken so far, checked in the same order both ways.
class Tally {
public:
	bool add(qint64 bytes, const QString &sceneId, QString &error)
	{
		m_total += bytes;
		if (m_total > MaxBackupTotal || m_scenes.size() >= MaxBackupNotes) {
			error = text("BackupTooLarge");
			return false;
		}
		const QString key = sceneKey(sceneId);
		if (m_scenes.contains(key)) {
			error = text("BackupInvalid");
			return false;
		}
		m_scenes.insert(key);
		return true;
	}

private:
	qint64 m_total = 0;
	QSet<QString> m_scenes;
};

class Stager {
public:
	explicit Stager(const QString &directory) : m_directory(directory) { QDir().mkpath(directory); }

	bool stage(CheckedNote &note, QString &error)
	{
		if (!note.error.isEmpty()) {
			error = note.error;
			return false;
		}
		if (!m_tally.add(note.bytes.size(), note.sceneId, error))
			return false;
		const QString path = QDir(m_directory).filePath(QString::number(m_entries.size()) + QLatin1String(".json"));
		if (!writeStagedFile(path, note.bytes, error))
			return false;
		m_entries.append({path, note.sceneId});
		return true;
	}

	QList<RestoreEntry> entries() const { return m_entries; }

private:
	QString m_directory;
	Tally m_tally;
	QList<RestoreEntry> m_entries;
};

bool readArchive(const QString &path, Stager &stager, QString &error)
{
	ZipReader reader(backupZipLimits());
	if (!reader.open(path)) {
		error = reader.errorString();
		return false;
	}
	OrderedJobs<CheckedNote> jobs([&](CheckedNote &note) { return stager.stage(note, error); });
	const std::vector<ZipEntry> &entries = reader.entries();
	for (size_t i = 0; i < entries.size(); ++i) {
		const ZipEntry &entry = entries[i];
		if (entry.isDirectory())
			continue;
		QByteArray stored;
		if (!reader.readStored(int(i), stored)) {
			// A note before this one may fail first.
			if (jobs.finish())
				error = reader.errorString();
			return false;
		}
		auto job = [entry, stored = std::move(stored)]() mutable {
			if (!ZipReader::decode(entry, stored)) {
				CheckedNote note;
				note.error = text("BackupInvalid");
				return note;
			}
			return checkNote(std::move(stored));
		};
		// The inflated bytes, the note's text as UTF-16 and the stored bytes.
		if (!jobs.push(std::move(job), qint64(entry.compressedSize) + 3 * qint64(entry.size)))
			return false;
	}
	return jobs.finish();
}

// One note file read, checked and deflated for the archive.
struct PreparedNote {
	QString error;
	QString sceneId;
	ZipPreparedEntry entry;
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
	if (isSingleNoteBackup(target)) {
		if (notePaths.size() != 1) {
			error = text("BackupSingleNote");
			return false;
		}
		QByteArray bytes;
		NoteFileRecord record;
		return NoteStore::readNoteFileAt(notePaths.first(), bytes, record, error) &&
		       NoteStore::writeFileAtomically(target, bytes, error);
	}

	ZipWriter writer;
	if (!writer.open(target, error))
		return false;
	Tally tally;
	OrderedJobs<PreparedNote> jobs([&](PreparedNote &note) {
		if (!note.error.isEmpty()) {
			error = note.error;
			return false;
		}
		return tally.add(note.entry.size, note.sceneId, error) && writer.add(note.entry, error);
	});
	for (const QString &path : notePaths) {
		auto job = [path] {
			PreparedNote note;
			QByteArray bytes;
			NoteFileRecord record;
			if (NoteStore::readNoteFileAt(path, bytes, record, note.error)) {
				note.sceneId = record.sceneId;
				note.entry = ZipWriter::prepare(QFileInfo(path).fileName(), bytes);
			}
			return note;
		};
		// The file, its parsed text as UTF-16 and its deflated copy.
		const qint64 size = qBound<qint64>(0, QFileInfo(path).size(), MaxNoteFileBytes + 1);
		if (!jobs.push(std::move(job), 4 * size))
			return false;
	}
	return jobs.finish() && writer.commit(error);
}

QList<RestoreEntry> readBackup(const QString &path, const QString &stagingDirectory, QString &error)
{
	Stager stager(stagingDirectory);
	bool ok;
	if (isSingleNoteBackup(path)) {
		QByteArray bytes;
		NoteFileRecord record;
		ok = NoteStore::readNoteFileAt(path, bytes, record, error);
		if (ok) {
			CheckedNote note = checkNote(std::move(bytes));
			ok = stager.stage(note, error);
		}
	} else {
		ok = readArchive(path, stager, error);
	}
	return ok ? stager.entries() : QList<RestoreEntry>();
}

} // namespace quillmar
