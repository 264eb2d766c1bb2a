#pragma once

// Builders for notes at and around the note limits, shared by the editor tests.

#include <QList>
#include <QString>
#include <QTextDocument>

namespace quillmar::test {

// Paragraphs of the given lengths joined by line feeds; each paragraph repeats its own letter.
inline QString paragraphs(const QList<int> &lengths)
{
	QString text;
	for (int i = 0; i < lengths.size(); ++i) {
		if (i > 0)
			text += u'\n';
		text += QString(lengths[i], QChar(u'a' + i % 26));
	}
	return text;
}

// Plain text of exactly chars characters as a note counts them (separators included), in
// paragraphs of at most width characters.
inline QString noteOfLength(int chars, int width = 9000)
{
	QList<int> lengths;
	while (chars > width) {
		lengths.append(width);
		chars -= width + 1;
	}
	lengths.append(chars);
	return paragraphs(lengths);
}

inline int noteChars(const QTextDocument *document)
{
	return document->characterCount() - 1;
}

} // namespace quillmar::test
