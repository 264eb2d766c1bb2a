// Backing notes up to a file and restoring them onto the scenes they belong to.
#include "dock/dock.h"

#include "dock/dock_dialogs.h"
#include "editor/editor.h"
#include "module/text.h"
#include "storage/backup.h"

#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QThread>

#include <vector>

namespace quillmar {

namespace {

// One backup entry matched to a scene of this collection.
struct RestorePlan {
	OBSSourceAutoRelease scene;
	NoteTarget target;
	QString stagedPath;
};

// Runs on the worker thread: touches only the staged files and the planned targets. Returns the
// number written; stops at the first failure with its error.
int writeRestoredNotes(const std::vector<RestorePlan> &plans, QString &error)
{
	int restored = 0;
	for (const RestorePlan &plan : plans) {
		QFile staged(plan.stagedPath);
		if (!staged.open(QIODevice::ReadOnly)) {
			error = staged.errorString();
			break;
		}
		NoteFileRecord record;
		if (!parseNoteFile(staged.read(MaxNoteFileBytes + 1), record, error))
			break;
		// The note belongs to the scene it is restored into, under that scene's current name.
		record.sceneId = plan.target.sceneId;
		record.sceneName = plan.target.sceneName;
		if (QFileInfo(plan.target.path).isSymLink()) {
			error = text("BackupInvalid");
			break;
		}
		if (!NoteStore::writeFileAtomically(plan.target.path,
						    encodeNoteFile(record.sceneId, record.sceneName, record.html), error))
			break;
		++restored;
	}
	return restored;
}

// A scene of this collection with the given UUID; null for anything else (gone, removed, a
// group or another kind of source).
bool hasSuffix(const QString &name, const char *suffix)
{
	return name.endsWith(QLatin1String(suffix), Qt::CaseInsensitive);
}

} // namespace

void Dock::runWithProgress(const QString &label, const std::function<void()> &job)
{
	QProgressDialog progress(label, QString(), 0, 0, this);
	progress.setCancelButton(nullptr);
	progress.setWindowModality(Qt::ApplicationModal);
	progress.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
	progress.setMinimumDuration(0);

	QEventLoop loop;
	QThread *thread = QThread::create(job);
	connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
	progress.show();
	thread->start();
	loop.exec();
	thread->wait();
	delete thread;
}

void Dock::backup(bool all)
{
	if (!saveNote(true, true))
		return;
	QString baseName = QStringLiteral("OBS-Quillmar_Backup");
	QStringList paths;
	if (!all) {
		const OBSSourceAutoRelease scene(currentScene());
		if (!scene)
			return;
		QString path = m_store.resolveNotePath(scene);
		if (path.isEmpty()) {
			QString error;
			if (!m_store.saveNote(scene, QString(), error)) {
				setStatus(error);
				return;
			}
			path = m_store.resolveNotePath(scene);
		}
		if (!path.isEmpty())
			paths << path;
		baseName = sanitizeNoteFileName(QString::fromUtf8(obs_source_get_name(scene)));
		saveNote(true, true);
	} else {
		const QDir notes(m_store.notesDirectory());
		for (const QString &name : notes.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name))
			paths << notes.absoluteFilePath(name);
	}
	if (paths.isEmpty()) {
		setStatus(text("BackupEmpty"));
		return;
	}

	const char *extension = all ? ".zip" : ".json";
	const QString suggested =
		baseName + QDateTime::currentDateTime().toString(QStringLiteral("_yyyyMMdd_HHmmss")) +
		QLatin1String(extension);
	QString target = m_dialogs->saveFileName(this, text(all ? "BackupAll" : "BackupCurrent"), suggested,
						 all ? QStringLiteral("ZIP (*.zip)") : QStringLiteral("JSON (*.json)"),
						 nullptr);
	if (target.isEmpty())
		return;
	if (!hasSuffix(target, extension))
		target += QLatin1String(extension);
	// A backup among the note files would be read as a note of its own.
	const QString targetDir = QFileInfo(QFileInfo(target).absolutePath()).canonicalFilePath();
	if (!targetDir.isEmpty() && targetDir == QFileInfo(m_store.notesDirectory()).canonicalFilePath()) {
		m_dialogs->warning(this, text("BackupFailed"), text("BackupChooseFolder"));
		return;
	}

	QString error;
	bool written = false;
	runWithProgress(text("BackingUp"), [&] { written = writeBackup(target, paths, error); });
	if (!written)
		m_dialogs->warning(this, text("BackupFailed"), error);
	else
		setStatus(text("BackupSaved"));
}

void Dock::restoreBackup()
{
	if (m_locked || m_remoteEditing || m_restoring || m_closing)
		return;
	if (!saveNote(true, true) || m_currentUuid.isEmpty())
		return;
	const QString path =
		m_dialogs->openFileName(this, text("RestoreBackup"), QStringLiteral("Quillmar (*.json *.zip)"));
	if (path.isEmpty())
		return;
	QTemporaryDir staging;
	if (!staging.isValid()) {
		setStatus(text("RestoreFailed"));
		return;
	}

	QString error;
	QList<RestoreEntry> entries;
	runWithProgress(text("CheckingBackup"), [&] { entries = readBackup(path, staging.path(), error); });
	if (!error.isEmpty()) {
		m_dialogs->warning(this, text("RestoreFailed"), error);
		return;
	}
	if (m_closing || m_locked || m_remoteEditing || !saveNote(true, true))
		return;

	const bool single = hasSuffix(path, ".json");
	std::vector<RestorePlan> plans;
	QSet<QString> reserved;
	int unmatched = 0;
	int existing = 0;
	for (const RestoreEntry &entry : entries) {
		OBSSourceAutoRelease scene = single ? OBSSourceAutoRelease(currentScene()) : sceneByUuid(entry.sceneId);
		if (!scene || obs_source_removed(scene)) {
			++unmatched;
			continue;
		}
		NoteTarget target = m_store.planTarget(scene, reserved);
		reserved.insert(QFileInfo(target.path).fileName().toCaseFolded());
		if (QFileInfo::exists(target.path))
			++existing;
		plans.push_back({std::move(scene), std::move(target), entry.stagedPath});
	}
	if (plans.empty()) {
		m_dialogs->information(this, text("RestoreBackup"), text("RestoreNoMatch"));
		return;
	}
	if (m_dialogs->question(this, text("RestoreBackup"),
				text("RestorePrompt").arg(qsizetype(plans.size())).arg(existing)) != QMessageBox::Yes)
		return;
	if (m_closing || m_locked || m_remoteEditing || !saveNote(true, true))
		return;

	beginRestore();
	stopScrolling();
	m_editor->setReadOnly(true);
	notifyRemoteCollectionChanging(true);
	int restored = 0;
	QString workerError;
	runWithProgress(text("RestoringBackup"), [&] { restored = writeRestoredNotes(plans, workerError); });
	for (int i = 0; i < restored; ++i)
		m_store.writeSceneLink(plans[size_t(i)].scene, plans[size_t(i)].target);
	endRestore();

	const QString report = text("RestoreResult").arg(restored).arg(unmatched);
	if (workerError.isEmpty())
		setStatus(report);
	else
		m_dialogs->warning(this, text("RestoreFailed"), report + QLatin1Char('\n') + workerError);
}

} // namespace quillmar
