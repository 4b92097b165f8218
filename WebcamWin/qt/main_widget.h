// The main window of the desktop front end: the preview above a bar with
// the product's buttons (settings; snapshot and record; the two folders and
// About). Every button only raises the view's signal; the window's own
// close button goes to the front end, which decides between the tray and
// quitting.
//
// Thread: the user-interface thread.
#ifndef WEBCAMWIN_QT_MAIN_WIDGET_H_
#define WEBCAMWIN_QT_MAIN_WIDGET_H_

#include <QWidget>

#include <functional>

#include "WebcamWin/controller/main_frame.h"

class ArtworkButton;
class PreviewWidget;

class MainWidget : public QWidget {
 public:
  MainWidget(std::function<void(CMainFrame::UiEvent)> signal, std::function<void()> closeButton,
             std::function<void()> hidden);

  PreviewWidget* preview() const { return preview_; }
  ArtworkButton* snapshotButton() const { return snapshot_; }
  ArtworkButton* recordButton() const { return record_; }
  ArtworkButton* settingsButton() const { return settings_; }
  ArtworkButton* picturesButton() const { return pictures_; }
  ArtworkButton* videosButton() const { return videos_; }
  ArtworkButton* aboutButton() const { return about_; }

  // Disconnected: the splash, snapshot and record disabled.
  void setConnected(bool connected);
  // The latched record button and its tooltip.
  void setRecording(bool recording);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  ArtworkButton* addButton(const QString& stem, const QString& suffix, uint32_t tooltip, CMainFrame::UiEvent event);

  std::function<void(CMainFrame::UiEvent)> signal_;
  std::function<void()> closeButton_;
  std::function<void()> hidden_;
  PreviewWidget* preview_;
  QWidget* bar_;
  ArtworkButton* settings_;
  ArtworkButton* snapshot_;
  ArtworkButton* record_;
  ArtworkButton* pictures_;
  ArtworkButton* videos_;
  ArtworkButton* about_;
};

#endif  // WEBCAMWIN_QT_MAIN_WIDGET_H_
