#pragma once

// Pieces shared by the export and the apply side of the block document.

#include <QJsonObject>
#include <QString>
#include <QStringView>
#include <QTextCharFormat>

#include <memory>

class QTextDocument;
class QTextListFormat;

namespace quillmar {
namespace blocks {

// Ranges a client may send; exports outside them make a note not remotely editable.
constexpr int kMaxIndent = 12;
constexpr int kMinListStyle = -8;
constexpr int kMaxListIndent = 12;
constexpr int kMaxListStart = 10000;
constexpr int kMaxWeight = 1000;
constexpr double kMaxSize = 500;
constexpr int kMaxFamily = 200;
constexpr int kMaxColorName = 9;

inline bool validAlign(qint64 v)
{
	return v == 1 || v == 2 || v == 4 || v == 8;
}
inline bool validIndent(qint64 v)
{
	return v >= 0 && v <= kMaxIndent;
}
inline bool validList(qint64 v)
{
	return v >= kMinListStyle && v <= 0;
}
inline bool validListIndent(qint64 v)
{
	return v >= 1 && v <= kMaxListIndent;
}
inline bool validListStart(qint64 v)
{
	return v >= 1 && v <= kMaxListStart;
}

// The flat character format of a run as the model sees it. Colours are "" (no brush) or #rrggbb.
struct RunStyle {
	int weight = 400;
	bool italic = false;
	bool underline = false;
	bool strike = false;
	double size = 0;
	QString family;
	QString color;
	QString background;

	bool operator==(const RunStyle &o) const;
	bool operator!=(const RunStyle &o) const { return !(*this == o); }
};

RunStyle runStyleOf(const QTextCharFormat &format);
QJsonObject runStyleToJson(const RunStyle &style);
// False when a value is missing or out of range; colours come back in #rrggbb form.
bool runStyleFromJson(const QJsonObject &run, RunStyle &style);
void mergeRunStyle(const RunStyle &style, QTextCharFormat &format);
// Whether text shown with `shown` already looks like `wanted` in the model, so that merging
// `wanted` would change nothing a client can see. A size of 0 and an empty family keep what the
// text has.
bool showsRunStyle(const RunStyle &shown, const RunStyle &wanted);
// Whether the style's values lie in the ranges a client may send.
bool runStyleInRange(const RunStyle &style);

// The one model alignment (1 left, 2 right, 4 centre, 8 justify) of a block alignment. The
// absolute-direction bit that Qt's HTML reader adds to align="left" and "right" is not a
// different alignment for the model.
int modelAlignment(Qt::Alignment alignment);

// The start number of a list; Qt numbers a list without one from 1.
int listStartOf(const QTextListFormat &format);

// An off-screen document holding the HTML, with layout and undo switched off.
std::unique_ptr<QTextDocument> scratchDocument(const QString &html);

// Run text rules: no paragraph, line-feed, carriage-return, NUL, object or frame characters, and
// no unpaired surrogates. A line separator (U+2028) is the soft break inside a paragraph.
bool textAllowed(QStringView text);
// The text without the characters textAllowed refuses.
QString allowedText(const QString &text);

} // namespace blocks
} // namespace quillmar
