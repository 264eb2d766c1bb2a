#pragma once

// Lists that survive being stored as HTML. Notes are kept as QTextDocument::toHtml(), whose HTML
// writes a list as one element holding its items and all that lies between them, and writes a
// list that begins right after an item of a list with a smaller indent inside that item. A
// document that continues lists where that HTML cannot carry them reads back with items in the
// wrong list or in none. Whoever builds a note's lists asks this rule first.

#include <QHash>
#include <QSet>

#include <cstddef>
#include <limits>
#include <vector>

class QTextCharFormat;
class QTextList;

namespace quillmar {

// The lists that may still take items, innermost last. A list goes on only while every list
// begun since its last item is over, and a list that begins anywhere else ends the lists nested
// in items: Qt would close the wrong item where it ends. A list that may not go on gives way to a
// new one with the same style, indent and the next number.
class ListContinuation {
public:
	// Whether the list may take the next item: it goes on, closing the lists begun since its
	// last item, or it begins here. False for a list that has ended. "nested": the block before
	// is an item of a list with a smaller indent.
	bool take(const QTextList *list, bool nested);
	// Records a list that begins at the current block.
	void start(const QTextList *list, bool nested);

private:
	static constexpr size_t kNone = std::numeric_limits<size_t>::max();

	void closeFrom(size_t depth);

	std::vector<int> m_stack;
	QHash<int, size_t> m_depth;
	QSet<int> m_seen;
	size_t m_firstNested = kNone;
};

// Qt writes the character format of a list item's paragraph as the style of its <li>, and
// reading the HTML back hands that style to the item's text and to lists nested in the item. So
// a list item's paragraph format keeps no character properties its text could inherit; false
// when there were none to remove.
bool detachListItemFormat(QTextCharFormat &format);

} // namespace quillmar
