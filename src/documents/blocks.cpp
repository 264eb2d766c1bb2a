#include "documents/blocks.h"

#include "documents/blocks_model.h"
#include "module/text.h"

#include <QBrush>
#include <QFont>
#include <QHash>
#include <QJsonArray>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextList>

namespace quillmar {

using namespace blocks;

namespace {

bool plainBrush(const QBrush &brush)
{
	return brush.style() == Qt::NoBrush ||
	       (brush.style() == Qt::SolidPattern && brush.color().alpha() == 255);
}

// What the model cannot carry in a character format.
bool formatEditable(const QTextCharFormat &format, const RunStyle &style)
{
	return !format.isImageFormat() && !format.isAnchor() && format.objectType() == 0 &&
	       format.property(QTextFormat::FontPixelSize).toInt() < 1 &&
	       format.verticalAlignment() == QTextCharFormat::AlignNormal &&
	       plainBrush(format.foreground()) && plainBrush(format.background()) &&
	       runStyleInRange(style);
}

struct BlockValues {
	int align = 1;
	int indent = 0;
	int list = 0;
	int listIndent = 1;
	qint64 listGroup = 0;
	int listStart = 1;

	bool inRange() const
	{
		return validIndent(indent) &&
		       (listGroup == 0 ||
			(list < 0 && validList(list) && validListIndent(listIndent) &&
			 validListStart(listStart)));
	}
};

BlockValues blockValues(const QTextBlock &block)
{
	BlockValues v;
	const QTextBlockFormat format = block.blockFormat();
	v.align = modelAlignment(format.alignment());
	v.indent = format.indent();
	if (const QTextList *list = block.textList()) {
		const QTextListFormat lf = list->format();
		v.list = lf.style();
		v.listIndent = lf.indent();
		v.listGroup = qint64(list->objectIndex()) + 1;
		v.listStart = listStartOf(lf);
	}
	return v;
}

// Brings block values into the ranges a client may send; a list without a marker style becomes
// a plain paragraph.
void clampBlockValues(BlockValues &v)
{
	v.indent = qBound(0, v.indent, kMaxIndent);
	if (v.listGroup != 0 && !(v.list < 0 && validList(v.list)))
		v = BlockValues{v.align, v.indent};
	v.listIndent = qBound(1, v.listIndent, kMaxListIndent);
	v.listStart = qBound(1, v.listStart, kMaxListStart);
}

QJsonObject blockObject(const BlockValues &v, const QJsonArray &runs)
{
	return QJsonObject{{QStringLiteral("align"), v.align},
			   {QStringLiteral("indent"), v.indent},
			   {QStringLiteral("list"), v.list},
			   {QStringLiteral("listIndent"), v.listIndent},
			   {QStringLiteral("listGroup"), v.listGroup},
			   {QStringLiteral("listStart"), v.listStart},
			   {QStringLiteral("runs"), runs}};
}

QString cutFamily(const QString &family)
{
	if (family.size() <= kMaxFamily)
		return family;
	const bool splitsPair = family.at(kMaxFamily - 1).isHighSurrogate();
	return family.left(splitsPair ? kMaxFamily - 1 : kMaxFamily);
}

// The values a client sees for text shown with the document's default font filling in.
void resolveStyle(RunStyle &style, const QTextCharFormat &format, const QFont &defaultFont)
{
	const QFont font = format.font().resolve(defaultFont);
	style.family = cutFamily(font.family());
	const double size = font.pixelSize() >= 1 ? font.pixelSize() * 0.75 : font.pointSizeF();
	style.size = qBound(0.0, size, kMaxSize);
	style.weight = qBound(1, style.weight, kMaxWeight);
	if (!plainBrush(format.foreground()))
		style.color.clear();
	if (!plainBrush(format.background()))
		style.background.clear();
}

struct FormatEntry {
	QJsonObject run;
	bool editable = true;
};

// The run object of every character format of one document, made once per format.
class FormatTable {
public:
	FormatTable(const QTextDocument &document, bool resolved)
		: m_defaultFont(document.defaultFont()), m_resolved(resolved)
	{
	}

	const FormatEntry &of(const QTextFragment &fragment)
	{
		auto entry = m_entries.find(fragment.charFormatIndex());
		if (entry == m_entries.end()) {
			const QTextCharFormat format = fragment.charFormat();
			RunStyle style = runStyleOf(format);
			const bool editable = formatEditable(format, style);
			if (m_resolved)
				resolveStyle(style, format, m_defaultFont);
			entry = m_entries.insert(fragment.charFormatIndex(),
						 FormatEntry{runStyleToJson(style), editable});
		}
		return *entry;
	}

private:
	QHash<int, FormatEntry> m_entries;
	QFont m_defaultFont;
	bool m_resolved;
};

// Checked before anything is built, so that an oversized note costs no more than two walks.
bool tooManyRuns(const QTextDocument &document)
{
	int fragments = 0;
	for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
		for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it)
			if (it.fragment().isValid() && ++fragments > kMaxNoteRuns)
				return true;
	return false;
}

} // namespace

QJsonObject documentToBlocks(const QTextDocument &document, bool resolved)
{
	if (!fitsNoteLimits(document) || tooManyRuns(document))
		return {};
	bool editable = document.rootFrame()->childFrames().isEmpty();
	FormatTable formats(document, resolved);
	QJsonArray blocks;
	for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
		QJsonArray runs;
		// The last run stays open: a surrogate pair split over two formats travels whole in
		// the run of its first half, so that every run holds valid text.
		QJsonObject open;
		QString openText;
		auto close = [&] {
			if (resolved)
				openText = allowedText(openText);
			if (!open.isEmpty() && !openText.isEmpty()) {
				open.insert(QLatin1String("text"), openText);
				runs.append(open);
			}
		};
		for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
			const QTextFragment fragment = it.fragment();
			if (!fragment.isValid())
				continue;
			const FormatEntry &entry = formats.of(fragment);
			editable = editable && entry.editable;
			QString text = fragment.text();
			if (!openText.isEmpty() && openText.back().isHighSurrogate() &&
			    text.front().isLowSurrogate()) {
				openText += text.front();
				text.remove(0, 1);
				if (text.isEmpty())
					continue;
			}
			close();
			open = entry.run;
			openText = text;
		}
		close();
		editable = editable && textAllowed(block.text());
		BlockValues values = blockValues(block);
		if (editable && !values.inRange())
			editable = false;
		if (resolved)
			clampBlockValues(values);
		blocks.append(blockObject(values, runs));
	}
	return QJsonObject{{QStringLiteral("blocks"), blocks}, {QStringLiteral("editable"), editable}};
}

QJsonObject htmlToBlocks(const QString &html)
{
	return documentToBlocks(*scratchDocument(html), false);
}

bool isRemoteEditable(const QTextDocument &document)
{
	if (!document.rootFrame()->childFrames().isEmpty())
		return false;
	FormatTable formats(document, false);
	for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
		if (!blockValues(block).inRange())
			return false;
		for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it)
			if (it.fragment().isValid() && !formats.of(it.fragment()).editable)
				return false;
		if (!textAllowed(block.text()))
			return false;
	}
	return true;
}

QString htmlToPlainText(const QString &html)
{
	QString text = scratchDocument(html)->toPlainText();
	text.remove(QChar::ObjectReplacementCharacter);
	return text;
}

bool convertToBasic(const QTextDocument &document, QString &outHtml, QString *error)
{
	const QJsonObject basic = documentToBlocks(document, true);
	if (basic.isEmpty()) {
		if (error)
			*error = text("TextLimit");
		return false;
	}
	return applyBlocks(QString(), basic, outHtml, nullptr, error);
}

} // namespace quillmar
