#include "viewer/animation_timer.h"

#include <algorithm>

namespace pv {

FrameSchedule ScheduleNextFrame(uint32_t delay, uint64_t previousDue, uint64_t now) {
  FrameSchedule s;
  if (delay & 0x80000000u) {
    s.stop = true;
    return s;
  }
  const uint32_t d = delay == 0 ? 33 : delay;
  s.due = std::max((previousDue ? previousDue : now) + d, now + 10);
  s.wait = static_cast<uint32_t>(s.due - now);
  return s;
}

}  // namespace pv
