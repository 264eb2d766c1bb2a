// Search and go-to.
#include "dock/dock.h"


namespace quillmar {

void Dock::stopSearchTimer()
{
	m_searchTimer.stop();
}

void Dock::hideGoTo() {}
void Dock::invalidateSearch() {}
void Dock::updateSearchStatus() {}
void Dock::searchTimerExpired() {}
void Dock::goToFocusChanged() {}

} // namespace quillmar
