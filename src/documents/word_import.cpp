#include "documents/word_import.h"

#include "documents/list_continuation.h"
#include "documents/word_package.h"
#include "documents/word_xml_input.h"
#include "editor/note_limits.h"
#include "module/text.h"

#include <QBrush>
#include <QColor>
#include <QTextCursor>
#include "documents/note_document.h"
#include <QTextList>
#include <QXmlStreamReader>

#include <optional>
#include <vector>

namespace quillmar {

namespace {

// Word offers nine list levels (0 to 8).
constexpr int kMaxListLevel = 8;

using Token = QXmlStreamReader::TokenType;

// The value of the attribute with this local name, whatever its prefix.
std::optional<QString> findAttribute(const QXmlStreamReader &reader, const char *name)
{
	const QXmlStreamAttributes attributes = reader.attributes();
	for (const QXmlStreamAttribute &a : attributes) {
		if (a.name() == QLatin1StringView(name))
			return a.value().toString();
	}
	return std::nullopt;
}

QString attribute(const QXmlStreamReader &reader, const char *name)
{
	return findAttribute(reader, name).value_or(QString());
}

QString val(const QXmlStreamReader &reader)
{
	return attribute(reader, "val");
}

// Toggle properties are on unless their value says off; a missing value means on.
bool isOn(const QXmlStreamReader &reader)
{
	const std::optional<QString> v = findAttribute(reader, "val");
	return !v || !(*v == u"0" || *v == u"false" || *v == u"off" || *v == u"none");
}

int intValue(const QString &s, int fallback)
{
	bool ok = false;
	const int n = s.trimmed().toInt(&ok);
	return ok ? n : fallback;
}

int listLevel(const QString &s)
{
	return qBound(0, intValue(s, 0), kMaxListLevel);
}

// Reads the next token of a part. No package part may carry a DTD; refusing it at once also
// keeps entity expansion out of reach.
Token nextToken(QXmlStreamReader &reader)
{
	const Token token = reader.readNext();
	if (token == QXmlStreamReader::DTD) {
		reader.raiseError(text("WordDtdRefused"));
		return QXmlStreamReader::Invalid;
	}
	return token;
}

// A part read through the device that bounds what the reader holds.
class PartReader {
public:
	explicit PartReader(const QByteArray &xml) : m_input(xml) { m_reader.setDevice(&m_input); }

	QXmlStreamReader &reader() { return m_reader; }

	// A DTD or a part past the device's bounds, as opposed to a part that is merely broken.
	bool refused() const { return !m_input.fault().isEmpty() || m_reader.error() == QXmlStreamReader::CustomError; }

	// A part the device ended is refused for that, whatever the reader made of its end.
	QString error() const
	{
		if (!m_input.fault().isEmpty())
			return text("WordXmlError") + m_input.fault();
		return m_reader.hasError() ? text("WordXmlError") + m_reader.errorString() : QString();
	}

private:
	WordXmlInput m_input;
	QXmlStreamReader m_reader;
};

// Hands every start element of a side part (styles, numbering) to the callback, which reads as
// much of it as it wants. False, with the error, when the part declares a DTD or passes the
// device's bounds; other faults end the read quietly, and what came before them stands.
template <typename OnStart>
bool readSidePart(const QByteArray &xml, QString *error, OnStart onStart)
{
	if (xml.isEmpty())
		return true;
	PartReader part(xml);
	QXmlStreamReader &reader = part.reader();
	while (!reader.atEnd()) {
		if (nextToken(reader) == QXmlStreamReader::StartElement)
			onStart(reader);
	}
	if (!part.refused())
		return true;
	if (error)
		*error = part.error();
	return false;
}

// Word's highlight palette. Its primary names do not mean what CSS means by them (Word's green is
// #00ff00), so every name Word writes is spelt out here.
const QHash<QString, QColor> &highlightColors()
{
	static const QHash<QString, QColor> colors = {
		{QStringLiteral("black"), QColor(0x00, 0x00, 0x00)},
		{QStringLiteral("blue"), QColor(0x00, 0x00, 0xff)},
		{QStringLiteral("cyan"), QColor(0x00, 0xff, 0xff)},
		{QStringLiteral("green"), QColor(0x00, 0xff, 0x00)},
		{QStringLiteral("magenta"), QColor(0xff, 0x00, 0xff)},
		{QStringLiteral("red"), QColor(0xff, 0x00, 0x00)},
		{QStringLiteral("yellow"), QColor(0xff, 0xff, 0x00)},
		{QStringLiteral("white"), QColor(0xff, 0xff, 0xff)},
		{QStringLiteral("darkBlue"), QColor(0x00, 0x00, 0x80)},
		{QStringLiteral("darkCyan"), QColor(0x00, 0x80, 0x80)},
		{QStringLiteral("darkGreen"), QColor(0x00, 0x80, 0x00)},
		{QStringLiteral("darkMagenta"), QColor(0x80, 0x00, 0x80)},
		{QStringLiteral("darkRed"), QColor(0x80, 0x00, 0x00)},
		{QStringLiteral("darkYellow"), QColor(0x80, 0x80, 0x00)},
		{QStringLiteral("darkGray"), QColor(0x80, 0x80, 0x80)},
		{QStringLiteral("lightGray"), QColor(0xc0, 0xc0, 0xc0)},
	};
	return colors;
}

QColor hexColor(const QString &hex)
{
	return QColor(QLatin1Char('#') + hex);
}

Qt::Alignment alignment(const QString &jc)
{
	if (jc == u"center")
		return Qt::AlignHCenter;
	if (jc == u"right" || jc == u"end")
		return Qt::AlignRight;
	if (jc == u"both")
		return Qt::AlignJustify;
	return Qt::AlignLeft;
}

QTextListFormat::Style listStyle(const QString &numFmt)
{
	if (numFmt == u"bullet")
		return QTextListFormat::ListDisc;
	if (numFmt == u"lowerLetter")
		return QTextListFormat::ListLowerAlpha;
	if (numFmt == u"upperLetter")
		return QTextListFormat::ListUpperAlpha;
	if (numFmt == u"lowerRoman")
		return QTextListFormat::ListLowerRoman;
	if (numFmt == u"upperRoman")
		return QTextListFormat::ListUpperRoman;
	if (numFmt == u"none")
		return QTextListFormat::ListStyleUndefined;
	return QTextListFormat::ListDecimal;
}

// Reads the children of an "rPr" into a format; the reader stands on the "rPr" start.
void readRunProperties(QXmlStreamReader &reader, QTextCharFormat &format)
{
	while (reader.readNextStartElement())
		applyRunProperty(reader, format);
}

// The format that reaches the document: without the import's own markers.
QTextCharFormat visibleFormat(QTextCharFormat format)
{
	if (format.hasProperty(kWordHiddenProperty))
		format.clearProperty(kWordHiddenProperty);
	return format;
}

WordImportResult failure(const QString &error)
{
	WordImportResult result;
	result.error = error;
	return result;
}

// Builds the note from document.xml, token by token, checking the note limits before each one.
class BodyWalk {
public:
	BodyWalk(const WordStyles &styles, const WordNumbering &numbering)
		: m_styles(styles), m_numbering(numbering), m_cursor(&m_document)
	{
		m_document.setUndoRedoEnabled(false);
	}

	WordImportResult run(const QByteArray &xml)
	{
		PartReader part(xml);
		QXmlStreamReader &reader = part.reader();

		m_cursor.beginEditBlock();
		bool overLimit = false;
		while (!reader.atEnd()) {
			if (exceedsLimits() || !step(reader)) {
				overLimit = true;
				break;
			}
		}
		if (!overLimit && !m_first)
			finishParagraph();
		m_cursor.endEditBlock();

		if (overLimit)
			return failure(text("TextLimit"));
		if (const QString error = part.error(); !error.isEmpty())
			return failure(error);
		if (!fitsNoteLimits(m_document))
			return failure(text("TextLimit"));
		WordImportResult result;
		result.html = m_document.toHtml();
		result.simplified = m_simplified;
		return result;
	}

private:
	struct Alternatives {
		bool choiceSkipped = false;
		bool fallbackSeen = false;
	};

	bool exceedsLimits() const
	{
		return m_noteChars > kNoteCharLimit || m_paragraphChars > kParagraphCharLimit ||
		       m_paragraphs > kNoteParagraphLimit;
	}

	// One token; false when text would break the note limits.
	bool step(QXmlStreamReader &reader)
	{
		const Token token = nextToken(reader);
		if (token == QXmlStreamReader::EndElement) {
			endElement(reader.name());
			return true;
		}
		if (token != QXmlStreamReader::StartElement)
			return true;
		const QStringView name = reader.name();
		if (name == u"del" || name == u"moveFrom") {
			// Deleted and moved-away text of tracked changes.
			reader.skipCurrentElement();
		} else if (name == u"Choice") {
			// Markup alternatives: the fallback is the one meant for readers that know no
			// extensions; taking both would repeat their content.
			if (!m_alternatives.empty())
				m_alternatives.back().choiceSkipped = true;
			reader.skipCurrentElement();
		} else if (name == u"AlternateContent") {
			m_alternatives.push_back({});
		} else if (name == u"Fallback") {
			if (!m_alternatives.empty())
				m_alternatives.back().fallbackSeen = true;
		} else if (name == u"p") {
			startParagraph();
		} else if (name == u"drawing" || name == u"pict" || name == u"object") {
			m_simplified = true;
			reader.skipCurrentElement();
		} else if (name == u"tbl" || name == u"footnoteReference" || name == u"endnoteReference") {
			m_simplified = true;
		} else if (m_open) {
			return paragraphContent(reader, name);
		}
		return true;
	}

	void endElement(QStringView name)
	{
		if (name == u"p") {
			m_open = false;
		} else if (name == u"AlternateContent" && !m_alternatives.empty()) {
			if (m_alternatives.back().choiceSkipped && !m_alternatives.back().fallbackSeen)
				m_simplified = true;
			m_alternatives.pop_back();
		}
	}

	bool paragraphContent(QXmlStreamReader &reader, QStringView name)
	{
		if (name == u"pPr") {
			applyParagraphProperties(parseParagraphProperties(reader));
		} else if (name == u"r") {
			setRunFormat(m_paragraphFormat);
		} else if (name == u"rPr") {
			QTextCharFormat format = m_runFormat;
			while (reader.readNextStartElement()) {
				if (reader.name() == u"rStyle") {
					format.merge(resolved(val(reader)).charFormat);
					reader.skipCurrentElement();
				} else {
					applyRunProperty(reader, format);
				}
			}
			setRunFormat(format);
		} else if (name == u"t") {
			return readText(reader);
		} else if (name == u"tab") {
			insertMark(QStringLiteral("\t"));
		} else if (name == u"br" || name == u"cr") {
			insertMark(QString(QChar::LineSeparator));
		}
		return true;
	}

	const WordResolvedStyle &resolved(const QString &id)
	{
		// Only styles that exist are kept: a document naming endless unknown ids must not grow
		// the cache with them.
		static const WordResolvedStyle none;
		if (!m_styles.styles.contains(id))
			return none;
		auto it = m_resolved.constFind(id);
		if (it == m_resolved.constEnd())
			it = m_resolved.insert(id, resolveStyle(m_styles, id));
		return *it;
	}

	void startParagraph()
	{
		if (!m_first) {
			finishParagraph();
			m_cursor.insertBlock(QTextBlockFormat(), visibleFormat(m_styles.defaultRunFormat));
			++m_paragraphs;
			++m_noteChars;
			m_paragraphChars = 0;
		}
		m_first = false;
		m_open = true;
		// A paragraph without properties is one of the default style.
		const WordResolvedStyle &style = resolved(m_styles.defaultParagraphStyle);
		m_paragraphFormat = m_styles.defaultRunFormat;
		m_paragraphFormat.merge(style.charFormat);
		m_cursor.setBlockFormat(style.blockFormat);
		m_cursor.setBlockCharFormat(visibleFormat(m_paragraphFormat));
		setRunFormat(m_paragraphFormat);
	}

	void applyParagraphProperties(const WordParagraphProperties &properties)
	{
		const WordResolvedStyle &style = resolved(
			properties.styleId.isEmpty() ? m_styles.defaultParagraphStyle : properties.styleId);
		QTextBlockFormat blockFormat = style.blockFormat;
		blockFormat.merge(properties.blockFormat);
		m_paragraphFormat = m_styles.defaultRunFormat;
		m_paragraphFormat.merge(style.charFormat);
		// The mark's own properties format the empty paragraph and where typing starts, but
		// the paragraph's runs do not inherit them.
		QTextCharFormat markFormat = m_paragraphFormat;
		markFormat.merge(properties.markFormat);
		const bool ownNumbering = properties.numId >= 0;
		const int numId = ownNumbering ? properties.numId : style.numId;
		const int ilvl = ownNumbering ? properties.ilvl : style.ilvl;

		m_cursor.setBlockFormat(blockFormat);
		m_cursor.setBlockCharFormat(visibleFormat(markFormat));
		setRunFormat(markFormat);
		// The last properties of a paragraph decide its list, once it is complete.
		m_item.reset();
		if (numId >= 1)
			m_item = std::pair(numId, ilvl);
	}

	void finishParagraph()
	{
		m_previousList = m_item ? addToList(m_item->first, m_item->second) : nullptr;
		m_item.reset();
	}

	// Word numbers each level from its start again after an item of a level above it. Where the
	// stored HTML could not carry a list on, a new one takes over with the next number.
	QTextList *addToList(int numId, int ilvl)
	{
		for (int deeper = ilvl + 1; deeper <= kMaxListLevel; ++deeper) {
			m_lists.remove({numId, deeper});
			m_counts.remove({numId, deeper});
		}
		const WordListLevel level = m_numbering.level(numId, ilvl);
		if (level.style == QTextListFormat::ListStyleUndefined)
			return nullptr;
		const std::pair<int, int> key(numId, ilvl);
		int &count = m_counts[key];
		const bool nested = m_previousList && m_previousList->format().indent() < ilvl + 1;
		QTextList *list = m_lists.value(key);
		if (list && m_continuation.take(list, nested)) {
			list->add(m_cursor.block());
		} else {
			QTextListFormat format;
			format.setStyle(level.style);
			format.setIndent(ilvl + 1);
			if (level.start + count != 1)
				format.setStart(level.start + count);
			list = m_cursor.createList(format);
			m_continuation.start(list, nested);
			m_lists.insert(key, list);
		}
		++count;
		// The mark's format would reach the item's text through the stored HTML.
		QTextCharFormat item = m_cursor.blockCharFormat();
		if (detachListItemFormat(item))
			m_cursor.setBlockCharFormat(item);
		return list;
	}

	// The text of a "t" element, in the pieces the input cuts it into, so that an overlong text
	// is refused before it is read whole. Child elements have no text of their own here.
	bool readText(QXmlStreamReader &reader)
	{
		int depth = 0;
		while (!reader.atEnd()) {
			const Token token = nextToken(reader);
			if (token == QXmlStreamReader::StartElement) {
				++depth;
			} else if (token == QXmlStreamReader::EndElement) {
				if (depth-- == 0)
					break;
			} else if (token == QXmlStreamReader::Characters && depth == 0) {
				if (!insertText(reader.text().toString()))
					return false;
			}
		}
		return true;
	}

	// Text carries its format along; the cursor's own format is never used.
	void setRunFormat(const QTextCharFormat &format)
	{
		m_runFormat = format;
		m_insertFormat = visibleFormat(format);
		m_hidden = format.boolProperty(kWordHiddenProperty);
	}

	bool insertText(QString s)
	{
		if (m_hidden)
			return true;
		const qsizetype room = qMin(kNoteCharLimit - m_noteChars, kParagraphCharLimit - m_paragraphChars);
		if (s.size() > room)
			return false;
		// Characters that the document would take for structure (paragraph ends, frame
		// markers) must stay text inside this paragraph.
		for (QChar &c : s) {
			const char16_t u = c.unicode();
			if (u == u'\n' || u == u'\r' || u == QChar::ParagraphSeparator)
				c = QLatin1Char(' ');
			else if (u == 0xfdd0 || u == 0xfdd1)
				c = QChar::ReplacementCharacter;
		}
		m_cursor.insertText(s, m_insertFormat);
		m_noteChars += int(s.size());
		m_paragraphChars += int(s.size());
		return true;
	}

	void insertMark(const QString &mark)
	{
		if (m_hidden)
			return;
		m_cursor.insertText(mark, m_insertFormat);
		++m_noteChars;
		++m_paragraphChars;
	}

	const WordStyles &m_styles;
	const WordNumbering &m_numbering;
	NoteDocument m_document;
	QTextCursor m_cursor;
	QHash<QString, WordResolvedStyle> m_resolved;
	// Per (numId, ilvl): the list that takes its next items, and the items numbered so far.
	QHash<std::pair<int, int>, QTextList *> m_lists;
	QHash<std::pair<int, int>, int> m_counts;
	ListContinuation m_continuation;
	std::optional<std::pair<int, int>> m_item;
	QTextList *m_previousList = nullptr;
	std::vector<Alternatives> m_alternatives;
	QTextCharFormat m_paragraphFormat;
	QTextCharFormat m_runFormat;
	QTextCharFormat m_insertFormat;
	bool m_hidden = false;
	bool m_first = true;
	bool m_open = false;
	bool m_simplified = false;
	int m_noteChars = 0;
	int m_paragraphChars = 0;
	int m_paragraphs = 1;
};

} // namespace

WordListLevel WordNumbering::level(int numId, int ilvl) const
{
	WordListLevel out;
	const auto abstract = abstractOf.constFind(numId);
	if (abstract != abstractOf.constEnd())
		out = levels.value({*abstract, ilvl}, out);
	out.start = startOverrides.value({numId, ilvl}, out.start);
	return out;
}

void applyRunProperty(QXmlStreamReader &reader, QTextCharFormat &format)
{
	const QStringView name = reader.name();
	if (name == u"b") {
		format.setFontWeight(isOn(reader) ? 700 : 400);
	} else if (name == u"i") {
		format.setFontItalic(isOn(reader));
	} else if (name == u"u") {
		format.setUnderlineStyle(isOn(reader) ? QTextCharFormat::SingleUnderline
						      : QTextCharFormat::NoUnderline);
	} else if (name == u"strike" || name == u"dstrike") {
		format.setFontStrikeOut(isOn(reader));
	} else if (name == u"vanish") {
		format.setProperty(kWordHiddenProperty, isOn(reader));
	} else if (name == u"sz") {
		bool ok = false;
		const double size = val(reader).toDouble(&ok) * 0.5;
		if (ok && size >= 1.0 && size <= 500.0)
			format.setFontPointSize(size);
	} else if (name == u"rFonts") {
		// The Latin slots first: producers name a CJK font in "eastAsia" by default, and it
		// should not take over Latin text.
		QString family;
		for (const char *slot : {"ascii", "hAnsi", "eastAsia"}) {
			family = attribute(reader, slot);
			if (!family.isEmpty())
				break;
		}
		if (!family.isEmpty())
			format.setFontFamilies(QStringList{family});
	} else if (name == u"color") {
		const QString v = val(reader);
		const QColor color = hexColor(v);
		if (v != u"auto" && color.isValid())
			format.setForeground(QBrush(color));
	} else if (name == u"highlight") {
		const QString v = val(reader);
		const QColor color = highlightColors().value(v, QColor(v));
		if (color.isValid())
			format.setBackground(QBrush(color));
	} else if (name == u"shd") {
		const QColor color = hexColor(attribute(reader, "fill"));
		if (color.isValid())
			format.setBackground(QBrush(color));
	} else if (name == u"vertAlign") {
		const QString v = val(reader);
		if (v == u"superscript")
			format.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
		else if (v == u"subscript")
			format.setVerticalAlignment(QTextCharFormat::AlignSubScript);
		else if (v == u"baseline")
			format.setVerticalAlignment(QTextCharFormat::AlignNormal);
	}
	reader.skipCurrentElement();
}

WordParagraphProperties parseParagraphProperties(QXmlStreamReader &reader)
{
	WordParagraphProperties out;
	while (reader.readNextStartElement()) {
		const QStringView name = reader.name();
		if (name == u"pStyle") {
			out.styleId = val(reader);
			reader.skipCurrentElement();
		} else if (name == u"jc") {
			out.blockFormat.setAlignment(alignment(val(reader)));
			reader.skipCurrentElement();
		} else if (name == u"numPr") {
			while (reader.readNextStartElement()) {
				if (reader.name() == u"numId")
					out.numId = intValue(val(reader), -1);
				else if (reader.name() == u"ilvl")
					out.ilvl = listLevel(val(reader));
				reader.skipCurrentElement();
			}
		} else if (name == u"rPr") {
			readRunProperties(reader, out.markFormat);
		} else {
			reader.skipCurrentElement();
		}
	}
	return out;
}

WordStyles parseStyles(const QByteArray &xml, QString *error)
{
	WordStyles out;
	bool defaultFound = false;
	const bool read = readSidePart(xml, error, [&](QXmlStreamReader &reader) {
		const QStringView name = reader.name();
		if (name == u"rPrDefault") {
			while (reader.readNextStartElement()) {
				if (reader.name() == u"rPr")
					readRunProperties(reader, out.defaultRunFormat);
				else
					reader.skipCurrentElement();
			}
		} else if (name == u"style") {
			const QString id = attribute(reader, "styleId");
			const QString flag = attribute(reader, "default");
			const bool isDefault = attribute(reader, "type") == u"paragraph" &&
					       (flag == u"1" || flag == u"true" || flag == u"on");
			WordStyle style;
			QTextCharFormat own;
			while (reader.readNextStartElement()) {
				const QStringView child = reader.name();
				if (child == u"basedOn") {
					style.basedOn = val(reader);
					reader.skipCurrentElement();
				} else if (child == u"pPr") {
					const WordParagraphProperties p = parseParagraphProperties(reader);
					style.blockFormat = p.blockFormat;
					// In a style the mark's properties are the style's, under its own.
					style.charFormat = p.markFormat;
					style.numId = p.numId;
					style.ilvl = p.ilvl;
				} else if (child == u"rPr") {
					readRunProperties(reader, own);
				} else {
					reader.skipCurrentElement();
				}
			}
			style.charFormat.merge(own);
			if (id.isEmpty())
				return;
			out.styles.insert(id, style);
			if (isDefault && !defaultFound) {
				out.defaultParagraphStyle = id;
				defaultFound = true;
			}
		}
	});
	return read ? out : WordStyles();
}

WordNumbering parseNumbering(const QByteArray &xml, QString *error)
{
	WordNumbering out;
	const bool read = readSidePart(xml, error, [&](QXmlStreamReader &reader) {
		const QStringView name = reader.name();
		if (name == u"abstractNum") {
			const int id = intValue(attribute(reader, "abstractNumId"), -1);
			while (reader.readNextStartElement()) {
				if (reader.name() != u"lvl") {
					reader.skipCurrentElement();
					continue;
				}
				const int ilvl = listLevel(attribute(reader, "ilvl"));
				WordListLevel level;
				while (reader.readNextStartElement()) {
					if (reader.name() == u"numFmt")
						level.style = listStyle(val(reader));
					else if (reader.name() == u"start")
						level.start = intValue(val(reader), 1);
					reader.skipCurrentElement();
				}
				out.levels.insert({id, ilvl}, level);
			}
		} else if (name == u"num") {
			const int numId = intValue(attribute(reader, "numId"), -1);
			while (reader.readNextStartElement()) {
				if (reader.name() == u"abstractNumId") {
					out.abstractOf.insert(numId, intValue(val(reader), -1));
					reader.skipCurrentElement();
				} else if (reader.name() == u"lvlOverride") {
					const int ilvl = listLevel(attribute(reader, "ilvl"));
					while (reader.readNextStartElement()) {
						if (reader.name() == u"startOverride")
							out.startOverrides.insert({numId, ilvl}, intValue(val(reader), 1));
						reader.skipCurrentElement();
					}
				} else {
					reader.skipCurrentElement();
				}
			}
		}
	});
	return read ? out : WordNumbering();
}

WordResolvedStyle resolveStyle(const WordStyles &styles, const QString &id, int depth)
{
	if (depth >= kWordStyleDepth)
		return {};
	const auto it = styles.styles.constFind(id);
	if (it == styles.styles.constEnd())
		return {};
	WordResolvedStyle out = resolveStyle(styles, it->basedOn, depth + 1);
	out.charFormat.merge(it->charFormat);
	out.blockFormat.merge(it->blockFormat);
	if (it->numId >= 0) {
		out.numId = it->numId;
		out.ilvl = it->ilvl;
	}
	return out;
}

WordImportResult importWordXml(const QByteArray &document, const QByteArray &styles,
			       const QByteArray &numbering)
{
	if (document.isEmpty())
		return failure(text("WordBodyError"));
	QString error;
	const WordStyles styleTable = parseStyles(styles, &error);
	if (!error.isEmpty())
		return failure(error);
	const WordNumbering numberingTable = parseNumbering(numbering, &error);
	if (!error.isEmpty())
		return failure(error);
	return BodyWalk(styleTable, numberingTable).run(document);
}

WordImportResult importWordDocument(const QString &path)
{
	WordPackage package;
	QString error;
	if (!package.open(path, error))
		return failure(error);
	const QByteArray document = package.part(QStringLiteral("/word/document.xml"));
	if (document.isEmpty())
		return failure(text("WordBodyError"));
	return importWordXml(document, package.part(QStringLiteral("/word/styles.xml")),
			     package.part(QStringLiteral("/word/numbering.xml")));
}

} // namespace quillmar
