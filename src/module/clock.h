#pragma once

#include <QtGlobal>

#include <functional>

namespace quillmar {

// Milliseconds on a clock that never steps: motion and expiry must not follow NTP or a user
// changing the system time. Tests hand their own in.
using MonotonicClock = std::function<qint64()>;
MonotonicClock steadyClock();

} // namespace quillmar
