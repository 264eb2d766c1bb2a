#include "storage/note_store.h"

#include "module/text.h"

#include <obs.hpp>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quillmar {

namespace {

struct SceneLink {
	QString id;
	QString file;
	QString name;
};

SceneLink readLink(obs_source_t *scene)
{
	SceneLink link;
	const OBSDataAutoRelease settings = obs_source_get_private_settings(scene);
	if (const OBSDataAutoRelease object = obs_data_get_obj(settings, "quillmar")) {
		link.id = QString::fromUtf8(obs_data_get_string(object, "id"));
		link.file = QString::fromUtf8(obs_data_get_string(object, "file"));
		link.name = QString::fromUtf8(obs_data_get_string(object, "name"));
	}
	return link;
}

QString sceneUuid(obs_source_t *scene)
{
	return QString::fromUtf8(obs_source_get_uuid(scene));
}

QString sceneName(obs_source_t *scene)
{
	return QString::fromUtf8(obs_source_get_name(scene));
}

bool isSymbolicLink(const QString &path)
{
	return QFileInfo(path).isSymLink();
}

QString fileNameOf(const QString &path)
{
	return QFileInfo(path).fileName();
}

enum class ReadResult { Ok, Missing, Failed, TooLarge };

// Reads a regular file without following a symbolic link at its last component, so that a link
// swapped in after any check is still not read through.
ReadResult readRegularFile(const QString &path, QByteArray &bytes)
{
#if defined(Q_OS_UNIX)
	const QByteArray native = QFile::encodeName(path);
	const int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
	if (fd < 0)
		return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
	struct stat st;
	if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
		::close(fd);
		return ReadResult::Failed;
	}
	if (st.st_size > MaxNoteFileBytes) {
		::close(fd);
		return ReadResult::TooLarge;
	}
	// One byte more than expected shows a file that grew while being read.
	QByteArray data(qsizetype(st.st_size) + 1, Qt::Uninitialized);
	qsizetype got = 0;
	for (;;) {
		if (got == data.size()) {
			if (data.size() > MaxNoteFileBytes)
				break;
			data.resize(qMin<qsizetype>(data.size() * 2, MaxNoteFileBytes + 1));
		}
		const ssize_t n = ::read(fd, data.data() + got, size_t(data.size() - got));
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0) {
			::close(fd);
			return ReadResult::Failed;
		}
		if (n == 0)
			break;
		got += n;
	}
	::close(fd);
	if (got > MaxNoteFileBytes)
		return ReadResult::TooLarge;
	data.truncate(got);
	bytes = std::move(data);
	return ReadResult::Ok;
#else
	if (isSymbolicLink(path))
		return ReadResult::Failed;
	QFile file(path);
	if (!file.open(QIODevice::ReadOnly))
		return file.error() == QFileDevice::OpenError && !QFileInfo::exists(path) ? ReadResult::Missing
											: ReadResult::Failed;
	if (!QFileInfo(path).isFile())
		return ReadResult::Failed;
	if (file.size() > MaxNoteFileBytes)
		return ReadResult::TooLarge;
	QByteArray data = file.read(MaxNoteFileBytes + 1);
	if (file.error() != QFileDevice::NoError)
		return ReadResult::Failed;
	if (data.size() > MaxNoteFileBytes)
		return ReadResult::TooLarge;
	bytes = std::move(data);
	return ReadResult::Ok;
#endif
}

// Fills error for a failed read; true when the file could be read.
bool checkRead(ReadResult result, const QString &path, QString &error)
{
	switch (result) {
	case ReadResult::Ok:
		return true;
	case ReadResult::TooLarge:
		error = text("BackupTooLarge");
		return false;
	case ReadResult::Missing:
	case ReadResult::Failed:
		break;
	}
	error = text("FileReadFailed") + QDir::toNativeSeparators(path);
	return false;
}

} // namespace

NoteStore::NoteStore(const QString &notesDirectory) : m_notesDirectory(QDir::cleanPath(notesDirectory)) {}

QString NoteStore::resolveNotePath(obs_source_t *scene) const
{
	if (!scene)
		return {};
	const SceneLink link = readLink(scene);
	if (link.id.isEmpty() || link.id != sceneUuid(scene) || link.file.isEmpty())
		return {};
	if (fileNameOf(link.file) != link.file || link.file.contains(QLatin1Char('\\')) ||
	    !link.file.endsWith(QLatin1String(".json"), Qt::CaseInsensitive))
		return {};
	return m_notesDirectory + QLatin1Char('/') + link.file;
}

QString NoteStore::readNote(obs_source_t *scene, QString &error) const
{
	const QString path = resolveNotePath(scene);
	if (path.isEmpty())
		return {};
	QByteArray bytes;
	const ReadResult result = readRegularFile(path, bytes);
	if (result == ReadResult::Missing)
		return {};
	if (!checkRead(result, path, error))
		return {};
	NoteFileRecord record;
	if (!parseNoteFile(bytes, record, error))
		return {};
	if (record.sceneId != sceneUuid(scene)) {
		error = text("NoteSceneMismatch");
		return {};
	}
	return record.html;
}

bool NoteStore::saveNote(obs_source_t *scene, const QString &html, QString &error, const QDateTime &modificationTime)
{
	if (!scene) {
		error = text("SelectScene");
		return false;
	}
	const NoteTarget target = planTarget(scene, {});
	QString detail;
	if (!writeFileAtomically(target.path, encodeNoteFile(target.sceneId, target.sceneName, html), detail,
				 modificationTime)) {
		error = detail.isEmpty() ? text("NoteSaveFailed") : detail;
		return false;
	}
	writeSceneLink(scene, target);
	return true;
}

bool NoteStore::syncSceneName(obs_source_t *scene, QString &error)
{
	const QString path = resolveNotePath(scene);
	if (path.isEmpty())
		return true;
	if (readLink(scene).name == sceneName(scene))
		return true;
	const QDateTime modified = QFileInfo(path).lastModified();
	QString readError;
	const QString html = readNote(scene, readError);
	if (!readError.isEmpty()) {
		error = readError;
		return false;
	}
	return saveNote(scene, html, error, modified);
}

bool NoteStore::clearNoteIfNotNewer(obs_source_t *scene, const QDateTime &cutoff, QString &error)
{
	const QString path = resolveNotePath(scene);
	if (path.isEmpty() || !cutoff.isValid())
		return false;
	const QFileInfo info(path);
	if (!info.exists() || !info.lastModified().isValid() || info.lastModified() > cutoff)
		return false;
	QString readError;
	const QString html = readNote(scene, readError);
	if (!readError.isEmpty()) {
		error = readError;
		return false;
	}
	if (html.isEmpty())
		return false;
	return saveNote(scene, QString(), error);
}

NoteTarget NoteStore::planTarget(obs_source_t *scene, const QSet<QString> &reservedNames) const
{
	NoteTarget target;
	target.sceneId = sceneUuid(scene);
	target.sceneName = sceneName(scene);
	const QString current = resolveNotePath(scene);
	const QString stored = readLink(scene).name;
	bool keep = false;
	if (!current.isEmpty()) {
		const QString file = fileNameOf(current);
		const QString base = file.left(file.size() - 5); // without ".json"
		keep = stored == target.sceneName ||
		       base.compare(sanitizeNoteFileName(target.sceneName), Qt::CaseInsensitive) == 0;
	}
	target.path = keep ? current : allocateFileName(target.sceneName, current, reservedNames);
	target.previousPath = current;
	return target;
}

QString NoteStore::allocateFileName(const QString &sceneName, const QString &excludedPath,
				    const QSet<QString> &reservedNames) const
{
	const QString base = sanitizeNoteFileName(sceneName);
	const QString excluded = excludedPath.isEmpty() ? QString() : QDir::cleanPath(excludedPath);
	QSet<QString> taken = reservedNames;
	// Hidden entries count too: a scene named ".intro" must not take over a deleted scene's
	// ".intro.json".
	const QStringList entries = QDir(m_notesDirectory)
					    .entryList(QDir::AllEntries | QDir::System | QDir::Hidden |
						       QDir::NoDotAndDotDot);
	for (const QString &entry : entries) {
		if (!excluded.isEmpty() && m_notesDirectory + QLatin1Char('/') + entry == excluded)
			continue;
		taken.insert(entry.toCaseFolded());
	}
	for (int n = 1;; ++n) {
		const QString candidate = n == 1 ? base + QLatin1String(".json")
						 : base + QLatin1Char('_') + QString::number(n) + QLatin1String(".json");
		if (!taken.contains(candidate.toCaseFolded()))
			return m_notesDirectory + QLatin1Char('/') + candidate;
	}
}

void NoteStore::writeSceneLink(obs_source_t *scene, const NoteTarget &target)
{
	if (readLink(scene).name == target.sceneName && target.previousPath == target.path)
		return;
	const OBSDataAutoRelease link = obs_data_create();
	obs_data_set_string(link, "id", target.sceneId.toUtf8().constData());
	obs_data_set_string(link, "file", fileNameOf(target.path).toUtf8().constData());
	obs_data_set_string(link, "name", target.sceneName.toUtf8().constData());
	const OBSDataAutoRelease settings = obs_source_get_private_settings(scene);
	obs_data_set_obj(settings, "quillmar", link);
	m_collectionDirty = true;
	if (!target.previousPath.isEmpty() && target.previousPath.compare(target.path, Qt::CaseInsensitive) != 0 &&
	    !isSymbolicLink(target.previousPath))
		QFile::remove(target.previousPath);
}

QString NoteStore::saveOrphanedNote(const QString &sceneId, const QString &sceneName, const QString &previousPath,
				    const QString &html, QString &error)
{
	const QString path = previousPath.isEmpty() ? allocateFileName(sceneName, {}, {}) : previousPath;
	QString detail;
	if (!writeFileAtomically(path, encodeNoteFile(sceneId, sceneName, html), detail)) {
		error = detail.isEmpty() ? text("NoteSaveFailed") : detail;
		return {};
	}
	return path;
}

bool NoteStore::takeCollectionDirty()
{
	const bool dirty = m_collectionDirty;
	m_collectionDirty = false;
	return dirty;
}

bool NoteStore::readNoteFileAt(const QString &path, QByteArray &bytes, NoteFileRecord &record, QString &error)
{
	if (!checkRead(readRegularFile(path, bytes), path, error))
		return false;
	return parseNoteFile(bytes, record, error);
}

bool NoteStore::writeFileAtomically(const QString &path, const QByteArray &bytes, QString &error,
				    const QDateTime &modificationTime)
{
	if (bytes.size() > MaxNoteFileBytes) {
		error = text("BackupTooLarge");
		return false;
	}
	const QFileInfo info(path);
	if (!QDir().mkpath(info.absolutePath())) {
		error = text("NoteSaveFailed");
		return false;
	}
	// Never write through a link, whatever the caller checked.
	if (info.isSymLink()) {
		error = text("NoteSaveFailed");
		return false;
	}
	QSaveFile file(path);
	bool ok = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
	if (ok && modificationTime.isValid())
		ok = file.flush() && file.setFileTime(modificationTime, QFileDevice::FileModificationTime);
	if (ok)
		ok = file.commit();
	if (!ok) {
		error = file.errorString();
		if (error.isEmpty())
			error = text("NoteSaveFailed");
		file.cancelWriting();
		return false;
	}
	return true;
}

OBSSourceAutoRelease sceneByUuid(const QString &uuid)
{
	if (uuid.isEmpty())
		return {};
	OBSSourceAutoRelease source = obs_get_source_by_uuid(uuid.toUtf8().constData());
	obs_scene_t *scene = source ? obs_scene_from_source(source) : nullptr;
	// A group is a scene inside, but obs_scene_from_source() refuses it.
	if (!scene || obs_source_removed(source))
		return {};
	return source;
}

} // namespace quillmar
