#pragma once

// What the Word import tests share: documents built from a body, and the note read back from its
// HTML, the form in which the dock stores it.

#include "documents/word_import.h"

#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>

#include <initializer_list>
#include <utility>

namespace quillmar::wordtest {

inline const QByteArray kNamespaces =
	R"(xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main" )"
	R"(xmlns:mc="http://schemas.openxmlformats.org/markup-compatibility/2006")";

inline QByteArray documentXml(const QByteArray &body)
{
	return R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?><w:document )" + kNamespaces +
	       "><w:body>" + body + "</w:body></w:document>";
}

inline QByteArray paragraph(const QByteArray &text, const QByteArray &pPr = {}, const QByteArray &rPr = {})
{
	return "<w:p>" + (pPr.isEmpty() ? QByteArray() : "<w:pPr>" + pPr + "</w:pPr>") + "<w:r>" +
	       (rPr.isEmpty() ? QByteArray() : "<w:rPr>" + rPr + "</w:rPr>") + "<w:t>" + text + "</w:t></w:r></w:p>";
}

// One property of a format, spelt so that tables can state it.
inline QString describe(const QTextCharFormat &f, const QByteArray &property)
{
	const auto color = [](const QBrush &b) { return b.style() == Qt::NoBrush ? QStringLiteral("none") : b.color().name(); };
	const auto yes = [](bool on) { return on ? QStringLiteral("yes") : QStringLiteral("no"); };
	if (property == "weight")
		return QString::number(f.fontWeight());
	if (property == "italic")
		return yes(f.fontItalic());
	if (property == "underline")
		return f.underlineStyle() == QTextCharFormat::SingleUnderline ? QStringLiteral("single")
		       : f.underlineStyle() == QTextCharFormat::NoUnderline   ? QStringLiteral("none")
									      : QString::number(int(f.underlineStyle()));
	if (property == "strike")
		return yes(f.fontStrikeOut());
	if (property == "size")
		return f.hasProperty(QTextFormat::FontPointSize) ? QString::number(f.fontPointSize()) : QStringLiteral("unset");
	if (property == "family")
		return f.fontFamilies().toStringList().join(QLatin1Char(','));
	if (property == "color")
		return color(f.foreground());
	if (property == "background")
		return color(f.background());
	if (property == "vertical") {
		static const char *const names[] = {"normal", "super", "sub"}; // in the order of the enum
		const int v = int(f.verticalAlignment());
		return v >= 0 && v < 3 ? QLatin1String(names[v]) : QString::number(v);
	}
	return QStringLiteral("?");
}

struct Note {
	explicit Note(WordImportResult imported) : result(std::move(imported)) { document.setHtml(result.html); }

	// The text of each paragraph; a list item starts with its list's style, indent and number in
	// order of appearance, such as "[decimal 1 #0] ".
	QStringList paragraphs() const
	{
		static const char *const styles[] = {"disc", "circle", "square", "decimal", "a", "A", "i", "I"};
		QStringList out;
		QList<QTextList *> lists;
		for (QTextBlock b = document.begin(); b.isValid(); b = b.next()) {
			QTextList *list = b.textList();
			if (list && !lists.contains(list))
				lists << list;
			const int style = list ? -1 - int(list->format().style()) : 0;
			out << (list ? QStringLiteral("[%1 %2 #%3] ")
						.arg(QLatin1String(style >= 0 && style < 8 ? styles[style] : "?"))
						.arg(list->format().indent())
						.arg(lists.indexOf(list))
				     : QString()) +
				       b.text();
		}
		return out;
	}

	QTextBlock block(int n) const { return document.findBlockByNumber(n); }
	QTextList *list(int n) const { return block(n).textList(); }

	// The format inside the first occurrence of a word, in one paragraph or anywhere.
	QTextCharFormat formatOf(const QString &word, int n = -1) const
	{
		const QTextBlock b = n < 0 ? document.begin() : block(n);
		const QTextCursor found = document.find(word, b.position());
		if (found.isNull() || (n >= 0 && found.block() != b))
			return QTextCharFormat();
		QTextCursor inside(found);
		inside.setPosition(found.selectionStart() + 1);
		return inside.charFormat();
	}

	// Without the absolute flag that reading HTML back adds.
	Qt::Alignment alignment(int n) const
	{
		return block(n).blockFormat().alignment() & (Qt::AlignLeft | Qt::AlignRight | Qt::AlignHCenter | Qt::AlignJustify);
	}

	struct Expect {
		int paragraph;
		const char *word, *property, *value;
	};

	// Checks a table of formats; a failure names its row.
	void expect(std::initializer_list<Expect> rows) const
	{
		for (const Expect &e : rows) {
			const QString got = describe(formatOf(QString::fromUtf8(e.word), e.paragraph), e.property);
			QVERIFY2(got == QLatin1String(e.value), qPrintable(QStringLiteral("%1 in %2: %3 is %4, not %5")
									 .arg(e.word).arg(e.paragraph).arg(e.property, got, e.value)));
		}
	}

	WordImportResult result;
	QTextDocument document;
};

} // namespace quillmar::wordtest
