#include "documents/blocks_model.h"

#include <QBrush>
#include <QColor>
#include <QStringList>
#include "documents/note_document.h"

#include <cmath>

namespace quillmar {
namespace blocks {

namespace {

QString brushName(const QBrush &brush)
{
	return brush.style() == Qt::NoBrush ? QString() : brush.color().name();
}

// "" or a colour name of at most 9 characters; an alpha channel (#aarrggbb) is refused, since a
// see-through colour would lock the note against remote editing after the save.
bool readColor(const QJsonValue &value, QString &out)
{
	const QString name = value.isString() ? value.toString() : QString();
	if (name.size() > kMaxColorName)
		return false;
	if (name.isEmpty()) {
		out.clear();
		return true;
	}
	const QColor color = QColor::fromString(name);
	if (!color.isValid() || color.alpha() != 255)
		return false;
	out = color.name();
	return true;
}

QBrush brushFor(const QString &name)
{
	return name.isEmpty() ? QBrush(Qt::NoBrush) : QBrush(QColor::fromString(name));
}

bool forbidden(char16_t c)
{
	return c == u'\n' || c == u'\r' || c == 0 || c == 0x2029 || c == 0xFFFC || c == 0xFDD0 ||
	       c == 0xFDD1;
}

} // namespace

bool RunStyle::operator==(const RunStyle &o) const
{
	return weight == o.weight && italic == o.italic && underline == o.underline &&
	       strike == o.strike && size == o.size && family == o.family && color == o.color &&
	       background == o.background;
}

RunStyle runStyleOf(const QTextCharFormat &format)
{
	RunStyle s;
	s.weight = format.fontWeight();
	s.italic = format.fontItalic();
	s.underline = format.fontUnderline();
	s.strike = format.fontStrikeOut();
	s.size = format.fontPointSize();
	s.family = format.fontFamilies().toStringList().value(0);
	s.color = brushName(format.foreground());
	s.background = brushName(format.background());
	return s;
}

QJsonObject runStyleToJson(const RunStyle &s)
{
	return QJsonObject{{QStringLiteral("weight"), s.weight},
			   {QStringLiteral("italic"), s.italic},
			   {QStringLiteral("underline"), s.underline},
			   {QStringLiteral("strike"), s.strike},
			   {QStringLiteral("size"), s.size},
			   {QStringLiteral("family"), s.family},
			   {QStringLiteral("color"), s.color},
			   {QStringLiteral("background"), s.background}};
}

bool runStyleFromJson(const QJsonObject &run, RunStyle &s)
{
	const double size = run.value(QLatin1String("size")).toDouble(-1);
	const int weight = run.value(QLatin1String("weight")).toInt(-1);
	const QJsonValue family = run.value(QLatin1String("family"));
	if (!std::isfinite(size) || size < 0 || size > kMaxSize || weight < 1 || weight > kMaxWeight)
		return false;
	s.family = family.isString() ? family.toString() : QString();
	if (s.family.size() > kMaxFamily)
		return false;
	s.size = size;
	s.weight = weight;
	// Anything but JSON true is false.
	s.italic = run.value(QLatin1String("italic")).toBool(false);
	s.underline = run.value(QLatin1String("underline")).toBool(false);
	s.strike = run.value(QLatin1String("strike")).toBool(false);
	return readColor(run.value(QLatin1String("color")), s.color) &&
	       readColor(run.value(QLatin1String("background")), s.background);
}

void mergeRunStyle(const RunStyle &s, QTextCharFormat &format)
{
	format.setFontWeight(s.weight);
	format.setFontItalic(s.italic);
	format.setUnderlineStyle(s.underline ? QTextCharFormat::SingleUnderline
					     : QTextCharFormat::NoUnderline);
	format.setFontStrikeOut(s.strike);
	if (s.size > 0)
		format.setFontPointSize(s.size);
	if (!s.family.isEmpty())
		format.setFontFamilies(QStringList{s.family});
	// An explicit empty brush, so that a merge clears the colour the text had.
	format.setForeground(brushFor(s.color));
	format.setBackground(brushFor(s.background));
}

bool showsRunStyle(const RunStyle &shown, const RunStyle &wanted)
{
	return shown.weight == wanted.weight && shown.italic == wanted.italic &&
	       shown.underline == wanted.underline && shown.strike == wanted.strike &&
	       (wanted.size == 0 || shown.size == wanted.size) &&
	       (wanted.family.isEmpty() || shown.family == wanted.family) &&
	       shown.color == wanted.color && shown.background == wanted.background;
}

bool runStyleInRange(const RunStyle &s)
{
	return s.weight >= 1 && s.weight <= kMaxWeight && std::isfinite(s.size) && s.size >= 0 &&
	       s.size <= kMaxSize && s.family.size() <= kMaxFamily;
}

int modelAlignment(Qt::Alignment alignment)
{
	if (alignment & Qt::AlignJustify)
		return Qt::AlignJustify;
	if (alignment & Qt::AlignRight)
		return Qt::AlignRight;
	if (alignment & Qt::AlignHCenter)
		return Qt::AlignHCenter;
	return Qt::AlignLeft;
}

int listStartOf(const QTextListFormat &format)
{
	return format.hasProperty(QTextFormat::ListStart) ? format.start() : 1;
}

std::unique_ptr<QTextDocument> scratchDocument(const QString &html)
{
	auto document = std::make_unique<NoteDocument>();
	document->setLayoutEnabled(false);
	document->setUndoRedoEnabled(false);
	document->setHtml(html);
	return document;
}

bool textAllowed(QStringView text)
{
	const char16_t *p = text.utf16();
	const qsizetype n = text.size();
	for (qsizetype i = 0; i < n; ++i) {
		const char16_t c = p[i];
		if (c < 0x20 || c >= 0x2028) {
			if (forbidden(c))
				return false;
			if (QChar::isHighSurrogate(c)) {
				if (i + 1 >= n || !QChar::isLowSurrogate(p[i + 1]))
					return false;
				++i;
			} else if (QChar::isLowSurrogate(c)) {
				return false;
			}
		}
	}
	return true;
}

QString allowedText(const QString &text)
{
	if (textAllowed(text))
		return text;
	QString out;
	out.reserve(text.size());
	const qsizetype n = text.size();
	for (qsizetype i = 0; i < n; ++i) {
		const QChar c = text.at(i);
		if (c.isHighSurrogate()) {
			if (i + 1 < n && text.at(i + 1).isLowSurrogate()) {
				out.append(c);
				out.append(text.at(++i));
			}
		} else if (!c.isLowSurrogate() && !forbidden(c.unicode())) {
			out.append(c);
		}
	}
	return out;
}

} // namespace blocks
} // namespace quillmar
