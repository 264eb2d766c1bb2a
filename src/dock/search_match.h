#pragma once

#include <QRect>
#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

class QTextDocument;

namespace quillmar {

// One hit of the search: document positions [start, end).
struct TextMatch {
	qint32 start = 0;
	qint32 end = 0;
	bool operator==(const TextMatch &other) const { return start == other.start && end == other.end; }
};

// Every non-overlapping, case-insensitive hit of needle in the document, sorted by start. A hit
// never spans two paragraphs, and a no-break space matches a plain space on either side.
std::vector<TextMatch> findTextMatches(const QTextDocument &document, const QString &needle);

// 1 + the index of the hit that is exactly [selectionStart, selectionEnd), or 0.
int matchNumber(const std::vector<TextMatch> &matches, int selectionStart, int selectionEnd);
// The first hit at or after position, else the first one (wrap-around); -1 when there is none.
int nextMatchIndex(const std::vector<TextMatch> &matches, int position);
// The last hit ending at or before position, else the last one; -1 when there is none.
int previousMatchIndex(const std::vector<TextMatch> &matches, int position);

// A go-to request: a paragraph number (1 based) or a percentage of the scroll range.
struct GoToTarget {
	bool percent = false;
	int value = 0;
};

// Reads "12", " 12 " or "50%"; empty when malformed or outside 1 .. paragraphs or 0 .. 100 %.
std::optional<GoToTarget> parseGoTo(const QString &text, int paragraphs);
// The scroll value for percent of maximum, rounded toward zero.
int percentScrollValue(int maximum, int percent);
// Where the go-to field floats: over the metrics area (in the dock's coordinates), kept inside
// the dock.
QRect goToGeometry(const QSize &dock, const QRect &metricsArea, int fontHeight);

} // namespace quillmar
