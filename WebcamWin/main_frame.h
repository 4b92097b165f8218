// CMainFrame: the main window of `server` and the application controller.
// When its window is created it builds the connection machinery (for now
// the transport) and starts listening on the `Port` setting; it reacts to
// the transport's events and to the window's close and destroy messages,
// and owns everything it built. The native window (FrameWindow) is the
// Win32 frame window on Windows and the console front end on Linux; all
// logic is here, once.
//
// Thread: the user-interface thread, which also runs the transport.
#ifndef WEBCAMWIN_MAIN_FRAME_H_
#define WEBCAMWIN_MAIN_FRAME_H_

#include <cstdint>
#include <memory>
#include <string>

#include "WebcamWin/frame_window.h"
#include "base/string_util.h"
#include "transport/transport.h"

class CMainFrame : public transport::Transport::Observer {
 public:
  CMainFrame();
  ~CMainFrame() override;
  CMainFrame(const CMainFrame&) = delete;
  CMainFrame& operator=(const CMainFrame&) = delete;

  // Makes the native window and creates it with `title`. False when the
  // window could not be created.
  bool createWindow(const base::string16& title);
  FrameWindow* window() const { return window_.get(); }

  // The window's messages, as the native window receives them.
  // WM_CREATE: false makes the creation fail.
  bool onCreate();
  // WM_CLOSE with its first parameter.
  void onClose(uintptr_t param);
  // WM_DESTROY: stops listening and ends the message loop with 1.
  void onDestroy();

  // Transport::Observer
  uint32_t messageType() const override { return 0; }
  void onTransportDidStartListening(transport::Transport* transport) override;
  void onTransportDidStopListening(transport::Transport* transport) override;
  void onClientDidConnect(transport::Transport* transport) override;
  void onClientDidDisconnect(transport::Transport* transport) override;

  transport::Transport* transport() const { return transport_.get(); }

  // The last phone's model and its "system v version", kept after it left
  // (the error report sends them).
  static base::string16 deviceModel();
  static base::string16 deviceSoftware();

 private:
  std::unique_ptr<FrameWindow> window_;
  std::unique_ptr<transport::Transport> transport_;
};

#endif  // WEBCAMWIN_MAIN_FRAME_H_
