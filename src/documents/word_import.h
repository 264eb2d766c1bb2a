#pragma once

// Word (.docx) import: turns the three parts of a package that carry text and formatting
// (document, styles, numbering) into note HTML. Everything else in the package is ignored; what
// was visible but could not be kept (pictures, drawings, objects, tables, note references) is
// reported through the simplified flag.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextListFormat>

#include <utility>

class QXmlStreamReader;

namespace quillmar {

struct WordImportResult {
	// The note as QTextDocument::toHtml(); empty on failure.
	QString html;
	// Empty on success, else the module text of the failure, sometimes followed by detail.
	QString error;
	// Content was dropped; only meaningful on success.
	bool simplified = false;
};

struct WordStyle {
	QString basedOn;
	QTextBlockFormat blockFormat;
	QTextCharFormat charFormat;
	int numId = -1;
	int ilvl = 0;
};

struct WordStyles {
	// Paragraph, character and other styles share one table, keyed by style id.
	QHash<QString, WordStyle> styles;
	QTextCharFormat defaultRunFormat;
	// The style of paragraphs that name none: the one marked as default, else "Normal".
	QString defaultParagraphStyle = QStringLiteral("Normal");
};

struct WordListLevel {
	// ListStyleUndefined for a level that shows no number ("none"): not a list item.
	QTextListFormat::Style style = QTextListFormat::ListDecimal;
	int start = 1;
};

struct WordNumbering {
	// numId -> abstractNumId.
	QHash<int, int> abstractOf;
	// (abstractNumId, ilvl) -> level.
	QHash<std::pair<int, int>, WordListLevel> levels;
	// (numId, ilvl) -> start number that a numbering instance sets over its abstract level.
	QHash<std::pair<int, int>, int> startOverrides;

	WordListLevel level(int numId, int ilvl) const;
};

struct WordResolvedStyle {
	QTextBlockFormat blockFormat;
	QTextCharFormat charFormat;
	int numId = -1;
	int ilvl = 0;
};

struct WordParagraphProperties {
	QString styleId;
	QTextBlockFormat blockFormat;
	// Run properties of the paragraph mark: they format an empty paragraph, not the runs.
	QTextCharFormat markFormat;
	int numId = -1;
	int ilvl = 0;
};

// The longest "basedOn" chain that counts; ancestors further away are ignored.
constexpr int kWordStyleDepth = 17;
// A package larger than this is refused, and a part larger than this counts as missing.
constexpr qint64 kWordMaxFileSize = 104857600;
constexpr qint64 kWordMaxPartSize = 25165824;

// Both accept empty input. A part that declares a DTD is refused (error filled, result empty):
// package parts never carry one, and entity expansion is a denial-of-service lever. So is a part
// that nests elements or spells markup beyond WordXmlInput's bounds. Other malformed XML keeps
// what was read before the fault.
WordStyles parseStyles(const QByteArray &xml, QString *error = nullptr);
WordNumbering parseNumbering(const QByteArray &xml, QString *error = nullptr);

WordResolvedStyle resolveStyle(const WordStyles &styles, const QString &id, int depth = 0);

// The reader stands on the start of a "pPr" element; returns after its end.
WordParagraphProperties parseParagraphProperties(QXmlStreamReader &reader);
// The reader stands on the start of one child of "rPr"; returns after its end.
void applyRunProperty(QXmlStreamReader &reader, QTextCharFormat &format);
// The run properties above mark hidden text with this boolean property; it never reaches the note.
constexpr int kWordHiddenProperty = QTextFormat::UserProperty + 0x5744;

// The import of the three parts, already read from the package.
WordImportResult importWordXml(const QByteArray &document, const QByteArray &styles,
			       const QByteArray &numbering);

// The whole import of a .docx file. Blocking; keeps no state between calls.
WordImportResult importWordDocument(const QString &path);

} // namespace quillmar
