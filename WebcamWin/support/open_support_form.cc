#include "WebcamWin/support/jobs.h"
#include "WebcamWin/support/support_platform.h"
#include "base/logging.h"

namespace support {

COpenSupportForm::COpenSupportForm(CParamStore* store, Opener opener)
    : store_(store), opener_(opener ? std::move(opener) : Opener(&openWithShell)) {}

string16 COpenSupportForm::address() const {
  SupportFormFacts facts;
  facts.supportForm = store_->get(kKeySupportForm);
  facts.userFile = store_->get(kKeyShippedLog);
  facts.device = store_->get(kKeyDeviceModel);
  facts.deviceOs = store_->get(kKeyDeviceSoftware);
  facts.version = store_->get(kKeyVersion);
  facts.windows = operatingSystemDescription();
  return buildSupportFormAddress(facts);
}

HResult COpenSupportForm::execute(const StopEvent&) {
  LOG(INFO) << "COpenSupportForm::Execute ****** Begin ******";
  const string16 url = address();
  LOG(INFO) << "COpenSupportForm::Execute url = " << url;
  // Without the form's own address the parameters alone are no address.
  if (store_->get(kKeySupportForm).empty())
    LOG(WARNING) << "COpenSupportForm::Execute no '" << kKeySupportForm << "'; nothing to open";
  else if (!url.empty())
    opener_(url);
  LOG(INFO) << "COpenSupportForm::Execute ****** Finish ******";
  return kSOk;
}

}  // namespace support
