// The five jobs of a support report, in the order they run:
//   CReadPipe         reads the main program's request from standard input
//   CCompressLog      packs "Log" into a gzip file ("CompressedLog")
//   CCheckInternet    checks that the product web site can be reached
//   CSendLog          uploads the packed log ("ShippedLog" = the answer)
//   COpenSupportForm  opens the support form with the facts in its address
// Each reads and writes the parameter store given at construction.
#ifndef WEBCAMWIN_SUPPORT_JOBS_H_
#define WEBCAMWIN_SUPPORT_JOBS_H_

#include <atomic>
#include <cstdint>
#include <functional>

#include "WebcamWin/support/job.h"
#include "WebcamWin/support/param_store.h"
#include "WebcamWin/support/support_site.h"

namespace support {

class CReadPipe : public CJob {
 public:
  // A request longer than this is read to its end but the rest is dropped
  // (the main program sends well under 4 KiB).
  static constexpr size_t kMaxRequestBytes = 1024 * 1024;
  static constexpr size_t kReadChunkBytes = 511;

  explicit CReadPipe(CParamStore* store) : store_(store) {}
  ~CReadPipe() override { stopWorker(); }

  const char* name() const override { return "CReadPipe"; }

  string16 title() const override { return u"Getting information from application..."; }
  string16 statusText() const override { return u"Please wait a moment..."; }
  HResult execute(const StopEvent& stop) override;

 private:
  CParamStore* store_;
};

class CCompressLog : public CJob {
 public:
  static constexpr size_t kBlockBytes = 4096;

  explicit CCompressLog(CParamStore* store) : store_(store) {}
  ~CCompressLog() override { stopWorker(); }

  const char* name() const override { return "CCompressLog"; }

  string16 title() const override { return u"Compressing log file..."; }
  bool hasProgress() const override { return true; }
  int progress() const override;
  string16 statusText() const override {
    return formatPercent("Compressing... %d%% completed.", progress());
  }
  HResult execute(const StopEvent& stop) override;

 private:
  CParamStore* store_;
  std::atomic<int64_t> bytesRead_{0};
  std::atomic<int64_t> total_{0};
};

class CCheckInternet : public CJob {
 public:
  explicit CCheckInternet(const SupportSite& site) : address_(site.webSiteAddress) {}
  ~CCheckInternet() override { stopWorker(); }

  const char* name() const override { return "CCheckInternet"; }

  string16 title() const override { return u"Checking internet connection..."; }
  string16 statusText() const override { return u"Wait a moment please..."; }
  HResult execute(const StopEvent& stop) override;

 private:
  const string16 address_;
};

class CSendLog : public CJob {
 public:
  static constexpr uint32_t kPollMs = 100;

  CSendLog(CParamStore* store, const SupportSite& site)
      : store_(store), address_(site.uploadAddress) {}
  ~CSendLog() override { stopWorker(); }

  const char* name() const override { return "CSendLog"; }

  string16 title() const override { return u"Uploading compressed file..."; }
  bool hasProgress() const override { return true; }
  int progress() const override;
  string16 statusText() const override {
    return formatPercent("Uploading... %d%% completed.", progress());
  }
  HResult execute(const StopEvent& stop) override;

 private:
  CParamStore* store_;
  const string16 address_;
  std::atomic<uint64_t> sent_{0};
  std::atomic<uint64_t> total_{0};
};

class COpenSupportForm : public CJob {
 public:
  // Opens the address; the shell's "open" unless replaced (tests).
  using Opener = std::function<void(const string16& address)>;

  explicit COpenSupportForm(CParamStore* store, Opener opener = Opener());
  ~COpenSupportForm() override { stopWorker(); }

  const char* name() const override { return "COpenSupportForm"; }

  string16 title() const override { return u"Opening support form..."; }
  string16 statusText() const override { return u"Please, wait a moment..."; }
  HResult execute(const StopEvent& stop) override;

  // The address built from the store (without opening it).
  string16 address() const;

 private:
  CParamStore* store_;
  Opener opener_;
};

}  // namespace support

#endif  // WEBCAMWIN_SUPPORT_JOBS_H_
