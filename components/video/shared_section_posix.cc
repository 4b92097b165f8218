// POSIX shared memory: shm_open + ftruncate + mmap.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/logging.h"
#include "components/video/shared_section.h"

namespace component {

struct SharedSection::Handle {
  int fd = -1;
};

SharedSection::SharedSection(const std::string& name, size_t sectionBytes, size_t viewBytes, bool readOnly)
    : handle_(std::make_unique<Handle>()), readOnly_(readOnly) {
  const std::string path = "/" + name;
  // Both sides create it when missing, as either may come first.
  int fd = shm_open(path.c_str(), O_RDWR | O_CREAT, 0600);
  if (fd < 0 && readOnly) fd = shm_open(path.c_str(), O_RDONLY, 0);
  if (fd < 0) {
    LOG(ERROR) << "Cannot open shared memory " << path << ": " << std::strerror(errno);
    return;
  }
  struct stat info;
  // /dev/shm is shared by every user: a section someone else made under our
  // name could be read or written by them, so it is never used.
  if (fstat(fd, &info) != 0 || info.st_uid != geteuid()) {
    LOG(ERROR) << "Shared memory " << path << " belongs to another user; not used";
    close(fd);
    return;
  }
  handle_->fd = fd;
  // A section left smaller than ours (made by something else) is grown, so
  // the view never reaches past its end.
  if (fstat(fd, &info) == 0 && static_cast<size_t>(info.st_size) < sectionBytes) {
    if (ftruncate(fd, static_cast<off_t>(sectionBytes)) != 0) {
      LOG(ERROR) << "Cannot size shared memory " << path << ": " << std::strerror(errno);
      return;
    }
  }
  void* view = mmap(nullptr, viewBytes, readOnly ? PROT_READ : PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) {
    LOG(ERROR) << "Cannot map shared memory " << path << ": " << std::strerror(errno);
    return;
  }
  view_ = static_cast<uint8_t*>(view);
  viewBytes_ = viewBytes;
}

SharedSection::~SharedSection() {
  if (view_) munmap(view_, viewBytes_);
  if (handle_->fd >= 0) close(handle_->fd);
}

void SharedSection::unlink(const std::string& name) { shm_unlink(("/" + name).c_str()); }

}  // namespace component
