// CWebcamView: the skinned main view of the Windows window (template 1000,
// 440 by 450 pixels): the caption strip with About, minimise and close, the
// preview of the phone's picture (CVideoPreviewView) with its size box and
// the recording indicator, and the bottom bar with settings, snapshot,
// record and the two folder buttons. The view owns no state of the
// program: every button raises a signal that the controller answers, and
// the controller tells the view about the phone and the recording.
//
// Thread: the user-interface thread, except OnVideoFrame (any thread).
#ifndef WEBCAMWIN_UI_WEBCAM_VIEW_WIN_H_
#define WEBCAMWIN_UI_WEBCAM_VIEW_WIN_H_

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "WebcamWin/controller/main_frame.h"
#include "WebcamWin/ui/skin_win.h"
#include "components/video/video_component.h"

// The picture area: the last frame scaled into the whole area, or the
// splash while no phone is streaming; the "%dx%d" box and, while recording,
// the indicator with the elapsed time. Its window text repeats what the
// boxes say (tests read it).
class CVideoPreviewView {
 public:
  static constexpr wchar_t kClassName[] = L"QLVideoPreview";
  static void registerClass();
  static CVideoPreviewView* from(HWND hwnd);

  void setLive(bool live);
  void setRecording(bool shown);
  void setRecordingTime(uint32_t elapsedMs);
  // A BGR picture whose rows are DWORD-aligned.
  void setFrame(int width, int height, std::vector<uint8_t> pixels);
  void clearFrame();

 private:
  static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  void paint(HDC dc, const RECT& area);
  void updateText();
  void repaint();

  HWND hwnd_ = nullptr;
  skin::Image splash_{u"splash.png"};
  skin::Image infoBack_{u"InfoBack.png"};
  skin::Image indicator_{u"RecordIndicator.png"};
  bool live_ = false;
  bool recording_ = false;
  uint32_t elapsedMs_ = 0;
  int width_ = 0;
  int height_ = 0;
  std::vector<uint8_t> pixels_;
};

class CWebcamView : public component::VideoComponent::Observer {
 public:
  static constexpr int kTemplateId = 1000;
  static constexpr int kWidth = 440;
  static constexpr int kHeight = 450;
  // Posted to itself at creation when the first-run tip is wanted.
  static constexpr UINT kMsgFirstRunTip = WM_USER + 1000;

  // `signal` receives the view's signals; `firstRunTip` opens the tip.
  CWebcamView(std::function<void(CMainFrame::UiEvent)> signal, std::function<void()> firstRunTip);
  ~CWebcamView() override;
  CWebcamView(const CWebcamView&) = delete;
  CWebcamView& operator=(const CWebcamView&) = delete;

  // From template 1000 of `resources`, at (x, y) of `parent`.
  bool create(HINSTANCE resources, HWND parent, int x, int y, bool firstRunTip);
  HWND hwnd() const { return hwnd_; }

  void setConnected(bool connected);
  void setRecording(bool recording);
  void setRecordingTime(uint32_t elapsedMs);

  // Any thread: the newest frame replaces one not yet shown.
  void OnVideoFrame(component::VideoComponent* component, const component::VideoFrame& frame) override;

 private:
  static INT_PTR CALLBACK dialogProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  INT_PTR handle(UINT msg, WPARAM wparam, LPARAM lparam);
  void layout();
  void onCommand(int id);
  void paintBackground(HDC dc);
  void takeFrame();
  skin::CButtonControl* button(int id) const;
  CVideoPreviewView* preview() const;

  std::function<void(CMainFrame::UiEvent)> signal_;
  std::function<void()> firstRunTip_;
  HWND hwnd_ = nullptr;
  bool connected_ = false;
  bool wantTip_ = false;
  skin::Image caption_{u"CaptionBackground.png"};
  skin::Image bottomBar_{u"BottomBarBack.png"};

  // The hand-over of frames from the decoding thread.
  std::mutex frameLock_;
  bool framePending_ = false;
  int pendingWidth_ = 0;
  int pendingHeight_ = 0;
  std::vector<uint8_t> pendingPixels_;
};

#endif  // WEBCAMWIN_UI_WEBCAM_VIEW_WIN_H_
