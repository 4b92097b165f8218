// Linux: avahi's libdns_sd compatibility library through dlopen.
#include <dlfcn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <mutex>

#include "base/dns_sd.h"
#include "base/dns_sd_loader.h"
#include "base/logging.h"
#include "base/message_loop_internal.h"

namespace base {
namespace dnssd {
namespace {

constexpr char kLibraryName[] = "libdns_sd.so.1";

// A registration as avahi needs it: whether a success has been seen yet,
// and a conflict found at once.
struct Registration : RegistrationBase {
  bool succeeded = false;
  // A conflict avahi found at once, to be replied later (see below).
  int pendingFds[2] = {-1, -1};
  std::string name, type, domain;
  ~Registration() override {
    for (int fd : pendingFds)
      if (fd >= 0) ::close(fd);
  }
  void deliver(ServiceRef ref, uint32_t flags, int32_t error, const char* name, const char* type,
               const char* domain) override {
    // avahi answers a successful registration with flags 0; callers expect
    // the add flag on the first one.
    if (error == kErrNoError && !succeeded) {
      succeeded = true;
      flags |= kFlagsAdd;
    }
    RegistrationBase::deliver(ref, flags, error, name, type, domain);
  }
};

class AvahiLibrary : public LibraryLoader<Registration> {
 public:
  SocketHandle socketOf(ServiceRef ref) override {
    if (Registration* conflict = pendingConflict(ref)) return static_cast<SocketHandle>(conflict->pendingFds[0]);
    return LibraryLoader::socketOf(ref);
  }

  int32_t processResult(ServiceRef ref) override {
    if (Registration* conflict = pendingConflict(ref)) {
      char byte = 0;
      if (::read(conflict->pendingFds[0], &byte, 1) != 1) return kErrUnknown;
      conflict->reply(ref, 0, kErrNameConflict, conflict->name.c_str(), conflict->type.c_str(),
                      conflict->domain.c_str(), conflict->context);
      return kErrNoError;
    }
    const int32_t error = LibraryLoader::processResult(ref);
    // The library read from its socket itself; as Winsock would after that
    // read, the next read event may come. Not after a failure: a broken
    // socket would report itself for ever.
    if (error == kErrNoError) {
      const SocketHandle s = socketOf(ref);
      if (s != kInvalidSocket) internal::reenableSocketEvent(s, kFdRead);
    }
    return error;
  }

  void deallocate(ServiceRef ref) override {
    if (pendingConflict(ref)) registrations_.erase(ref);
    else LibraryLoader::deallocate(ref);
  }

 protected:
  bool open() override {
    if (handle_) return true;
    // The compatibility layer warns on standard error at every call otherwise.
    ::setenv("AVAHI_COMPAT_NOWARN", "1", 1);
    handle_ = ::dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
      const char* why = ::dlerror();
      LOG(INFO) << "Can't load " << kLibraryName << ": " << (why ? why : "unknown reason");
    }
    return handle_ != nullptr;
  }

  void close() override {
    if (handle_) ::dlclose(handle_);
    handle_ = nullptr;
  }

  void* symbol(const char* name) override { return handle_ ? ::dlsym(handle_, name) : nullptr; }

  // avahi refuses "" (kErrBadParam) where the documented library takes it
  // as "the computer's name"; null means the same to avahi.
  const char* nameForLibrary(const std::string& name) override { return name.empty() ? nullptr : name.c_str(); }

  // avahi refuses a name that is taken on this host at once, where the
  // documented library accepts the request and replies "name conflict".
  // That reply is made here: a socket with one byte waiting stands in for
  // the library's, and processResult() delivers the conflict.
  int32_t refused(int32_t error, std::unique_ptr<Registration> registration, const std::string& name,
                  const char* type, const char* domain, ServiceRef* ref) override {
    if (error != kErrNameConflict ||
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, registration->pendingFds) != 0 ||
        ::write(registration->pendingFds[1], "c", 1) != 1) {
      return error;
    }
    registration->name = name;
    registration->type = type ? type : "";
    registration->domain = domain ? domain : "";
    ServiceRef pending = reinterpret_cast<ServiceRef>(registration.get());
    registrations_[pending] = std::move(registration);
    *ref = pending;
    return kErrNoError;
  }

 private:
  Registration* pendingConflict(ServiceRef ref) {
    auto it = registrations_.find(ref);
    return it != registrations_.end() && it->second->pendingFds[0] >= 0 ? it->second.get() : nullptr;
  }

  void* handle_ = nullptr;
};

}  // namespace

LoadableLibrary* makeSystemLibrary() { return new AvahiLibrary(); }

}  // namespace dnssd
}  // namespace base
