// The search recount on the largest note: every edit while a search text is set schedules one,
// so it must stay well inside one frame (16 ms) on a full note. Compared in the same run with
// QTextDocument::find walking the same hits, which is what a widget-only search would use.

#include "bench_stats.h"
#include "dock/search_match.h"

#include <QGuiApplication>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <cstdio>

using namespace quillmar;
using namespace quillmar::bench;

int main(int argc, char **argv)
{
	QGuiApplication app(argc, argv);
	// 200000 characters in 2000 paragraphs, a mark in every tenth, no-break spaces here and there.
	QStringList paragraphs;
	for (int i = 0; i < 2000; ++i) {
		QString line = QStringLiteral("Tonight\u00a0we read the script aloud and the audience listens ");
		if (i % 10 == 0)
			line += QStringLiteral("\u25c6[cue] ");
		while (line.size() < 99)
			line += QLatin1Char('x');
		paragraphs << line.left(99);
	}
	QTextDocument document;
	document.setPlainText(paragraphs.join(QLatin1Char('\n')));
	std::printf("note: %d characters, %d paragraphs\n", document.characterCount() - 1, document.blockCount());

	for (const QString &needle : {QStringLiteral("the"), QStringLiteral("we read"), QStringLiteral("\u25c6")}) {
		size_t hits = 0;
		const double ours = medianMs(41, [&] { hits = findTextMatches(document, needle).size(); });
		int found = 0;
		const double stock = medianMs(41, [&] {
			found = 0;
			for (QTextCursor c = document.find(needle); !c.isNull(); c = document.find(needle, c))
				++found;
		});
		std::printf("\"%s\": %zu hits in %.2f ms (QTextDocument::find: %d hits in %.2f ms); aim < 16 ms: %s\n",
			    qPrintable(needle), hits, ours, found, stock, ours < 16 ? "met" : "NOT met");
	}
	return 0;
}
