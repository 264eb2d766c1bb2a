#pragma once

#include <QString>

struct text_lookup;

namespace quillmar {

// The module's locale table; null until the host sets a locale.
text_lookup *textLookup();
void setTextLookup(text_lookup *lookup);

// The looked-up text of a locale key, or the key itself when it is missing.
QString text(const char *key);

} // namespace quillmar
