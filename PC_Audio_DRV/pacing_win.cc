// Windows: the multimedia timer's finest period while the reader runs, and
// an above-normal reader thread.
#include <windows.h>
#include <mmsystem.h>

#include "PC_Audio_DRV/lumora_wave_driver.h"

ScopedFinePacing::ScopedFinePacing() {
  TIMECAPS caps = {};
  if (::timeGetDevCaps(&caps, sizeof(caps)) == TIMERR_NOERROR) {
    period_ = caps.wPeriodMin < 1 ? 1 : caps.wPeriodMin;
    if (period_ > caps.wPeriodMax) period_ = caps.wPeriodMax;
    ::timeBeginPeriod(period_);
  }
}

ScopedFinePacing::~ScopedFinePacing() {
  if (period_) ::timeEndPeriod(period_);
}

void raiseReaderPriority() { ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL); }
