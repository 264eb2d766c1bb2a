// Calls from scene tracking into features that the dock does not have yet. Each does nothing
// until its feature moves in; the feature then replaces its hook here with the real code.
#include "dock/dock.h"

namespace quillmar {

void Dock::setFormatPainter(bool) {}
void Dock::hideGoTo() {}
void Dock::stopScrolling() {}
void Dock::updateToolEnabling() {}
void Dock::setSceneToolsEnabled(bool) {}
void Dock::syncFormatControls() {}
void Dock::updateCharacterCount() {}
void Dock::updateDocumentStatus() {}
void Dock::invalidateSearch() {}
void Dock::stopSearchTimer() {}
void Dock::hideRemotePopup() {}
void Dock::shutdownRemote() {}
void Dock::notifyRemoteNoteChanged(const QString &) {}
void Dock::notifyRemoteStateChanged() {}
void Dock::notifyRemoteCollectionChanging(bool) {}
void Dock::notifyRemoteLockChanged() {}
void Dock::rearmAutoClear() {}
void Dock::stopAutoClear() {}

bool Dock::isScrollingOrCountingDown() const
{
	return false;
}

} // namespace quillmar
