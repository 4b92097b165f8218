// The DNS-SD client library, loaded at run time by file name: "dnssd.dll" on
// Windows, avahi's compatibility library "libdns_sd.so.1" on Linux. Only the
// four calls the publisher needs are bound, each looked up on its first use;
// when the library or a call is missing, registering and processing answer
// kErrUnknown, the socket is kInvalidSocket and deallocating does nothing.
//
// The Linux side hides two ways in which avahi differs from the documented
// behaviour: its first successful registration reply comes without the add
// flag (it is presented with the flag here), and it refuses an empty
// instance name (the name is passed as null instead, which means the same:
// the service picks the computer's name). It also refuses a name already
// registered on this host at once; that is presented as the documented
// library does it, as an accepted request whose reply is the conflict.
//
// Thread: the thread that registers; replies are delivered from inside
// processResult() on that thread.
#ifndef BASE_DNS_SD_H_
#define BASE_DNS_SD_H_

#include <cstdint>
#include <string>

#include "base/message_loop.h"

namespace base {
namespace dnssd {

// An opaque service reference of the library; null when not registered.
using ServiceRef = struct OpaqueServiceRef*;

constexpr uint32_t kFlagsAdd = 0x2;
constexpr int32_t kErrNoError = 0;
constexpr int32_t kErrUnknown = -65537;
constexpr int32_t kErrBadParam = -65540;
constexpr int32_t kErrNameConflict = -65548;

// The registration reply: `name`, `type` and `domain` are UTF-8 and valid
// for the call only.
using RegisterReply = void (*)(ServiceRef ref, uint32_t flags, int32_t error, const char* name,
                               const char* type, const char* domain, void* context);

class Library {
 public:
  virtual ~Library() = default;
  // DNSServiceRegister with no flags, on every interface, for this host.
  // `name` empty lets the service choose; `domain` null for the default;
  // `portNetworkOrder` as on the wire.
  virtual int32_t registerService(ServiceRef* ref, const std::string& name, const char* type,
                                  const char* domain, uint16_t portNetworkOrder,
                                  const std::string& txt, RegisterReply reply, void* context) = 0;
  // The socket on which the replies arrive.
  virtual SocketHandle socketOf(ServiceRef ref) = 0;
  // Reads the waiting replies and calls the reply function for each.
  virtual int32_t processResult(ServiceRef ref) = 0;
  virtual void deallocate(ServiceRef ref) = 0;
};

// The system's library. Before loadSystemLibrary() (and when loading
// failed) it behaves as a missing library.
Library* systemLibrary();
// At program start and exit. Loading logs when the library is missing.
bool loadSystemLibrary();
void unloadSystemLibrary();

}  // namespace dnssd
}  // namespace base

#endif  // BASE_DNS_SD_H_
