#pragma once

// Builders shared by the tests: notes at and around the note limits, files, scene links and
// private mounts. Header-only so that tests without libobs can use the text builders.

#include "editor/note_limits.h"

#include <obs.hpp>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTest>
#include <QTextDocument>

#include <sys/mount.h>
#include <sched.h>

namespace quillmar::test {

// Paragraphs of the given lengths joined by line feeds; each paragraph repeats its own letter.
inline QString paragraphs(const QList<int> &lengths)
{
	QStringList texts;
	for (int i = 0; i < lengths.size(); ++i)
		texts << QString(lengths[i], QChar(u'a' + i % 26));
	return texts.join(u'\n');
}

// Plain text of exactly chars characters as a note counts them (separators included), in
// paragraphs of at most width characters.
inline QString noteOfLength(int chars, int width = 9000)
{
	QList<int> lengths;
	for (; chars > width; chars -= width + 1)
		lengths.append(width);
	return paragraphs(lengths << chars);
}

inline int noteChars(const QTextDocument *document) { return document->characterCount() - 1; }

inline QByteArray fileBytes(const QString &path)
{
	QFile f(path);
	return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Writes bytes, making the folder; returns whether all of them were written.
inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
	QDir().mkpath(QFileInfo(path).absolutePath());
	QFile f(path);
	return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// One row of the column "row" for each object of a table in tests/data/: the file's top array,
// or the array under key; each row is named by its "name", or by the field nameKey.
inline void jsonTable(const char *file, const char *key = nullptr, const char *nameKey = "name")
{
	QTest::addColumn<QJsonObject>("row");
	const QString path = QStringLiteral(QUILLMAR_SOURCE_DIR "/tests/data/") + QLatin1String(file);
	const QJsonDocument data = QJsonDocument::fromJson(fileBytes(path));
	const QJsonArray rows = key ? data[QLatin1String(key)].toArray() : data.array();
	QVERIFY2(!rows.isEmpty(), file);
	for (const QJsonValue &row : rows)
		QTest::newRow(qPrintable(row[QLatin1String(nameKey)].toString())) << row.toObject();
}

// The scene's link to its note file, or an empty object without one.
inline QJsonObject link(obs_source_t *scene)
{
	const OBSDataAutoRelease settings = obs_source_get_private_settings(scene);
	const OBSDataAutoRelease object = obs_data_get_obj(settings, "quillmar");
	return QJsonDocument::fromJson(object ? QByteArray(obs_data_get_json(object)) : QByteArray()).object();
}

inline void setLink(obs_source_t *scene, const QString &id, const QString &file, const QString &name)
{
	const OBSDataAutoRelease object = obs_data_create();
	obs_data_set_string(object, "id", id.toUtf8().constData());
	obs_data_set_string(object, "file", file.toUtf8().constData());
	obs_data_set_string(object, "name", name.toUtf8().constData());
	const OBSDataAutoRelease settings = obs_source_get_private_settings(scene);
	obs_data_set_obj(settings, "quillmar", object);
}

// A tmpfs at dir, seen by this process only; tests run as root, where permission bits stop
// nothing, so read-only and full file systems need real mounts. Empty, or why it failed.
inline QString mountPrivateTmpfs(const QString &dir, const char *options)
{
	static bool unshared = false;
	if (!unshared) {
		if (unshare(CLONE_NEWNS) != 0)
			return QStringLiteral("unshare(CLONE_NEWNS) failed");
		mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
		unshared = true;
	}
	QDir().mkpath(dir);
	return mount("quillmar-test", QFile::encodeName(dir).constData(), "tmpfs", 0, options) == 0
		       ? QString()
		       : QStringLiteral("mount tmpfs failed");
}

inline void unmount(const QString &dir) { umount2(QFile::encodeName(dir).constData(), MNT_DETACH); }

} // namespace quillmar::test
