#include "module/clock.h"

#include <chrono>

namespace quillmar {

MonotonicClock steadyClock()
{
	return [] {
		using namespace std::chrono;
		return qint64(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
	};
}

} // namespace quillmar
