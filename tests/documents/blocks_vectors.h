#pragma once

// Reading and comparing the block document vectors of tests/data/blocks (see its README.md).

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace blocktest {

inline QJsonValue expand(const QJsonValue &value)
{
	const QLatin1String repeat("$repeat");
	if (value.isArray()) {
		QJsonArray out;
		for (const QJsonValue item : value.toArray()) {
			const QJsonObject o = item.toObject();
			if (item.isObject() && o.contains(repeat) && !o.value(repeat).isString()) {
				const QJsonValue copy = expand(o.value(repeat));
				const QJsonArray pieces = copy.isArray() ? copy.toArray() : QJsonArray{copy};
				for (int i = o.value(QLatin1String("times")).toInt(); i > 0; --i)
					for (const QJsonValue piece : pieces)
						out.append(piece);
			} else {
				out.append(expand(item));
			}
		}
		return out;
	}
	if (value.isObject()) {
		const QJsonObject o = value.toObject();
		if (o.value(repeat).isString())
			return o.value(repeat).toString().repeated(o.value(QLatin1String("times")).toInt());
		QJsonObject out;
		for (auto it = o.begin(); it != o.end(); ++it)
			out.insert(it.key(), expand(it.value()));
		return out;
	}
	return value;
}

// A string, or a list of strings to join.
inline QString joined(const QJsonValue &value)
{
	QString out = value.toString();
	for (const QJsonValue piece : value.toArray())
		out += piece.toString();
	return out;
}

// The cases of one vector file, expanded; empty when the file is missing or malformed.
inline QJsonArray loadCases(const QString &name)
{
	QFile file(QStringLiteral(QUILLMAR_SOURCE_DIR "/tests/data/blocks/") + name);
	if (!file.open(QIODevice::ReadOnly))
		return {};
	const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
	return expand(root.value(QLatin1String("cases"))).toArray();
}

inline QString compact(const QJsonValue &value)
{
	const QJsonDocument doc = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
	return QString::fromUtf8(doc.toJson(QJsonDocument::Compact)).left(400);
}

struct Compare {
	bool wildcards = false; // "size" 0 and "family" "" on the expected side match anything
	bool lists = true;	// compare "listGroup" (renumbered) and "listStart"
};

inline bool sameFormat(const QJsonObject &actual, const QJsonObject &expected, const Compare &how)
{
	for (const char *key : {"weight", "italic", "underline", "strike", "size", "family", "color", "background"}) {
		const QJsonValue e = expected.value(QLatin1String(key));
		const bool any = how.wildcards && ((qstrcmp(key, "size") == 0 && e.isDouble() && e.toDouble() == 0) ||
						   (qstrcmp(key, "family") == 0 && e.toString().isEmpty()));
		if (!any && actual.value(QLatin1String(key)) != e)
			return false;
	}
	return true;
}

// The text of a block's runs, and for every character the index of its run.
inline QString flatten(const QJsonArray &runs, QList<int> &owner)
{
	QString text;
	for (qsizetype i = 0; i < runs.size(); ++i) {
		const QString t = runs.at(i)[QLatin1String("text")].toString();
		text += t;
		owner.append(QList<int>(t.size(), int(i)));
	}
	return text;
}

// Blocks compared as the README says; *why names the first difference.
inline bool sameBlocks(const QJsonArray &actual, const QJsonArray &expected, const Compare &how, QString *why)
{
	if (actual.size() != expected.size()) {
		*why = QStringLiteral("%1 blocks, expected %2\nactual:   %3\nexpected: %4")
			       .arg(actual.size())
			       .arg(expected.size())
			       .arg(compact(actual), compact(expected));
		return false;
	}
	// "listGroup" numbered 1, 2, 3 ... in order of first appearance on each side; 0 stays 0.
	QHash<double, qsizetype> groupsA, groupsE;
	auto group = [](QHash<double, qsizetype> &seen, const QJsonObject &block) {
		const double g = block.value(QLatin1String("listGroup")).toDouble();
		return g == 0 ? 0 : seen.contains(g) ? seen.value(g) : seen.insert(g, seen.size() + 1).value();
	};
	for (qsizetype b = 0; b < actual.size(); ++b) {
		const QJsonObject a = actual.at(b).toObject();
		const QJsonObject e = expected.at(b).toObject();
		QString what;
		for (const char *key : {"align", "indent", "list", "listIndent", "listStart"})
			if ((how.lists || qstrcmp(key, "listStart") != 0) &&
			    a.value(QLatin1String(key)).toDouble() != e.value(QLatin1String(key)).toDouble())
				what = QLatin1String(key);
		if (group(groupsA, a) != group(groupsE, e) && how.lists)
			what = QStringLiteral("listGroup");
		const QJsonArray ra = a.value(QLatin1String("runs")).toArray();
		const QJsonArray re = e.value(QLatin1String("runs")).toArray();
		QList<int> oa, oe;
		if (what.isEmpty() && flatten(ra, oa) != flatten(re, oe))
			what = QStringLiteral("text");
		for (qsizetype k = 0; what.isEmpty() && k < oa.size(); ++k)
			if ((k == 0 || oa[k] != oa[k - 1] || oe[k] != oe[k - 1]) &&
			    !sameFormat(ra.at(oa[k]).toObject(), re.at(oe[k]).toObject(), how))
				what = QStringLiteral("format at character %1").arg(k);
		if (!what.isEmpty()) {
			*why = QStringLiteral("block %1: %2\nactual:   %3\nexpected: %4").arg(b).arg(what, compact(a), compact(e));
			return false;
		}
	}
	return true;
}

// Consecutive list blocks with the same group, style and indent share one list, numbered from
// the first one's start; any other neighbour starts a list of its own.
inline bool listsAgree(const QJsonArray &stored, const QJsonArray &sent, QString *why)
{
	auto key = [](const QJsonValue &b) {
		return QStringLiteral("%1/%2/%3").arg(b[QLatin1String("listGroup")].toDouble()).arg(
			b[QLatin1String("list")].toInt()).arg(b[QLatin1String("listIndent")].toInt());
	};
	const QLatin1String group("listGroup"), list("list"), start("listStart");
	for (qsizetype i = 0; i < sent.size(); ++i) {
		const QJsonObject s = sent.at(i).toObject();
		const QJsonObject t = stored.at(i).toObject();
		const bool isList = s[list].toInt() != 0;
		const bool continues = isList && i > 0 && sent.at(i - 1)[list].toInt() != 0 &&
				       key(sent.at(i - 1)) == key(s);
		const bool sharesList = i > 0 && t[group].toDouble() != 0 && stored.at(i - 1)[group] == t[group];
		// Qt's HTML keeps a start number for numbered lists only.
		const bool startOk = s[list].toInt() > -4 || continues || t[start] == s[start];
		if ((t[group].toDouble() != 0) != isList || continues != sharesList || !startOk) {
			*why = QStringLiteral("lists differ at block %1").arg(i);
			return false;
		}
	}
	return true;
}

} // namespace blocktest
