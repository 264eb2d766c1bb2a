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
				for (int i = o.value(QLatin1String("times")).toInt(); i > 0; --i)
					out.append(copy);
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

// The cases of one vector file, expanded; empty when the file is missing or malformed.
inline QJsonArray loadCases(const QString &name)
{
	QFile file(QStringLiteral(QUILLMAR_SOURCE_DIR "/tests/data/blocks/") + name);
	if (!file.open(QIODevice::ReadOnly))
		return {};
	const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
	return expand(root.value(QLatin1String("cases"))).toArray();
}

inline QJsonArray renumberGroups(const QJsonArray &blocks)
{
	QHash<double, int> numbers;
	QJsonArray out;
	for (const QJsonValue value : blocks) {
		QJsonObject block = value.toObject();
		const double group = block.value(QLatin1String("listGroup")).toDouble();
		if (group != 0) {
			auto it = numbers.find(group);
			if (it == numbers.end())
				it = numbers.insert(group, int(numbers.size()) + 1);
			block.insert(QLatin1String("listGroup"), *it);
		}
		out.append(block);
	}
	return out;
}

inline QString compact(const QJsonValue &value, int most = 400)
{
	const QJsonDocument doc = value.isArray() ? QJsonDocument(value.toArray())
						  : QJsonDocument(value.toObject());
	const QString text = QString::fromUtf8(doc.toJson(QJsonDocument::Compact));
	return most < 0 ? text : text.left(most);
}

struct Compare {
	// "size" 0 and "family" "" on the expected side match anything.
	bool wildcards = false;
	// Compare "listGroup" (renumbered) and "listStart".
	bool lists = true;
};

inline bool sameFormat(const QJsonObject &actual, const QJsonObject &expected, const Compare &how)
{
	static const char *const keys[] = {"weight", "italic",	"underline", "strike",
					   "size",   "family", "color",	     "background"};
	for (const char *key : keys) {
		const QJsonValue e = expected.value(QLatin1String(key));
		if (how.wildcards && ((e.isDouble() && qstrcmp(key, "size") == 0 && e.toDouble() == 0) ||
				      (qstrcmp(key, "family") == 0 && e.toString().isEmpty())))
			continue;
		if (actual.value(QLatin1String(key)) != e)
			return false;
	}
	return true;
}

// Blocks compared as the README says; *why names the first difference.
inline bool sameBlocks(QJsonArray actual, QJsonArray expected, const Compare &how, QString *why)
{
	auto fail = [&](qsizetype block, const QString &what) {
		*why = QStringLiteral("block %1: %2\nactual:   %3\nexpected: %4")
			       .arg(block)
			       .arg(what, compact(actual.at(block)), compact(expected.at(block)));
		return false;
	};
	if (actual.size() != expected.size()) {
		*why = QStringLiteral("%1 blocks, expected %2\nactual:   %3\nexpected: %4")
			       .arg(actual.size())
			       .arg(expected.size())
			       .arg(compact(actual), compact(expected));
		return false;
	}
	actual = renumberGroups(actual);
	expected = renumberGroups(expected);
	for (qsizetype b = 0; b < actual.size(); ++b) {
		const QJsonObject a = actual.at(b).toObject();
		const QJsonObject e = expected.at(b).toObject();
		for (const char *key : {"align", "indent", "list", "listIndent", "listStart", "listGroup"}) {
			const bool listKey = qstrcmp(key, "listStart") == 0 || qstrcmp(key, "listGroup") == 0;
			if ((how.lists || !listKey) &&
			    a.value(QLatin1String(key)).toDouble() != e.value(QLatin1String(key)).toDouble())
				return fail(b, QLatin1String(key));
		}
		// Runs as (length, run) pieces without empty text, walked side by side.
		auto pieces = [](const QJsonObject &block) {
			QList<QPair<qsizetype, QJsonObject>> out;
			QString text;
			for (const QJsonValue run : block.value(QLatin1String("runs")).toArray()) {
				const QString t = run.toObject().value(QLatin1String("text")).toString();
				if (!t.isEmpty())
					out.append({t.size(), run.toObject()});
				text += t;
			}
			return qMakePair(text, out);
		};
		const auto pa = pieces(a);
		const auto pe = pieces(e);
		if (pa.first != pe.first)
			return fail(b, QStringLiteral("text"));
		qsizetype i = 0, j = 0, startA = 0, startE = 0;
		while (i < pa.second.size() && j < pe.second.size()) {
			if (!sameFormat(pa.second[i].second, pe.second[j].second, how))
				return fail(b, QStringLiteral("format at character %1").arg(qMax(startA, startE)));
			const qsizetype endA = startA + pa.second[i].first;
			const qsizetype endE = startE + pe.second[j].first;
			if (endA <= endE) {
				startA = endA;
				++i;
			}
			if (endE <= endA) {
				startE = endE;
				++j;
			}
		}
	}
	return true;
}

} // namespace blocktest
