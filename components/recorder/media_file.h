// MediaFile: the file a recording is written to, opened by its UTF-16 name
// (the wide name on Windows, UTF-8 on Linux) and driven by the muxer through
// a custom I/O context: create and truncate, binary, write, 64-bit seek.
//
// Thread: one thread at a time (the recorder's capture thread while
// recording, the user-interface thread at start and stop).
#ifndef COMPONENTS_RECORDER_MEDIA_FILE_H_
#define COMPONENTS_RECORDER_MEDIA_FILE_H_

#include <cstdint>

#include "base/string_util.h"

namespace component {

class MediaFile {
 public:
  // Seek origins (the C library's SEEK_* numbers).
  static constexpr int kFromStart = 0;
  static constexpr int kFromCurrent = 1;
  static constexpr int kFromEnd = 2;

  MediaFile() = default;
  ~MediaFile() { close(); }
  MediaFile(const MediaFile&) = delete;
  MediaFile& operator=(const MediaFile&) = delete;

  // Creates (or truncates) `path` for writing. False, with errno-style
  // error() set, when the system refused.
  bool open(const base::string16& path);
  bool isOpen() const { return fd_ >= 0; }
  // Writes all `size` bytes or fails: the count written, or -1 (error()
  // says why; part of the bytes may be on disk).
  int write(const uint8_t* data, int size);
  // The new position, or -1.
  int64_t seek(int64_t offset, int whence);
  // The file's length, or -1.
  int64_t size();
  void close();
  // The system's error number of the last failed call (0: none).
  int error() const { return error_; }

 private:
  int fd_ = -1;
  int error_ = 0;
};

}  // namespace component

#endif  // COMPONENTS_RECORDER_MEDIA_FILE_H_
