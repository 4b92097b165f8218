#include <windows.h>

#include "PC_Audio_DRV/waitable_event.h"

struct WaitableEvent::Impl {
  HANDLE handle = nullptr;
};

WaitableEvent::WaitableEvent(bool manualReset, bool initiallySet) : impl_(new Impl) {
  impl_->handle = ::CreateEventW(nullptr, manualReset, initiallySet, nullptr);
}

WaitableEvent::~WaitableEvent() {
  if (impl_->handle) ::CloseHandle(impl_->handle);
}

void WaitableEvent::set() { ::SetEvent(impl_->handle); }
void WaitableEvent::reset() { ::ResetEvent(impl_->handle); }
bool WaitableEvent::isSet() { return ::WaitForSingleObject(impl_->handle, 0) == WAIT_OBJECT_0; }

int WaitableEvent::waitAny(WaitableEvent* first, WaitableEvent* second) {
  HANDLE handles[2] = {first->impl_->handle, second->impl_->handle};
  const DWORD result = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
  if (result == WAIT_OBJECT_0) return 0;
  if (result == WAIT_OBJECT_0 + 1) return 1;
  return -1;
}
