#include "storage/note_file.h"

#include "module/text.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QUuid>

namespace quillmar {

namespace {

constexpr char FormatName[] = "OBS-Quillmar";
constexpr int MaxBaseNameUnits = 100;
constexpr int MaxBaseNameBytes = 180;

// JSON string escaping on UTF-8 bytes: only ASCII needs escaping, so multi-byte sequences pass
// through untouched. Notes are megabytes of HTML, so this avoids building a QJsonObject.
void appendJsonString(QByteArray &out, const QString &value)
{
	static const char hex[] = "0123456789abcdef";
	const QByteArray utf8 = value.toUtf8();
	out.append('"');
	const char *p = utf8.constData();
	const char *end = p + utf8.size();
	const char *run = p;
	for (; p != end; ++p) {
		const auto c = static_cast<unsigned char>(*p);
		if (c >= 0x20 && c != '"' && c != '\\')
			continue;
		out.append(run, p - run);
		run = p + 1;
		switch (c) {
		case '"':
			out.append("\\\"", 2);
			break;
		case '\\':
			out.append("\\\\", 2);
			break;
		case '\n':
			out.append("\\n", 2);
			break;
		case '\r':
			out.append("\\r", 2);
			break;
		case '\t':
			out.append("\\t", 2);
			break;
		case '\b':
			out.append("\\b", 2);
			break;
		case '\f':
			out.append("\\f", 2);
			break;
		default: {
			const char escaped[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
			out.append(escaped, sizeof escaped);
		}
		}
	}
	out.append(run, end - run);
	out.append('"');
}

bool fail(QString &error, const char *key)
{
	error = text(key);
	return false;
}

} // namespace

QByteArray encodeNoteFile(const QString &sceneId, const QString &sceneName, const QString &html)
{
	QByteArray out;
	// Escaping rarely grows HTML by more than a few percent.
	out.reserve(html.size() + html.size() / 8 + sceneName.size() * 3 + 160);
	out.append("{\"format\":\"");
	out.append(FormatName);
	out.append("\",\"html\":");
	appendJsonString(out, html);
	out.append(",\"sceneId\":");
	appendJsonString(out, sceneId);
	out.append(",\"sceneName\":");
	appendJsonString(out, sceneName);
	out.append(",\"version\":1}");
	return out;
}

bool parseNoteFile(const QByteArray &bytes, NoteFileRecord &record, QString &error)
{
	if (bytes.size() > MaxNoteFileBytes)
		return fail(error, "BackupTooLarge");
	QJsonParseError parseError;
	const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
	if (parseError.error != QJsonParseError::NoError || !doc.isObject())
		return fail(error, "BackupInvalid");
	const QJsonObject object = doc.object();
	const QJsonValue format = object.value(QLatin1String("format"));
	const QJsonValue version = object.value(QLatin1String("version"));
	const QJsonValue sceneId = object.value(QLatin1String("sceneId"));
	const QJsonValue sceneName = object.value(QLatin1String("sceneName"));
	const QJsonValue html = object.value(QLatin1String("html"));
	if (!format.isString() || format.toString() != QLatin1String(FormatName))
		return fail(error, "BackupInvalid");
	if (!version.isDouble() || version.toDouble() != 1.0)
		return fail(error, "BackupInvalid");
	if (!sceneId.isString() || !sceneName.isString() || !html.isString())
		return fail(error, "BackupInvalid");
	const QString id = sceneId.toString();
	if (QUuid::fromString(id).isNull())
		return fail(error, "BackupInvalid");
	record.sceneId = id;
	record.sceneName = sceneName.toString();
	record.html = html.toString();
	return true;
}

QString sanitizeNoteFileName(const QString &name)
{
	QString base = name.normalized(QString::NormalizationForm_C);
	for (QChar &c : base) {
		const char16_t u = c.unicode();
		if (u < 0x20 || u == '<' || u == '>' || u == ':' || u == '"' || u == '/' || u == '\\' || u == '|' ||
		    u == '?' || u == '*')
			c = QLatin1Char('_');
	}
	base = base.trimmed();
	base.truncate(MaxBaseNameUnits);
	if (!base.isEmpty() && base.back().isHighSurrogate())
		base.chop(1);
	while (base.toUtf8().size() > MaxBaseNameBytes)
		base.chop(base.size() >= 2 && base.back().isLowSurrogate() ? 2 : 1);
	while (base.endsWith(QLatin1Char('.')) || base.endsWith(QLatin1Char(' ')))
		base.chop(1);
	if (base.isEmpty())
		base = QStringLiteral("Scene");
	static const QRegularExpression reserved(QStringLiteral("^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])(?:\\.|$)"),
						 QRegularExpression::CaseInsensitiveOption);
	if (reserved.match(base).hasMatch())
		base.prepend(QLatin1Char('_'));
	return base;
}

} // namespace quillmar
