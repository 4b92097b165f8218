#include "tools/loadgen/loadgen.h"

#include <algorithm>

#include "base/logging.h"
#include "transport/handshake.h"
#include "transport/message_frame.h"

namespace loadgen {
namespace {

constexpr uint32_t kMsgCleanup = base::kMsgUser;
constexpr uintptr_t kGarbageTimerId = 1;
constexpr uintptr_t kSlowTimerId = 2;

}  // namespace

bool isLoopbackHost(const std::string& host) {
  return host == "localhost" || host.rfind("127.", 0) == 0;
}

LoadGenerator::LoadGenerator()
    : window_(std::make_unique<base::MessageWindow>(kWindowClass, static_cast<base::MessageWindow::Handler*>(this))) {}

LoadGenerator::~LoadGenerator() {
  stop();
  window_.reset();
}

bool LoadGenerator::start(const LoadPlan& plan) {
  if (!isLoopbackHost(plan.host) || plan.port == 0) {
    LOG(ERROR) << "Load is only generated against a port on this machine (127.x.x.x)";
    return false;
  }
  plan_ = plan;
  std::vector<uint8_t> payload;
  transport::buildClientHandshake(12000, {2, 0, 0, 0}, 0, nullptr, &payload);
  slowBytes_.clear();
  transport::appendFrame(transport::kMessageHandshake, 0, payload.data(), payload.size(), &slowBytes_);

  for (int i = 0; i < plan.idle; ++i) open(Kind::kIdle);
  for (int i = 0; i < plan.garbage; ++i) open(Kind::kGarbage);
  for (int i = 0; i < plan.slow; ++i) open(Kind::kSlow);
  for (int i = 0; i < plan.silentAfterHandshake; ++i) open(Kind::kSilent);
  if (plan.garbage > 0) window_->setTimer(kGarbageTimerId, plan.garbageTickMs);
  if (plan.slow > 0) window_->setTimer(kSlowTimerId, plan.slowIntervalMs);
  startCycles();
  return true;
}

void LoadGenerator::startCycles() {
  int inFlight = 0;
  for (const Conn& c : conns_)
    if (c.kind == Kind::kCycle && !c.done) ++inFlight;
  while (inFlight < plan_.parallel && cyclesStarted_ < plan_.cycles) {
    ++cyclesStarted_;
    ++inFlight;
    open(Kind::kCycle);
  }
}

void LoadGenerator::open(Kind kind) {
  Conn conn;
  conn.kind = kind;
  conn.phone = std::make_unique<phonesim::PhoneConnection>();
  conn.phone->addObserver(this);
  phonesim::PhoneConnection* phone = conn.phone.get();
  conns_.push_back(std::move(conn));
  std::string error;
  if (!phone->connect(plan_.host, plan_.port, 5000, &error)) {
    LOG(WARNING) << "Connect failed: " << error;
    ++stats_.connectFailures;
    if (kind == Kind::kCycle) ++cycleFailures_;
    retire(phone);
  }
}

LoadGenerator::Conn* LoadGenerator::find(phonesim::PhoneConnection* phone) {
  for (Conn& c : conns_)
    if (c.phone.get() == phone) return &c;
  return nullptr;
}

void LoadGenerator::retire(phonesim::PhoneConnection* phone) {
  Conn* conn = find(phone);
  if (!conn) return;
  conn->done = true;
  conn->phone->removeObserver(this);
  retired_.push_back(std::move(conn->phone));
  if (!cleanupPosted_) cleanupPosted_ = window_->post(kMsgCleanup);
}

size_t LoadGenerator::openHeld() const {
  size_t n = 0;
  for (const Conn& c : conns_)
    if (c.kind != Kind::kCycle && !c.done) ++n;
  return n;
}

void LoadGenerator::stop() {
  window_->killTimer(kGarbageTimerId);
  window_->killTimer(kSlowTimerId);
  cyclesStarted_ = plan_.cycles;
  for (Conn& c : conns_) {
    if (c.done) continue;
    c.done = true;
    c.phone->removeObserver(this);
    c.phone->abort();
  }
  conns_.clear();
  retired_.clear();
}

void LoadGenerator::onPhoneConnected(phonesim::PhoneConnection* phone) {
  Conn* conn = find(phone);
  if (!conn) return;
  conn->connected = true;
  ++stats_.connected;
  if (conn->kind == Kind::kCycle || conn->kind == Kind::kSilent) {
    phonesim::PhoneIdentity identity;
    identity.deviceModel = "loadgen";
    phone->sendHandshake(identity);
  }
}

void LoadGenerator::onServerHandshake(phonesim::PhoneConnection* phone, const transport::ServerHandshake&,
                                      uint32_t) {
  Conn* conn = find(phone);
  if (!conn) return;
  ++stats_.handshakesAnswered;
  if (conn->kind == Kind::kCycle) phone->disconnect();
}

void LoadGenerator::onFarewell(phonesim::PhoneConnection*, uint32_t reason, uint32_t) {
  if (reason < 3) ++stats_.farewells[reason];
}

void LoadGenerator::onPhoneDisconnected(phonesim::PhoneConnection* phone, const transport::Error*) {
  Conn* conn = find(phone);
  if (!conn || conn->done) return;
  const bool cycle = conn->kind == Kind::kCycle;
  if (!conn->connected) {
    ++stats_.connectFailures;
    if (cycle) ++cycleFailures_;
  } else if (cycle) {
    if (phone->serverHandshake()) ++stats_.cyclesDone;
    else ++cycleFailures_;
  } else {
    ++stats_.closedByServer;
  }
  retire(phone);
  if (cycle) startCycles();
}

void LoadGenerator::onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t) {
  if (msg == kMsgCleanup) {
    cleanupPosted_ = false;
    retired_.clear();
    conns_.erase(std::remove_if(conns_.begin(), conns_.end(), [](const Conn& c) { return !c.phone; }),
                 conns_.end());
    return;
  }
  if (msg != base::kMsgTimer) return;
  for (size_t i = 0; i < conns_.size(); ++i) {
    Conn& c = conns_[i];
    if (c.done || !c.phone || !c.phone->isConnected()) continue;
    if (wparam == kGarbageTimerId && c.kind == Kind::kGarbage) {
      std::vector<uint8_t> junk(plan_.garbageBytesPerTick);
      // Mostly bytes that look like the start of a frame, so the server's
      // scanner keeps starting candidates.
      for (auto& b : junk) b = static_cast<uint8_t>(random_() % 4 == 0 ? random_() : random_() % 2);
      stats_.garbageBytesSent += junk.size();
      c.phone->sendRaw(std::move(junk));
    } else if (wparam == kSlowTimerId && c.kind == Kind::kSlow) {
      c.phone->sendRaw({slowBytes_[c.slowSent % slowBytes_.size()]});
      ++c.slowSent;
    }
  }
}

}  // namespace loadgen
