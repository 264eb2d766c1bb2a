#pragma once

#include <QString>
#include <QStringView>

class QTextDocument;

namespace quillmar {

// A value equal to a limit is allowed.
inline constexpr int kNoteCharLimit = 200000;      // characterCount() - 1
inline constexpr int kNoteParagraphLimit = 20000;  // blockCount()
inline constexpr int kParagraphCharLimit = 10000;  // block length() - 1

// Whether a whole note keeps the limits. Calls nothing and reports nothing.
bool fitsNoteLimits(const QTextDocument &document);
bool fitsNoteLimits(const QString &html);

// Whether replacing the range [start, end) of document with text keeps the limits
// (an empty text deletes the range). Line feeds, carriage returns ("\r\n" counts once),
// paragraph separators and frame boundaries start a paragraph; U+2028 does not.
bool insertionFitsNoteLimits(const QTextDocument &document, int start, int end, QStringView text);

// Characters a reader sees in the range [start, end) of document, in either order: paragraph
// breaks inside it do not count.
int visibleCharacterCount(const QTextDocument &document, int start, int end);
// Characters still allowed in a note of total characters; 0 past the limit.
int remainingCharacters(int total);
// How far down a scroll range a value lies, as a whole percentage; 0 for an empty range.
int scrollPercent(int value, int minimum, int maximum);

// "\r\n" and then every remaining "\r" become "\n".
QString normalizeLineEnds(QString text);

} // namespace quillmar
