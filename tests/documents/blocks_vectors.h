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
	const QLatin1String repeat("$repeat"), times("times");
	const QJsonObject o = value.toObject();
	if (o.value(repeat).isString())
		return o.value(repeat).toString().repeated(o.value(times).toInt());
	if (value.isObject()) {
		QJsonObject out;
		for (auto it = o.begin(); it != o.end(); ++it)
			out.insert(it.key(), expand(it.value()));
		return out;
	}
	QJsonArray out;
	for (const QJsonValue item : value.toArray()) {
		const QJsonValue copy = expand(item[repeat]);
		const bool many = item.isObject() && item.toObject().contains(repeat) && !copy.isString();
		for (int i = many ? item[times].toInt() : 1; i > 0; --i)
			for (const QJsonValue piece : !many ? QJsonArray{expand(item)} : copy.isArray() ? copy.toArray() : QJsonArray{copy})
				out.append(piece);
	}
	return value.isArray() ? QJsonValue(out) : value;
}

// A string, or a list of strings to join.
inline QString joined(const QJsonValue &value)
{
	QString out = value.toString();
	for (const QJsonValue piece : value.toArray())
		out += piece.toString();
	return out;
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

// Blocks as the README compares them: a line per block, then one per character with the format
// of its run; pattern is the expected side, whose wildcards apply to both.
inline QStringList comparable(const QJsonArray &blocks, const QJsonArray &pattern, const Compare &how)
{
	// The run of every character.
	const auto owners = [](const QJsonArray &runs, QString *text) {
		QList<qsizetype> out;
		for (qsizetype i = 0; i < runs.size(); ++i) {
			*text += runs.at(i)[QLatin1String("text")].toString();
			out += QList<qsizetype>(text->size() - out.size(), i);
		}
		return out;
	};
	QStringList out;
	QHash<double, qsizetype> groups;
	for (qsizetype b = 0; b < blocks.size(); ++b) {
		const QJsonObject block = blocks.at(b).toObject();
		QString line = QStringLiteral("block %1").arg(b), text, ignored, format;
		for (const char *key : {"align", "indent", "list", "listIndent", "listStart"})
			if (how.lists || qstrcmp(key, "listStart") != 0)
				line += QStringLiteral(" %1 %2").arg(QLatin1String(key)).arg(block.value(QLatin1String(key)).toDouble());
		// "listGroup" numbered 1, 2, 3 ... in order of first appearance; 0 stays 0.
		const double g = block.value(QLatin1String("listGroup")).toDouble();
		if (how.lists)
			line += QStringLiteral(" group %1").arg(g == 0 ? 0 : groups.contains(g) ? groups.value(g) : groups.insert(g, groups.size() + 1).value());
		out << line;
		const QJsonArray runs = block[QLatin1String("runs")].toArray(), patternRuns = pattern.at(b)[QLatin1String("runs")].toArray();
		const QList<qsizetype> run = owners(runs, &text), expected = owners(patternRuns, &ignored);
		for (qsizetype k = 0; k < run.size(); ++k) {
			if (k == 0 || run[k] != run[k - 1] || expected.value(k, -1) != expected.value(k - 1, -1)) {
				const QJsonObject e = patternRuns.at(expected.value(k, -1)).toObject(), r = runs.at(run[k]).toObject();
				format.clear();
				for (const char *key : {"weight", "italic", "underline", "strike", "size", "family", "color", "background"}) {
					const QJsonValue v = e.value(QLatin1String(key));
					const bool any = how.wildcards && (qstrcmp(key, "size") == 0 ? v.isDouble() && v.toDouble() == 0
												   : qstrcmp(key, "family") == 0 && v.toString().isEmpty());
					format += any ? QStringLiteral(" *") : QLatin1Char(' ') + compact(QJsonArray{r.value(QLatin1String(key))});
				}
			}
			out << QStringLiteral("  ") + text.at(k) + format;
		}
	}
	return out;
}

// Blocks compared as the README says; *why names the first difference.
inline bool sameBlocks(const QJsonArray &actual, const QJsonArray &expected, const Compare &how, QString *why)
{
	const QStringList a = comparable(actual, expected, how), e = comparable(expected, expected, how);
	for (qsizetype i = 0; i < qMax(a.size(), e.size()); ++i)
		if (a.value(i) != e.value(i)) {
			*why = QStringLiteral("actual:   %1\nexpected: %2\n%3\n%4").arg(a.value(i), e.value(i), compact(actual), compact(expected));
			return false;
		}
	return true;
}

} // namespace blocktest
