// A named shared-memory section as the virtual camera knows it: created, or
// opened when the camera or an earlier run made it already, and mapped
// read/write (the writer) or read-only. Windows: a paging-file section
// "Local\<name>"; Linux: POSIX shared memory "/<name>" (/dev/shm/<name>).
//
// Thread: any; the object itself is not shared between threads.
#ifndef COMPONENTS_VIDEO_SHARED_SECTION_H_
#define COMPONENTS_VIDEO_SHARED_SECTION_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace component {

class SharedSection {
 public:
  // Creates or opens the section `name` (no prefix; "LumoraZuvIridar") with
  // `sectionBytes` and maps its first `viewBytes`. A new section reads as
  // zeros. Linux: a section another user made is refused with a log line.
  // Never fails outright: check data().
  SharedSection(const std::string& name, size_t sectionBytes, size_t viewBytes, bool readOnly);
  ~SharedSection();
  SharedSection(const SharedSection&) = delete;
  SharedSection& operator=(const SharedSection&) = delete;

  // The mapped view; null when the section could not be made or mapped.
  uint8_t* data() const { return view_; }
  size_t size() const { return viewBytes_; }
  bool readOnly() const { return readOnly_; }

  // Removes the name so the next opener makes a fresh section (Linux; the
  // Windows section goes with its last handle). The writer calls it at a
  // clean exit; tests too.
  static void unlink(const std::string& name);

  struct Handle;

 private:
  std::unique_ptr<Handle> handle_;
  uint8_t* view_ = nullptr;
  size_t viewBytes_ = 0;
  bool readOnly_;
};

}  // namespace component

#endif  // COMPONENTS_VIDEO_SHARED_SECTION_H_
