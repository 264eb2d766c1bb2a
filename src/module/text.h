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

namespace quillmar {

// A tooltip that shows the text as it is: Qt renders any tooltip that looks like markup (a scene
// named "<b>x" would turn bold), and names come from anyone who can rename a scene.
QString plainToolTip(const QString &text);

} // namespace quillmar
