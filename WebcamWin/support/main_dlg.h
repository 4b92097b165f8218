// The support tool's dialog logic: which job runs, which page shows, and
// what follows a job's report. It is the same on both builds; the window
// system around it (a Win32 dialog, or a console on Linux) is a
// CMainDlgHost that delivers posted messages on the dialog's thread and
// shows the pages.
#ifndef WEBCAMWIN_SUPPORT_MAIN_DLG_H_
#define WEBCAMWIN_SUPPORT_MAIN_DLG_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "WebcamWin/support/job.h"
#include "WebcamWin/support/param_store.h"
#include "WebcamWin/support/support_site.h"

namespace support {

// Messages of the main dialog (Windows message numbers).
constexpr uint32_t kMsgJobDone = 0x0401;      // WM_USER + 1
constexpr uint32_t kMsgJobFailed = 0x0402;    // WM_USER + 2, wparam = HResult
// lparam of the two reports: a dialog's own DM_SETDEFID (also WM_USER + 1)
// must not pass for a report.
constexpr intptr_t kJobReportTag = 0x4A42;
constexpr uint32_t kMsgSkipToForm = 0x1400;   // Abort answered with Yes
constexpr uint32_t kMsgRetryCheck = 0x1401;   // Retry on the error page
constexpr uint32_t kMsgCommand = 0x0111;      // WM_COMMAND, wparam = id
constexpr uintptr_t kIdOk = 1;
constexpr uintptr_t kIdCancel = 2;            // Escape

constexpr int kExitCodeClosed = 1;

constexpr const char16_t* kDialogTitle = u"Application Error Reporting Tool";
constexpr const char16_t* kCheckInternetMessage = u"Please, check internet connection";
constexpr const char16_t* kAbortQuestion = u"Are you sure?";

enum class PageId { kPreparing, kError };

// A page of the dialog. Dialog thread only.
class IPage {
 public:
  virtual ~IPage() = default;
  // Creates the page's window unless it exists.
  virtual bool create() = 0;
  virtual void setJob(CJob* job) = 0;
  virtual void setMessage(const string16& message) {}
  // Refreshes the page from its job.
  virtual void show() = 0;
  virtual void hide() = 0;
};

class CMainDlgHost {
 public:
  virtual ~CMainDlgHost() = default;
  // Any thread: queues a message for CMainDlg::handleMessage on the
  // dialog's thread (FIFO). False when the dialog is gone.
  virtual bool postMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) = 0;
  // Dialog thread.
  virtual IPage* page(PageId id) = 0;
  virtual void setTitle(const string16& title) = 0;
  // Shows `page` over the client area (resizing the dialog to it) and
  // hides `previous` (null at the start).
  virtual void placePage(IPage* page, IPage* previous) = 0;
  // Destroys the window and ends the message loop with `exitCode`.
  virtual void close(int exitCode) = 0;
  // False when nobody can answer a page (no window and no terminal).
  virtual bool interactive() const = 0;
};

class CMainDlg : public CJobCallback {
 public:
  // The five jobs in their order: CReadPipe, CCompressLog, CCheckInternet,
  // CSendLog, COpenSupportForm.
  using Jobs = std::vector<std::unique_ptr<CJob>>;
  static Jobs makeStandardJobs(CParamStore* store, const SupportSite& site);

  CMainDlg(CMainDlgHost* host, Jobs jobs);
  ~CMainDlg() override;  // stops every job
  CMainDlg(const CMainDlg&) = delete;
  CMainDlg& operator=(const CMainDlg&) = delete;

  // WM_INITDIALOG: title, preparing page, start CReadPipe.
  void initDialog();
  // A message on the dialog's thread; false when it is not one of ours.
  bool handleMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam);

  CJob* currentJob() const { return current_; }
  PageId currentPageId() const { return currentPageId_; }
  bool closed() const { return closed_; }
  CJob* job(size_t index) const { return jobs_[index].get(); }

  // Test hook: with a folder, page changes and job starts are appended to
  // <folder>/events.txt and a command in <folder>/command.txt ("retry",
  // "abort", "cancel", "ok") is carried out by pollTestControl(), which the
  // host calls every 100 ms.
  void setTestControl(const string16& folder);
  bool hasTestControl() const { return !testControl_.empty(); }
  void pollTestControl();

  // CJobCallback, on worker threads.
  void jobDone() override;
  void jobFailed(HResult hr) override;

 private:
  enum JobIndex { kReadPipe, kCompressLog, kCheckInternet, kSendLog, kOpenSupportForm, kJobCount };

  void startJob(CJob* job);
  void showPage(PageId id);
  void onJobDone();
  void onJobFailed(HResult hr);
  void close();
  void recordEvent(const std::string& line);

  CMainDlgHost* host_;
  Jobs jobs_;
  CJob* current_ = nullptr;
  IPage* currentPage_ = nullptr;
  PageId currentPageId_ = PageId::kPreparing;
  bool closed_ = false;
  string16 testControl_;
};

// Where the test hook's folder comes from.
constexpr const char* kTestControlVariable = "LUMORA_SUPPORT_TEST_CONTROL";

}  // namespace support

#endif  // WEBCAMWIN_SUPPORT_MAIN_DLG_H_
