// Note files from disk or from a backup archive are untrusted. The fast reader must accept
// exactly what a general JSON parser accepts as a note file, decode the same strings, and
// everything it accepts must survive being written back.
#include "storage/note_file.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include <cstdlib>

using namespace quillmar;

namespace {

bool referenceParse(const QByteArray &bytes, NoteFileRecord &record)
{
	QJsonParseError error;
	const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
	if (error.error != QJsonParseError::NoError || !doc.isObject())
		return false;
	const QJsonObject o = doc.object();
	// QJsonObject::value finds "sceneId\u0000" when asked for "sceneId"; a key must match whole.
	auto field = [&o](const char *name) {
		QJsonValue value;
		for (auto it = o.begin(); it != o.end(); ++it)
			if (it.key() == QLatin1String(name))
				value = it.value();
		return value;
	};
	const QJsonValue format = field("format");
	const QJsonValue version = field("version");
	const QJsonValue id = field("sceneId");
	const QJsonValue name = field("sceneName");
	const QJsonValue html = field("html");
	if (format.toString() != QLatin1String("OBS-Quillmar") || !version.isDouble() || version.toDouble() != 1.0 ||
	    !id.isString() || !name.isString() || !html.isString() || QUuid::fromString(id.toString()).isNull())
		return false;
	record = {id.toString(), name.toString(), html.toString()};
	return true;
}

bool hasSurrogate(const QString &s)
{
	for (QChar c : s)
		if (c.isSurrogate())
			return true;
	return false;
}

void check(bool condition)
{
	if (!condition)
		std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
	NoteFileRecord ours, theirs;
	QString error;
	const bool accepted = parseNoteFile(bytes, ours, error);
	const bool reference = referenceParse(bytes, theirs);
	check(accepted == reference);
	check(accepted == error.isEmpty());
	if (!accepted)
		return 0;
	// Escaped lone surrogates have no UTF-8 form; the fast reader turns them into U+FFFD.
	if (!hasSurrogate(theirs.html) && !hasSurrogate(theirs.sceneName) && !hasSurrogate(theirs.sceneId)) {
		check(ours.html == theirs.html);
		check(ours.sceneName == theirs.sceneName);
		check(ours.sceneId == theirs.sceneId);
	}
	NoteFileRecord again;
	check(parseNoteFile(encodeNoteFile(ours.sceneId, ours.sceneName, ours.html), again, error));
	check(again.html == ours.html && again.sceneName == ours.sceneName && again.sceneId == ours.sceneId);
	return 0;
}
