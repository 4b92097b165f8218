// The kernel side of V4l2Device.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "base/file_util.h"
#include "components/video/linux_camera/v4l2_output.h"

namespace component {
namespace {

class KernelV4l2Device : public V4l2Device {
 public:
  ~KernelV4l2Device() override { close(); }
  std::vector<std::string> candidates() override {
    std::vector<std::string> paths;
    for (const base::string16& name : base::listDirectory(u"/dev")) {
      const std::string entry = base::wideToUtf8(name);
      if (entry.compare(0, 5, "video") == 0) paths.push_back("/dev/" + entry);
    }
    return paths;
  }
  bool open(const std::string& path) override {
    close();
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    return fd_ >= 0;
  }
  int ioctl(unsigned long request, void* argument) override {
    if (fd_ < 0) return EBADF;
    int rc;
    do rc = ::ioctl(fd_, request, argument);
    while (rc < 0 && errno == EINTR);
    return rc < 0 ? errno : 0;
  }
  ssize_t write(const void* data, size_t bytes) override { return fd_ < 0 ? -1 : ::write(fd_, data, bytes); }
  void close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

}  // namespace

std::unique_ptr<V4l2Device> V4l2Device::makeReal() { return std::make_unique<KernelV4l2Device>(); }

}  // namespace component
