#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "base/win_util.h"
#include "components/recorder/media_file.h"

namespace component {

bool MediaFile::open(const base::string16& path) {
  close();
  fd_ = ::_wopen(base::wstr(path), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
  error_ = fd_ < 0 ? errno : 0;
  return fd_ >= 0;
}

int MediaFile::write(const uint8_t* data, int size) {
  int done = 0;
  while (done < size) {
    const int n = ::_write(fd_, data + done, static_cast<unsigned>(size - done));
    if (n <= 0) {
      // A full disk: the bytes that fitted stay.
      error_ = n < 0 ? errno : ENOSPC;
      return -1;
    }
    done += n;
  }
  return done;
}

int64_t MediaFile::seek(int64_t offset, int whence) {
  const int64_t at = ::_lseeki64(fd_, offset, whence);
  if (at < 0) error_ = errno;
  return at;
}

int64_t MediaFile::size() {
  const int64_t n = ::_filelengthi64(fd_);
  if (n < 0) error_ = errno;
  return n;
}

void MediaFile::close() {
  if (fd_ >= 0) ::_close(fd_);
  fd_ = -1;
}

}  // namespace component
