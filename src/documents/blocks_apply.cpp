#include "documents/blocks.h"

#include "documents/blocks_model.h"
#include "documents/list_continuation.h"
#include "module/text.h"

#include <QHash>
#include <QJsonArray>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>

#include <limits>
#include <utility>
#include <vector>

namespace quillmar {

using namespace blocks;

namespace {

constexpr qint64 kNoNumber = std::numeric_limits<qint64>::min();

struct WantedBlock {
	int align;
	int indent;
	int list;
	int listIndent;
	int listStart;
	double listGroup;
};

// One run of the incoming document, at its place in the new text.
struct Range {
	int position;
	int length;
	RunStyle style;
};

struct Failure {
	bool limit = false;
	const char *key = "BlocksInvalid";
	QString detail;

	bool set(const char *k, QString d = QString(), bool overLimit = false)
	{
		key = k;
		detail = std::move(d);
		limit = overLimit;
		return false;
	}
	bool invalid(QString d) { return set("BlocksInvalid", std::move(d)); }
	bool tooLong(QString d) { return set("TextLimit", std::move(d), true); }
	QString message() const
	{
		return detail.isEmpty() ? text(key) : text(key) + QStringLiteral(" (%1)").arg(detail);
	}
};

QString where(int block, int run = -1, const char *what = nullptr)
{
	QString s = QStringLiteral("block %1").arg(block + 1);
	if (run >= 0)
		s += QStringLiteral(", run %1").arg(run + 1);
	if (what)
		s += QStringLiteral(": \"%1\"").arg(QLatin1String(what));
	return s;
}

// The incoming document checked and laid out as one text with paragraph separators between the
// blocks, the way the stored document holds its own text.
struct Incoming {
	QString text;
	std::vector<WantedBlock> blocks;
	std::vector<Range> ranges;

	bool read(const QJsonArray &array, Failure &failure)
	{
		blocks.reserve(size_t(array.size()));
		int runCount = 0;
		for (qsizetype b = 0; b < array.size(); ++b) {
			const int bi = int(b);
			const QJsonValue value = array.at(b);
			if (!value.isObject())
				return failure.invalid(where(bi));
			const QJsonObject block = value.toObject();
			WantedBlock wanted;
			if (!readBlock(block, wanted, bi, failure))
				return false;
			blocks.push_back(wanted);
			const QJsonValue runs = block.value(QLatin1String("runs"));
			if (!runs.isArray())
				return failure.invalid(where(bi, -1, "runs"));
			const QJsonArray runArray = runs.toArray();
			qsizetype blockLength = 0;
			for (qsizetype r = 0; r < runArray.size(); ++r) {
				const int ri = int(r);
				const QJsonValue runValue = runArray.at(r);
				if (!runValue.isObject())
					return failure.invalid(where(bi, ri));
				if (runCount >= kMaxNoteRuns)
					return failure.invalid(
						QStringLiteral("more than %1 runs").arg(kMaxNoteRuns));
				const QJsonObject run = runValue.toObject();
				const QJsonValue textValue = run.value(QLatin1String("text"));
				if (!textValue.isString())
					return failure.invalid(where(bi, ri, "text"));
				const QString runText = textValue.toString();
				blockLength += runText.size();
				if (blockLength > kParagraphCharLimit)
					return failure.tooLong(where(bi));
				if (text.size() + runText.size() > kNoteCharLimit)
					return failure.tooLong(QString());
				Range range{int(text.size()), int(runText.size()), RunStyle()};
				if (!runStyleFromJson(run, range.style))
					return failure.invalid(where(bi, ri));
				if (!textAllowed(runText))
					return failure.invalid(where(bi, ri, "text"));
				ranges.push_back(std::move(range));
				text += runText;
				++runCount;
			}
			text += QChar::ParagraphSeparator;
		}
		text.chop(1);
		if (text.size() > kNoteCharLimit)
			return failure.tooLong(QString());
		return true;
	}

	static bool readBlock(const QJsonObject &block, WantedBlock &wanted, int bi, Failure &failure)
	{
		struct Field {
			const char *key;
			bool (*valid)(qint64);
			int *out;
		};
		const Field fields[] = {{"align", validAlign, &wanted.align},
					{"indent", validIndent, &wanted.indent},
					{"list", validList, &wanted.list},
					{"listIndent", validListIndent, &wanted.listIndent},
					{"listStart", validListStart, &wanted.listStart}};
		for (const Field &field : fields) {
			const qint64 v = block.value(QLatin1String(field.key)).toInteger(kNoNumber);
			if (!field.valid(v))
				return failure.invalid(where(bi, -1, field.key));
			*field.out = int(v);
		}
		wanted.listGroup = block.value(QLatin1String("listGroup")).toDouble(0);
		return true;
	}
};

// The stored note, its model styles cached per character format.
class Target {
public:
	explicit Target(const QString &html) : m_doc(scratchDocument(html)) {}

	QTextDocument &document() { return *m_doc; }

	// Replaces the text between the longest common prefix and suffix of the stored and the new
	// text. Both texts hold paragraph and line separators and no-break spaces as they are, so
	// that a soft break never stands in for a paragraph break. A surrogate pair is never split.
	void replaceText(const QString &next)
	{
		const QString old = m_doc->toRawText();
		const qsizetype oldLength = old.size();
		const qsizetype newLength = next.size();
		const qsizetype most = qMin(oldLength, newLength);
		qsizetype p = 0;
		while (p < most && old.at(p) == next.at(p))
			++p;
		if (p > 0 && p < qMax(oldLength, newLength) && old.at(p - 1).isHighSurrogate())
			--p;
		qsizetype s = 0;
		while (s < most - p && old.at(oldLength - 1 - s) == next.at(newLength - 1 - s))
			++s;
		if (s > 0 && old.at(oldLength - s).isLowSurrogate())
			--s;
		if (oldLength - s == p && newLength - s == p)
			return;
		QTextCursor cursor(m_doc.get());
		// Anchor at the end, position at the start: the new text takes the format found there.
		cursor.setPosition(int(oldLength - s));
		cursor.setPosition(int(p), QTextCursor::KeepAnchor);
		if (newLength - s > p)
			cursor.insertText(next.mid(p, newLength - s - p));
		else
			cursor.removeSelectedText();
	}

	// Merges every run's format into its text, where the text does not show it already: text
	// that does is left as it is, with whatever the model does not see.
	void formatRanges(const std::vector<Range> &ranges)
	{
		std::vector<char> needed(ranges.size(), 0);
		collectFragments();
		size_t f = 0;
		for (size_t i = 0; i < ranges.size(); ++i) {
			const Range &r = ranges[i];
			const int rEnd = r.position + r.length;
			if (r.length == 0)
				continue;
			while (f < m_fragments.size() && m_fragments[f].end <= r.position)
				++f;
			for (size_t g = f; g < m_fragments.size() && m_fragments[g].position < rEnd; ++g) {
				if (!showsRunStyle(m_styles[m_fragments[g].style], r.style)) {
					needed[i] = 1;
					break;
				}
			}
		}
		QTextCursor cursor(m_doc.get());
		for (size_t i = 0; i < ranges.size(); ++i) {
			if (!needed[i])
				continue;
			// Neighbours in one paragraph with the same format take one merge.
			size_t last = i;
			while (last + 1 < ranges.size() && needed[last + 1] &&
			       ranges[last + 1].position == ranges[last].position + ranges[last].length &&
			       ranges[last + 1].style == ranges[i].style)
				++last;
			QTextCharFormat format;
			mergeRunStyle(ranges[i].style, format);
			cursor.setPosition(ranges[i].position);
			cursor.setPosition(ranges[last].position + ranges[last].length,
					   QTextCursor::KeepAnchor);
			cursor.mergeCharFormat(format);
			i = last;
		}
	}

	// Block alignment, indent and lists; false when the document's blocks do not pair up with
	// the incoming ones.
	bool formatBlocks(const std::vector<WantedBlock> &wantedBlocks)
	{
		QTextCursor cursor(m_doc.get());
		QTextList *current = nullptr;
		const WantedBlock *previous = nullptr;
		ListContinuation open;
		QTextBlock block = m_doc->begin();
		for (const WantedBlock &wanted : wantedBlocks) {
			if (!block.isValid())
				return false;
			QTextBlockFormat format = block.blockFormat();
			if (modelAlignment(format.alignment()) != wanted.align ||
			    format.indent() != wanted.indent) {
				format.setAlignment(Qt::Alignment(wanted.align));
				format.setIndent(wanted.indent);
				cursor.setPosition(block.position());
				cursor.setBlockFormat(format);
			}
			QTextList *own = block.textList();
			// Whether a list that starts here sits inside the item before it.
			const bool nested = current && current->format().indent() < wanted.listIndent;
			if (wanted.list == 0) {
				if (own)
					leaveList(cursor, block);
				current = nullptr;
			} else if (current && previous && previous->listGroup == wanted.listGroup &&
				   previous->list == wanted.list && previous->listIndent == wanted.listIndent) {
				if (own != current)
					current->add(block);
			} else if (own && own->objectIndex() + 1 == wanted.listGroup &&
				   own->format().style() == wanted.list &&
				   own->format().indent() == wanted.listIndent &&
				   listStartOf(own->format()) == wanted.listStart && open.take(own, nested)) {
				current = own;
			} else {
				QTextListFormat listFormat;
				listFormat.setStyle(QTextListFormat::Style(wanted.list));
				listFormat.setIndent(wanted.listIndent);
				listFormat.setStart(wanted.listStart);
				cursor.setPosition(block.position());
				current = cursor.createList(listFormat);
				open.start(current, nested);
			}
			previous = &wanted;
			block = block.next();
		}
		return !block.isValid();
	}

	// List items keep no character properties of the model in their paragraph format; their
	// text keeps its own.
	void detachListItemFormats()
	{
		QTextCursor cursor(m_doc.get());
		for (QTextBlock block = m_doc->begin(); block.isValid(); block = block.next()) {
			if (!block.textList())
				continue;
			QTextCharFormat item = block.charFormat();
			if (detachListItemFormat(item)) {
				cursor.setPosition(block.position());
				cursor.setBlockCharFormat(item);
			}
		}
	}

private:
	struct Fragment {
		int position;
		int end;
		int style;
	};

	void collectFragments()
	{
		m_fragments.clear();
		QHash<int, int> styleOfFormat;
		for (QTextBlock block = m_doc->begin(); block.isValid(); block = block.next()) {
			for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
				const QTextFragment fragment = it.fragment();
				if (!fragment.isValid())
					continue;
				auto slot = styleOfFormat.find(fragment.charFormatIndex());
				if (slot == styleOfFormat.end()) {
					m_styles.push_back(runStyleOf(fragment.charFormat()));
					slot = styleOfFormat.insert(fragment.charFormatIndex(),
								    int(m_styles.size() - 1));
				}
				m_fragments.push_back(Fragment{fragment.position(),
							       fragment.position() + fragment.length(),
							       *slot});
			}
		}
	}

	// Takes the block out of its list; unlike QTextList::remove this keeps the block's own
	// indent instead of adding the list's to it.
	static void leaveList(QTextCursor &cursor, const QTextBlock &block)
	{
		QTextBlockFormat format = block.blockFormat();
		format.setObjectIndex(-1);
		cursor.setPosition(block.position());
		cursor.setBlockFormat(format);
	}

	std::unique_ptr<QTextDocument> m_doc;
	std::vector<Fragment> m_fragments;
	std::vector<RunStyle> m_styles;
};

bool apply(const QString &currentHtml, const QJsonObject &incoming, QString &newHtml,
	   Failure &failure)
{
	Target target(currentHtml);
	const QJsonObject current = documentToBlocks(target.document(), false);
	if (current.isEmpty())
		return failure.set("BlocksStoredTooLong");
	if (!current.value(QLatin1String("editable")).toBool())
		return failure.set("BlocksNotEditable");
	const QJsonValue blocksValue = incoming.value(QLatin1String("blocks"));
	const QJsonArray blocks = blocksValue.toArray();
	if (!blocksValue.isArray() || blocks.isEmpty())
		return failure.invalid(QStringLiteral("\"blocks\""));
	if (blocks.size() > kNoteParagraphLimit)
		return failure.tooLong(QStringLiteral("%1 paragraphs").arg(blocks.size()));

	Incoming next;
	if (!next.read(blocks, failure))
		return false;
	if (blocks == current.value(QLatin1String("blocks")).toArray()) {
		newHtml = currentHtml;
		return true;
	}
	QTextCursor edit(&target.document());
	edit.beginEditBlock();
	target.replaceText(next.text);
	target.formatRanges(next.ranges);
	edit.endEditBlock();
	if (!target.formatBlocks(next.blocks))
		return failure.invalid(QStringLiteral("paragraphs do not match"));
	target.detachListItemFormats();
	newHtml = target.document().toHtml();
	return true;
}

} // namespace

bool applyBlocks(const QString &currentHtml, const QJsonObject &incoming, QString &newHtml,
		 bool *limitExceeded, QString *error)
{
	if (limitExceeded)
		*limitExceeded = false;
	Failure failure;
	QString html;
	if (!apply(currentHtml, incoming, html, failure)) {
		if (limitExceeded)
			*limitExceeded = failure.limit;
		if (error)
			*error = failure.message();
		return false;
	}
	newHtml = html;
	return true;
}

} // namespace quillmar
