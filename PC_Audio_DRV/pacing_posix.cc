// Linux: the kernel's timers are fine-grained already; the reader asks for
// a little more priority where the user may have it.
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "PC_Audio_DRV/lumora_wave_driver.h"

ScopedFinePacing::ScopedFinePacing() {}
ScopedFinePacing::~ScopedFinePacing() {}

void raiseReaderPriority() {
  const int ok = ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), -5);
  (void)ok;  // refused without the right; the reader runs at normal priority
}
