#include "dock/search_match.h"

#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>

namespace quillmar {

namespace {

constexpr int kGoToMaxLength = 10;

// Readers paste text with no-break spaces; they never type one into the search.
QString withPlainSpaces(QString text)
{
	return text.replace(QChar::Nbsp, QLatin1Char(' '));
}

} // namespace

std::vector<TextMatch> findTextMatches(const QTextDocument &document, const QString &needle)
{
	std::vector<TextMatch> matches;
	if (needle.isEmpty())
		return matches;
	const QString plainNeedle = withPlainSpaces(needle);
	const qsizetype length = plainNeedle.size();
	for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
		const QString text = withPlainSpaces(block.text());
		for (qsizetype at = text.indexOf(plainNeedle, 0, Qt::CaseInsensitive); at >= 0;
		     at = text.indexOf(plainNeedle, at + length, Qt::CaseInsensitive)) {
			const qint32 start = block.position() + qint32(at);
			matches.push_back({start, start + qint32(length)});
		}
	}
	return matches;
}

int matchNumber(const std::vector<TextMatch> &matches, int selectionStart, int selectionEnd)
{
	const auto it = std::lower_bound(matches.begin(), matches.end(), selectionStart,
					 [](const TextMatch &match, int start) { return match.start < start; });
	if (it == matches.end() || it->start != selectionStart || it->end != selectionEnd)
		return 0;
	return int(it - matches.begin()) + 1;
}

int nextMatchIndex(const std::vector<TextMatch> &matches, int position)
{
	if (matches.empty())
		return -1;
	const auto it = std::lower_bound(matches.begin(), matches.end(), position,
					 [](const TextMatch &match, int at) { return match.start < at; });
	return it == matches.end() ? 0 : int(it - matches.begin());
}

int previousMatchIndex(const std::vector<TextMatch> &matches, int position)
{
	if (matches.empty())
		return -1;
	// Hits do not overlap, so their ends are sorted as well.
	const auto it = std::upper_bound(matches.begin(), matches.end(), position,
					 [](int at, const TextMatch &match) { return at < match.end; });
	return it == matches.begin() ? int(matches.size()) - 1 : int(it - matches.begin()) - 1;
}

std::optional<GoToTarget> parseGoTo(const QString &text, int paragraphs)
{
	QString value = text.trimmed();
	if (value.size() > kGoToMaxLength)
		return std::nullopt;
	GoToTarget target;
	if (value.endsWith(QLatin1Char('%'))) {
		target.percent = true;
		value.chop(1);
	}
	bool ok = false;
	target.value = value.trimmed().toInt(&ok, 10);
	if (!ok)
		return std::nullopt;
	const bool inRange = target.percent ? target.value >= 0 && target.value <= 100
					    : target.value >= 1 && target.value <= paragraphs;
	if (!inRange)
		return std::nullopt;
	return target;
}

int percentScrollValue(int maximum, int percent)
{
	return int(qint64(maximum) * percent / 100);
}

QRect goToGeometry(const QSize &dock, const QRect &metricsArea, int fontHeight)
{
	const int width = metricsArea.width();
	const int height = std::max(fontHeight + 6, 24);
	int x = std::min(dock.width() - width, metricsArea.left());
	int y = std::min(dock.height() - height, metricsArea.top() + metricsArea.height() / 2 - height / 2);
	if (x < 1)
		x = 0;
	if (y < 1)
		y = 0;
	return QRect(x, y, width, height);
}

} // namespace quillmar
