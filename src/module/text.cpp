#include "module/text.h"

#include <util/text-lookup.h>

namespace quillmar {

namespace {
text_lookup *g_lookup = nullptr;
}

text_lookup *textLookup()
{
	return g_lookup;
}

void setTextLookup(text_lookup *lookup)
{
	g_lookup = lookup;
}

QString text(const char *key)
{
	const char *out = nullptr;
	if (g_lookup && key && text_lookup_getstr(g_lookup, key, &out) && out)
		return QString::fromUtf8(out);
	return QString::fromUtf8(key ? key : "");
}

} // namespace quillmar

#include <QTextDocument>

namespace quillmar {

QString plainToolTip(const QString &text)
{
	return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal) : text;
}

} // namespace quillmar
