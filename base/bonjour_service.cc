#include "base/bonjour_service.h"

#include "base/logging.h"
#include "base/socket.h"
#include "base/sys_info.h"

BonjourService::BonjourService(const base::string16& domain, const base::string16& type,
                               const base::string16& name, uint16_t port,
                               base::dnssd::Library* library)
    : library_(library), domain_(domain), type_(type), name_(name), port_(port) {}

BonjourService::~BonjourService() { stop(); }

void BonjourService::publish() {
  if (ref_) stop();
  if (!window_) {
    window_ = std::make_unique<base::MessageWindow>(
        kWindowClass, static_cast<base::MessageWindow::Handler*>(this));
  }
  if (port_ == kResolvingPort) {
    LOG(ERROR) << "Attempt publish service created with constructor for resolving";
    return;
  }
  LOG(INFO) << "Registering Service " << name_ << "." << type_ << "." << domain_ << ":" << port_;
  const std::string domain = base::wideToUtf8(domain_);
  const std::string type = base::wideToUtf8(type_);
  base::dnssd::ServiceRef ref = nullptr;
  const uint16_t portNetworkOrder = static_cast<uint16_t>((port_ >> 8) | (port_ << 8));
  const int32_t error = library_->registerService(
      &ref, base::wideToUtf8(name_), type.c_str(), domain.empty() ? nullptr : domain.c_str(),
      portNetworkOrder, txt_, &BonjourService::onRegisterReply, this);
  if (error != base::dnssd::kErrNoError || !ref) {
    LOG(INFO) << "DNSServiceRegister() failed with code " << error;
    if (ref) library_->deallocate(ref);
    publishFailed();
    return;
  }
  ref_ = ref;
  socket_ = library_->socketOf(ref_);
  if (socket_ == base::kInvalidSocket || !window_->valid() ||
      !window_->selectSocket(socket_, kMsgReplies, base::kFdRead | base::kFdClose)) {
    LOG(INFO) << "WSAAsyncSelect failed.\n" << base::systemErrorText(base::lastSocketError());
    // Unwatched, the registration would never be confirmed or withdrawn by
    // the library's replies: give it up and say so.
    stop();
    publishFailed();
    return;
  }
  if (delegate_) delegate_->onServicePublishing(this);
}

void BonjourService::stop() {
  if (window_ && socket_ != base::kInvalidSocket) window_->selectSocket(socket_, kMsgReplies, 0);
  socket_ = base::kInvalidSocket;
  if (ref_) library_->deallocate(ref_);
  ref_ = nullptr;
}

void BonjourService::onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  if (msg != kMsgReplies || !ref_) return;
  const int32_t error = library_->processResult(ref_);
  if (error != base::dnssd::kErrNoError) {
    LOG(INFO) << "DNSServiceProcessResult() failed with code " << error;
  }
}

void BonjourService::onRegisterReply(base::dnssd::ServiceRef, uint32_t flags, int32_t error,
                                     const char* name, const char*, const char*, void* context) {
  auto* service = static_cast<BonjourService*>(context);
  if (!service) {
    LOG(FATAL) << "Check failed: pNetService. Empty context! It must be a pointer to this";
    return;
  }
  service->handleReply(flags, error, name);
}

void BonjourService::handleReply(uint32_t flags, int32_t error, const char* name) {
  if (error == base::dnssd::kErrNoError) {
    if (flags & base::dnssd::kFlagsAdd) {
      const std::string registered = name ? name : "";
      LOG(INFO) << "Name now registered and active '" << registered << "'";
      name_ = base::utf8ToWide(registered);
      if (delegate_) delegate_->onServicePublished(this);
    } else {
      LOG(INFO) << "Name registration removed";
    }
  } else if (error == base::dnssd::kErrNameConflict) {
    LOG(INFO) << "Name already in use";
    publishFailed();
  } else {
    LOG(INFO) << "Register failed with code " << error;
    publishFailed();
  }
}

void BonjourService::publishFailed() {
  if (delegate_) delegate_->onServicePublishFailed(this);
}
