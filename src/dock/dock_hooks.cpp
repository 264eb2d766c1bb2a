// Calls from scene tracking and the layout into features that the dock does not have yet. Each does nothing
// until its feature moves in; the feature then replaces its hook here with the real code.
#include "dock/dock.h"

namespace quillmar {

void Dock::setFormatPainter(bool) {}
void Dock::hideGoTo() {}
void Dock::stopScrolling() {}
void Dock::syncFormatControls() {}
void Dock::invalidateSearch() {}
void Dock::hideRemotePopup() {}
void Dock::shutdownRemote() {}
void Dock::notifyRemoteNoteChanged(const QString &) {}
void Dock::notifyRemoteStateChanged() {}
void Dock::notifyRemoteCollectionChanging(bool) {}
void Dock::notifyRemoteLockChanged() {}
void Dock::notifyRemoteReadingPosition() {}
void Dock::requestScroll() {}
void Dock::scrollTick() {}
void Dock::countdownTick() {}
void Dock::updateReadingBand() {}
void Dock::syncMarkTypingColor() {}
void Dock::updateSearchStatus() {}
void Dock::searchTimerExpired() {}
void Dock::goToFocusChanged() {}
void Dock::autoClearStep() {}
void Dock::openRemotePopup() {}

} // namespace quillmar
