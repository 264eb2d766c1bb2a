// The block document on notes at the limits, against the bare HTML parse of the same note, which
// every approach has to pay. Prints medians in milliseconds and their ratios to the parse.
// Usage: bench_blocks [repetitions]

#include "bench_stats.h"
#include "documents/blocks.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QJsonArray>
#include <QTextDocument>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace quillmar;

namespace {

using namespace quillmar::bench;

// Words of mixed formatting, paragraphs filled up to `length` characters.
QString mixedNote(int paragraphs, int length)
{
	static const char *const styles[] = {
		"", "font-weight:700", "font-style:italic", "color:#c03030",
		"font-size:14pt", "text-decoration:underline", "background-color:#ffff80; font-family:'Serif'"};
	static const char *const words[] = {"quill", "marks", "scene ", "notes", "prompt", "read "};
	QString body;
	int w = 0;
	for (int p = 0; p < paragraphs; ++p) {
		QString text;
		body += QLatin1String(p % 7 == 3 ? "<p align=\"center\">" : "<p>");
		int left = length;
		while (left > 0) {
			QString word = QLatin1String(words[w % 6]) + QLatin1Char(' ');
			word.truncate(left);
			left -= int(word.size());
			body += QStringLiteral("<span style=\"%1\">%2</span>")
					.arg(QLatin1String(styles[(w * 5 + p) % 7]), word);
			++w;
		}
		body += QLatin1String("</p>");
	}
	// Stored the way the editor stores it.
	QTextDocument doc;
	doc.setLayoutEnabled(false);
	doc.setHtml(body);
	return doc.toHtml();
}

QJsonObject withRunText(QJsonObject document, int block, int run, const QString &text)
{
	QJsonArray blocks = document.value(QLatin1String("blocks")).toArray();
	QJsonObject b = blocks.at(block).toObject();
	QJsonArray runs = b.value(QLatin1String("runs")).toArray();
	QJsonObject r = runs.at(run).toObject();
	r.insert(QLatin1String("text"), text);
	runs.replace(run, r);
	b.insert(QLatin1String("runs"), runs);
	blocks.replace(block, b);
	document.insert(QLatin1String("blocks"), blocks);
	return document;
}

// Every character different: upper case throughout.
QJsonObject allChanged(QJsonObject document)
{
	QJsonArray blocks = document.value(QLatin1String("blocks")).toArray();
	for (qsizetype i = 0; i < blocks.size(); ++i) {
		QJsonObject b = blocks.at(i).toObject();
		QJsonArray runs = b.value(QLatin1String("runs")).toArray();
		for (qsizetype j = 0; j < runs.size(); ++j) {
			QJsonObject r = runs.at(j).toObject();
			r.insert(QLatin1String("text"), r.value(QLatin1String("text")).toString().toUpper());
			runs.replace(j, r);
		}
		b.insert(QLatin1String("runs"), runs);
		blocks.replace(i, b);
	}
	document.insert(QLatin1String("blocks"), blocks);
	return document;
}

} // namespace

int main(int argc, char **argv)
{
	QGuiApplication app(argc, argv);
	const int repetitions = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
	struct Shape {
		int paragraphs;
		int length;
	};
	// 200000 characters less the paragraph separators.
	const Shape shapes[] = {{20, 9999}, {2000, 99}, {20000, 9}};
	std::printf("median of %d runs, ms; ratio to the bare parse (layout off) in brackets\n",
		    repetitions);
	std::printf("%-14s %8s %8s %14s %16s %16s\n", "note", "runs", "parse", "htmlToBlocks",
		    "apply one word", "apply all text");
	bool ok = true;
	for (const Shape &shape : shapes) {
		const QString html = mixedNote(shape.paragraphs, shape.length);
		const QJsonObject exported = htmlToBlocks(html);
		if (exported.isEmpty()) {
			std::printf("%d x %d: over the limits\n", shape.paragraphs, shape.length);
			return 1;
		}
		const QJsonArray blocks = exported.value(QLatin1String("blocks")).toArray();
		qsizetype runs = 0;
		for (const QJsonValue b : blocks)
			runs += b[QLatin1String("runs")].toArray().size();
		const int middle = int(blocks.size() / 2);
		const QString word = blocks.at(middle)[QLatin1String("runs")][0][QLatin1String("text")].toString();
		const QJsonObject oneWord = withRunText(exported, middle, 0, QStringLiteral("Quill") + word.mid(5));
		const QJsonObject everything = allChanged(exported);

		const double parse = medianMs(repetitions, [&] {
			QTextDocument doc;
			doc.setLayoutEnabled(false);
			doc.setUndoRedoEnabled(false);
			doc.setHtml(html);
		});
		const double toBlocks = medianMs(repetitions, [&] { htmlToBlocks(html); });
		QString out;
		const double one = medianMs(repetitions, [&] { ok = applyBlocks(html, oneWord, out) && ok; });
		const double all = medianMs(repetitions, [&] { ok = applyBlocks(html, everything, out) && ok; });
		std::printf("%5d x %-6d %8lld %8.1f %7.1f (%.2f) %9.1f (%.2f) %9.1f (%.2f)\n", shape.paragraphs,
			    shape.length, static_cast<long long>(runs), parse, toBlocks, toBlocks / parse, one,
			    one / parse, all, all / parse);
	}
	if (!ok) {
		std::printf("an apply failed\n");
		return 1;
	}
	std::printf("goals: htmlToBlocks under 1.5, one-word apply under 3\n");
	return 0;
}
