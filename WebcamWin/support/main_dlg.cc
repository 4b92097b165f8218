#include "WebcamWin/support/main_dlg.h"

#include <chrono>
#include <thread>

#include "WebcamWin/support/jobs.h"
#include "base/file_util.h"
#include "base/logging.h"

namespace support {

CMainDlg::Jobs CMainDlg::makeStandardJobs(CParamStore* store, const SupportSite& site) {
  Jobs jobs;
  jobs.push_back(std::make_unique<CReadPipe>(store));
  jobs.push_back(std::make_unique<CCompressLog>(store));
  jobs.push_back(std::make_unique<CCheckInternet>(site));
  jobs.push_back(std::make_unique<CSendLog>(store, site));
  jobs.push_back(std::make_unique<COpenSupportForm>(store));
  return jobs;
}

CMainDlg::CMainDlg(CMainDlgHost* host, Jobs jobs) : host_(host), jobs_(std::move(jobs)) {
  CHECK(jobs_.size() == kJobCount);
  for (auto& job : jobs_) job->setCallback(this);
}

CMainDlg::~CMainDlg() {
  // Every worker is stopped before the jobs (and this callback) go away.
  for (auto& job : jobs_) job->stop();
}

void CMainDlg::initDialog() {
  host_->setTitle(kDialogTitle);
  showPage(PageId::kPreparing);
  startJob(jobs_[kReadPipe].get());
}

void CMainDlg::jobDone() { host_->postMessage(kMsgJobDone, 0, kJobReportTag); }

void CMainDlg::jobFailed(HResult hr) {
  host_->postMessage(kMsgJobFailed, static_cast<uint32_t>(hr), kJobReportTag);
}

bool CMainDlg::handleMessage(uint32_t msg, uintptr_t wparam, intptr_t) {
  if (closed_) return false;
  switch (msg) {
    case kMsgJobDone:
      onJobDone();
      return true;
    case kMsgJobFailed:
      onJobFailed(static_cast<HResult>(static_cast<uint32_t>(wparam)));
      return true;
    case kMsgSkipToForm:
      startJob(jobs_[kOpenSupportForm].get());
      return true;
    case kMsgRetryCheck:
      showPage(PageId::kPreparing);
      startJob(jobs_[kCheckInternet].get());
      return true;
    case kMsgCommand:
      if ((wparam & 0xFFFF) == kIdOk) {
        close();
        return true;
      }
      if ((wparam & 0xFFFF) == kIdCancel) {
        startJob(jobs_[kOpenSupportForm].get());
        return true;
      }
      return false;
  }
  return false;
}

void CMainDlg::onJobDone() {
  // Judged by the job that is current now, which may not be the reporter.
  if (current_ == jobs_[kReadPipe].get()) startJob(jobs_[kCompressLog].get());
  else if (current_ == jobs_[kCompressLog].get()) startJob(jobs_[kCheckInternet].get());
  else if (current_ == jobs_[kCheckInternet].get()) startJob(jobs_[kSendLog].get());
  else if (current_ == jobs_[kSendLog].get()) startJob(jobs_[kOpenSupportForm].get());
  else close();
}

void CMainDlg::onJobFailed(HResult hr) {
  LOGF(INFO, "CMainDlg job %s failed with %#x", current_ ? current_->name() : "?",
       static_cast<unsigned>(hr));
  if (current_ == jobs_[kCheckInternet].get() && hr != kEAbort) {
    host_->page(PageId::kError)->setMessage(kCheckInternetMessage);
    showPage(PageId::kError);
    if (!host_->interactive() && testControl_.empty()) {
      // Nobody can press Retry: go on as Escape would.
      LOG(WARNING) << "No one to answer the error page; going on to the support form";
      host_->postMessage(kMsgCommand, kIdCancel, 0);
    }
    return;
  }
  if (current_ == jobs_[kOpenSupportForm].get()) close();
  else startJob(jobs_[kOpenSupportForm].get());
}

void CMainDlg::startJob(CJob* job) {
  if (job == current_) {
    job->stop();
    job->prepare();
  } else {
    job->prepare();
    if (current_) current_->stop();
    current_ = job;
    showPage(currentPageId_);
  }
  recordEvent(std::string("job ") + job->name());
  if (!job->start()) {
    // Without a worker no report would ever come.
    LOG(ERROR) << "Can't start " << job->name();
    host_->postMessage(kMsgJobFailed, static_cast<uint32_t>(kEFail), kJobReportTag);
  }
}

void CMainDlg::showPage(PageId id) {
  IPage* page = host_->page(id);
  if (currentPage_ && page == currentPage_) {
    page->setJob(current_);
    page->show();
    return;
  }
  page->create();
  page->setJob(current_);
  host_->placePage(page, currentPage_);
  currentPage_ = page;
  currentPageId_ = id;
  page->show();
  recordEvent(id == PageId::kError ? "page error" : "page preparing");
}

void CMainDlg::close() {
  if (closed_) return;
  closed_ = true;
  recordEvent("closed");
  host_->close(kExitCodeClosed);
}

void CMainDlg::setTestControl(const string16& folder) { testControl_ = folder; }

void CMainDlg::recordEvent(const std::string& line) {
  if (testControl_.empty()) return;
  const string16 path = base::joinPath(testControl_, u"events.txt");
  // The test may be reading the file just then (Windows refuses to replace
  // an open file): try again a little later.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string events;
    base::readFile(path, &events);
    if (base::writeFileAtomic(path, events + line + "\n")) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  LOG(ERROR) << "Can't record the test event " << line;
}

void CMainDlg::pollTestControl() {
  if (testControl_.empty() || closed_) return;
  const string16 path = base::joinPath(testControl_, u"command.txt");
  std::string command;
  if (!base::readFile(path, &command)) return;
  base::deleteFile(path);
  while (!command.empty() && (command.back() == '\n' || command.back() == '\r')) command.pop_back();
  LOG(INFO) << "Test command: " << command;
  if (command == "retry") handleMessage(kMsgRetryCheck, 0, 0);
  else if (command == "abort") handleMessage(kMsgSkipToForm, 0, 0);
  else if (command == "cancel") handleMessage(kMsgCommand, kIdCancel, 0);
  else if (command == "ok") handleMessage(kMsgCommand, kIdOk, 0);
  else LOG(WARNING) << "Unknown test command '" << command << "' ignored";
}

}  // namespace support
