#include "documents/word_import.h"

#include "documents/word_package.h"
#include "editor/note_limits.h"
#include "module/text.h"

#include <QBrush>
#include <QBuffer>
#include <QColor>
#include <QPointer>
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

// A part read from memory through a device, so that the reader decodes it piece by piece rather
// than all at once.
class PartReader {
public:
	explicit PartReader(const QByteArray &xml)
	{
		m_buffer.setData(xml);
		m_buffer.open(QIODevice::ReadOnly);
		m_reader.setDevice(&m_buffer);
	}

	QXmlStreamReader &reader() { return m_reader; }

private:
	QBuffer m_buffer;
	QXmlStreamReader m_reader;
};

QString xmlError(const QXmlStreamReader &reader)
{
	return text("WordXmlError") + reader.errorString();
}

// Hands every start element of a side part (styles, numbering) to the callback, which reads as
// much of it as it wants. False, with the error, when the part declares a DTD; other faults end
// the read quietly, and what came before them stands.
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
	if (reader.error() != QXmlStreamReader::CustomError)
		return true;
	if (error)
		*error = xmlError(reader);
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
		m_cursor.endEditBlock();

		if (overLimit)
			return failure(text("TextLimit"));
		if (reader.hasError())
			return failure(xmlError(reader));
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
			return insertText(reader.readElementText(QXmlStreamReader::SkipChildElements));
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
		if (numId >= 1)
			addToList(numId, ilvl);
	}

	void addToList(int numId, int ilvl)
	{
		const WordListLevel level = m_numbering.level(numId, ilvl);
		if (level.style == QTextListFormat::ListStyleUndefined)
			return;
		const std::pair<int, int> key(numId, ilvl);
		// A list whose last block left it is gone; the guard then reads null.
		QPointer<QTextList> &list = m_lists[key];
		if (list) {
			list->add(m_cursor.block());
			return;
		}
		QTextListFormat format;
		format.setStyle(level.style);
		format.setIndent(ilvl + 1);
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
		if (level.start != 1)
			format.setStart(level.start);
#endif
		list = m_cursor.createList(format);
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
	QHash<std::pair<int, int>, QPointer<QTextList>> m_lists;
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
