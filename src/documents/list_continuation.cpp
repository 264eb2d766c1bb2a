#include "documents/list_continuation.h"

#include <QTextCharFormat>
#include <QTextList>

namespace quillmar {

bool ListContinuation::take(const QTextList *list, bool nested)
{
	const int id = list->objectIndex();
	const auto at = m_depth.constFind(id);
	if (at != m_depth.constEnd()) {
		closeFrom(*at + 1);
		return true;
	}
	if (m_seen.contains(id))
		return false;
	start(list, nested);
	return true;
}

void ListContinuation::start(const QTextList *list, bool nested)
{
	if (!nested)
		closeFrom(m_firstNested);
	const int id = list->objectIndex();
	if (nested && m_firstNested == kNone)
		m_firstNested = m_stack.size();
	m_depth.insert(id, m_stack.size());
	m_stack.push_back(id);
	m_seen.insert(id);
}

void ListContinuation::closeFrom(size_t depth)
{
	while (m_stack.size() > depth) {
		m_depth.remove(m_stack.back());
		m_stack.pop_back();
	}
	if (m_firstNested >= m_stack.size())
		m_firstNested = kNone;
}

bool detachListItemFormat(QTextCharFormat &format)
{
	// A property the text does not set is inherited, "no colour" cannot be written, text
	// decorations add up, and a background becomes the paragraph's.
	static const QTextFormat::Property properties[] = {
		QTextFormat::ForegroundBrush,    QTextFormat::BackgroundBrush, QTextFormat::FontPointSize,
		QTextFormat::FontFamilies,       QTextFormat::FontFamily,      QTextFormat::FontWeight,
		QTextFormat::FontItalic,         QTextFormat::FontUnderline,   QTextFormat::TextUnderlineStyle,
		QTextFormat::FontStrikeOut};
	bool changed = false;
	for (QTextFormat::Property property : properties) {
		changed = changed || format.hasProperty(property);
		format.clearProperty(property);
	}
	return changed;
}

} // namespace quillmar
