#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/file_util.h"
#include "components/recorder/media_file.h"

namespace component {

bool MediaFile::open(const base::string16& path) {
  close();
  fd_ = ::open(base::nativePath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  error_ = fd_ < 0 ? errno : 0;
  return fd_ >= 0;
}

int MediaFile::write(const uint8_t* data, int size) {
  int done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd_, data + done, static_cast<size_t>(size - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A full disk or a file-size limit: the bytes that fitted stay.
      error_ = n < 0 ? errno : ENOSPC;
      return -1;
    }
    done += static_cast<int>(n);
  }
  return done;
}

int64_t MediaFile::seek(int64_t offset, int whence) {
  const off_t at = ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (at < 0) error_ = errno;
  return at;
}

int64_t MediaFile::size() {
  struct stat st;
  if (::fstat(fd_, &st) != 0) {
    error_ = errno;
    return -1;
  }
  return st.st_size;
}

void MediaFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace component
