#pragma once
#include <cstdint>

namespace pv {

struct FrameSchedule {
  bool stop = false;  // the frame waits for the user: no more ticks
  uint64_t due = 0;   // tick count at which the next frame is shown
  uint32_t wait = 0;  // milliseconds from now
};

// Due times accumulate from the previous one (0 for the first frame), so
// painting time does not make the animation drift; a frame is never shown
// sooner than 10 ms from now. A delay of 0 means 33 ms; one with the top
// bit set stops the animation.
FrameSchedule ScheduleNextFrame(uint32_t delay, uint64_t previousDue, uint64_t now);

}  // namespace pv
