#include "base/bonjour_service.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/file_util.h"
#include "base/logging.h"
#include "base/socket.h"
#include "base/test_util.h"

namespace {

// A DNS-SD library in memory: it records the registration and replies when
// its socket becomes readable, the way the real one does.
class FakeLibrary : public base::dnssd::Library {
 public:
  int32_t registerService(base::dnssd::ServiceRef* ref, const std::string& name, const char* type,
                          const char* domain, uint16_t portNetworkOrder, const std::string& txt,
                          base::dnssd::RegisterReply reply, void* context) override {
    ++registrations;
    this->name = name;
    this->type = type ? type : "<null>";
    this->domain = domain ? domain : "<null>";
    port = portNetworkOrder;
    this->reply = reply;
    this->context = context;
    if (registerError != 0) return registerError;
    *ref = madeRef;
    return 0;
  }
  base::SocketHandle socketOf(base::dnssd::ServiceRef) override { return socket; }
  int32_t processResult(base::dnssd::ServiceRef ref) override {
    ++processed;
    char byte = 0;
    if (base::socketRecv(socket, &byte, 1) != 1) return -65537;
    reply(ref, pendingFlags, pendingError, pendingName.c_str(), type.c_str(), "local.", context);
    return 0;
  }
  void deallocate(base::dnssd::ServiceRef ref) override { deallocated.push_back(ref); }

  base::dnssd::ServiceRef madeRef = reinterpret_cast<base::dnssd::ServiceRef>(0x1234);
  int32_t registerError = 0;
  base::SocketHandle socket = base::kInvalidSocket;
  int registrations = 0, processed = 0;
  std::string name, type, domain;
  uint16_t port = 0;
  base::dnssd::RegisterReply reply = nullptr;
  void* context = nullptr;
  std::vector<base::dnssd::ServiceRef> deallocated;
  uint32_t pendingFlags = 0;
  int32_t pendingError = 0;
  std::string pendingName;
};

class Recorder : public BonjourService::Delegate {
 public:
  std::vector<std::string> events;
  void onServicePublishing(BonjourService*) override { events.push_back("publishing"); }
  void onServicePublished(BonjourService*) override { events.push_back("published"); }
  void onServicePublishFailed(BonjourService*) override { events.push_back("failed"); }
};

class BonjourServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base::initializeSockets();
    ASSERT_TRUE(log_.active());
  }
  void TearDown() override {
    if (peer_ != base::kInvalidSocket) base::socketClose(peer_);
    if (library_.socket != base::kInvalidSocket) base::socketClose(library_.socket);
  }
  std::string log() { return log_.contents(); }
  // A connected pair on loopback: the library's reply socket and the end
  // through which the "daemon" makes it readable.
  void makeReplySocket() {
    int32_t error = 0;
    base::SocketHandle listener = base::socketListen(0, true, &error);
    ASSERT_NE(base::kInvalidSocket, listener);
    std::string address;
    uint16_t port = 0;
    base::socketLocalAddress(listener, &address, &port);
    peer_ = base::socketConnect("127.0.0.1", port, &error);
    ASSERT_NE(base::kInvalidSocket, peer_);
    for (int i = 0; i < 200 && library_.socket == base::kInvalidSocket; ++i) {
      loop_.runFor(5);
      library_.socket = base::socketAccept(listener);
    }
    base::socketClose(listener);
    ASSERT_NE(base::kInvalidSocket, library_.socket);
  }
  // The daemon answers with one reply; the service handles it on the loop.
  void reply(uint32_t flags, int32_t error, const std::string& name) {
    library_.pendingFlags = flags;
    library_.pendingError = error;
    library_.pendingName = name;
    const int before = library_.processed;
    ASSERT_EQ(1, base::socketSend(peer_, "x", 1));
    for (int i = 0; i < 400 && library_.processed == before; ++i) loop_.runFor(5);
    ASSERT_EQ(before + 1, library_.processed);
  }

  base::LogCapture log_{u"bonjour"};
  base::MessageLoop loop_;
  FakeLibrary library_;
  Recorder recorder_;
  base::SocketHandle peer_ = base::kInvalidSocket;
};

TEST_F(BonjourServiceTest, RegistersAndFollowsTheDaemonsReplies) {
  makeReplySocket();
  BonjourService service(u"local", u"_lumora_webcam._tcp", u"", 0x1F90, &library_);
  service.setDelegate(&recorder_);
  service.publish();
  // An empty name goes as an empty string; the port in network order.
  EXPECT_EQ("", library_.name);
  EXPECT_EQ("_lumora_webcam._tcp", library_.type);
  EXPECT_EQ("local", library_.domain);
  EXPECT_EQ(0x901F, library_.port);
  EXPECT_EQ(library_.context, &service);
  EXPECT_EQ(std::vector<std::string>{"publishing"}, recorder_.events);
  EXPECT_TRUE(service.registered());
  EXPECT_EQ(u"", service.name());

  reply(base::dnssd::kFlagsAdd, 0, "Studio PC");
  EXPECT_EQ((std::vector<std::string>{"publishing", "published"}), recorder_.events);
  EXPECT_EQ(u"Studio PC", service.name());

  // A success without the add flag is a withdrawal: logged, nothing else.
  reply(0, 0, "Studio PC");
  EXPECT_EQ(2u, recorder_.events.size());

  reply(0, base::dnssd::kErrNameConflict, "Studio PC");
  reply(0, -65563, "");
  EXPECT_EQ((std::vector<std::string>{"publishing", "published", "failed", "failed"}), recorder_.events);

  service.stop();
  EXPECT_FALSE(service.registered());
  EXPECT_EQ(std::vector<base::dnssd::ServiceRef>{library_.madeRef}, library_.deallocated);
  // Nothing is watched any more.
  const int before = library_.processed;
  ASSERT_EQ(1, base::socketSend(peer_, "x", 1));
  loop_.runFor(50);
  EXPECT_EQ(before, library_.processed);

  const std::string text = log();
  EXPECT_NE(std::string::npos, text.find("Registering Service ._lumora_webcam._tcp.local:8080")) << text;
  EXPECT_NE(std::string::npos, text.find("Name now registered and active 'Studio PC'"));
  EXPECT_NE(std::string::npos, text.find("Name registration removed"));
  EXPECT_NE(std::string::npos, text.find("Name already in use"));
  EXPECT_NE(std::string::npos, text.find("Register failed with code -65563"));
}

TEST_F(BonjourServiceTest, AMissingLibraryIsAFailureAndNothingMore) {
  library_.registerError = base::dnssd::kErrUnknown;
  BonjourService service(u"", u"_lumora_webcam._tcp", u"Desk", 4000, &library_);
  service.setDelegate(&recorder_);
  service.publish();
  EXPECT_EQ("<null>", library_.domain);  // an empty domain is passed as null
  EXPECT_EQ("Desk", library_.name);
  EXPECT_EQ(std::vector<std::string>{"failed"}, recorder_.events);
  EXPECT_FALSE(service.registered());
  EXPECT_NE(std::string::npos, log().find("DNSServiceRegister() failed with code -65537"));

  // The system's library before it is loaded behaves the same way.
  base::dnssd::ServiceRef ref = nullptr;
  base::dnssd::Library* system = base::dnssd::systemLibrary();
  EXPECT_EQ(base::dnssd::kErrUnknown, system->processResult(ref));
  EXPECT_EQ(base::kInvalidSocket, system->socketOf(ref));
  system->deallocate(ref);
}

TEST_F(BonjourServiceTest, UnwatchableRepliesGiveTheRegistrationUp) {
  // No socket to watch: the registration could never be confirmed.
  BonjourService service(u"local", u"_lumora_webcam._tcp", u"", 4000, &library_);
  service.setDelegate(&recorder_);
  service.publish();
  EXPECT_EQ(std::vector<std::string>{"failed"}, recorder_.events);
  EXPECT_FALSE(service.registered());
  EXPECT_EQ(std::vector<base::dnssd::ServiceRef>{library_.madeRef}, library_.deallocated);
  EXPECT_NE(std::string::npos, log().find("WSAAsyncSelect failed."));
}

TEST_F(BonjourServiceTest, AResolvingObjectDoesNotPublish) {
  BonjourService service(u"local", u"_lumora_webcam._tcp", u"", BonjourService::kResolvingPort, &library_);
  service.setDelegate(&recorder_);
  service.publish();
  EXPECT_EQ(0, library_.registrations);
  EXPECT_TRUE(recorder_.events.empty());
  EXPECT_NE(std::string::npos, log().find("Attempt publish service created with constructor for resolving"));
}

TEST_F(BonjourServiceTest, AReplyWithoutContextIsRecordedAndIgnored) {
  BonjourService::onRegisterReply(nullptr, base::dnssd::kFlagsAdd, 0, "x", "t", "d", nullptr);
  EXPECT_NE(std::string::npos, log().find("Check failed: pNetService. Empty context! It must be a pointer to this"));
}

TEST_F(BonjourServiceTest, DestroyingWithdrawsTheRegistration) {
  makeReplySocket();
  {
    BonjourService service(u"local", u"_lumora_webcam._tcp", u"", 4000, &library_);
    service.publish();
    ASSERT_TRUE(service.registered());
  }
  EXPECT_EQ(std::vector<base::dnssd::ServiceRef>{library_.madeRef}, library_.deallocated);
}

}  // namespace
