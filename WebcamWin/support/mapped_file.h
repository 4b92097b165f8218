// A whole file mapped into memory: the packed log is sent straight from the
// mapping, chunk by chunk, without copying it into a buffer first.
// Windows: CreateFileW + CreateFileMappingW + MapViewOfFile; Linux: mmap.
#ifndef WEBCAMWIN_SUPPORT_MAPPED_FILE_H_
#define WEBCAMWIN_SUPPORT_MAPPED_FILE_H_

#include <cstddef>
#include <cstdint>

#include "base/string_util.h"

namespace support {

class CMappedFile {
 public:
  enum Access { kRead = 1, kWrite = 2, kReadWrite = 3 };

  CMappedFile() = default;
  ~CMappedFile();
  CMappedFile(const CMappedFile&) = delete;
  CMappedFile& operator=(const CMappedFile&) = delete;

  // Opens the file (shared for reading, random access) and maps it whole;
  // read-only when `access` is kRead. An empty file can't be mapped.
  bool open(const base::string16& path, Access access);
  void close();

  const uint8_t* data() const { return data_; }
  uint8_t* mutableData() { return writable_ ? data_ : nullptr; }
  size_t size() const { return size_; }
  bool valid() const { return data_ != nullptr; }

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  bool writable_ = false;
  intptr_t file_ = -1;
  intptr_t mapping_ = 0;
};

}  // namespace support

#endif  // WEBCAMWIN_SUPPORT_MAPPED_FILE_H_
