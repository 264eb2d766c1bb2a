// The dock's side of the remote service.
#include "dock/dock.h"


namespace quillmar {

void Dock::hideRemotePopup() {}
void Dock::shutdownRemote() {}
void Dock::notifyRemoteNoteChanged(const QString &) {}
void Dock::notifyRemoteStateChanged() {}
void Dock::notifyRemoteCollectionChanging(bool) {}
void Dock::notifyRemoteLockChanged() {}
void Dock::notifyRemoteReadingPosition() {}
void Dock::openRemotePopup() {}

} // namespace quillmar
