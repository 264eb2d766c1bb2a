// Formatting tools and marks.
#include "dock/dock.h"


namespace quillmar {

void Dock::setFormatPainter(bool) {}
void Dock::syncFormatControls() {}
void Dock::syncMarkTypingColor() {}
void Dock::insertTime() {}
void Dock::insertMark() {}
void Dock::goToNextMark() {}

} // namespace quillmar
