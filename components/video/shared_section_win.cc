// A paging-file section in the session's namespace: CreateFileMappingW +
// MapViewOfFile.
#include <windows.h>

#include "base/logging.h"
#include "base/string_util.h"
#include "base/win_util.h"
#include "components/video/shared_section.h"

namespace component {

struct SharedSection::Handle {
  HANDLE section = nullptr;
};

SharedSection::SharedSection(const std::string& name, size_t sectionBytes, size_t viewBytes, bool readOnly)
    : handle_(std::make_unique<Handle>()), readOnly_(readOnly) {
  const base::string16 full = u"Local\\" + base::utf8ToWide(name);
  // Opens the section when it exists already (the camera may have made it).
  HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      static_cast<DWORD>(sectionBytes), base::wstr(full));
  if (!section) {
    LOG(ERROR) << "CreateFileMapping failed: " << GetLastError();
    return;
  }
  handle_->section = section;
  void* view = MapViewOfFile(section, readOnly ? FILE_MAP_READ : FILE_MAP_ALL_ACCESS, 0, 0, viewBytes);
  if (!view) {
    LOG(ERROR) << "MapViewOfFile failed: " << GetLastError();
    return;
  }
  view_ = static_cast<uint8_t*>(view);
  viewBytes_ = viewBytes;
}

SharedSection::~SharedSection() {
  if (view_) UnmapViewOfFile(view_);
  if (handle_->section) CloseHandle(handle_->section);
}

void SharedSection::unlink(const std::string&) {}

}  // namespace component
