// The picture area of the desktop window: the phone's newest picture scaled
// into the area with its aspect kept, the "%dx%d" size box and, while
// recording, the indicator with the elapsed time; the splash picture with
// its line while no phone is streaming.
//
// Thread: the user-interface thread, except OnVideoFrame and
// WantedPictureSize (whichever thread decodes), which only hand over.
#ifndef WEBCAMWIN_QT_PREVIEW_WIDGET_H_
#define WEBCAMWIN_QT_PREVIEW_WIDGET_H_

#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "components/video/video_component.h"

class PreviewWidget : public QWidget, public component::VideoComponent::Observer {
 public:
  explicit PreviewWidget(QWidget* parent);

  // Live: the phone streams. Not live clears the picture and the time.
  void setLive(bool live);
  void setRecording(bool shown);
  void setRecordingTime(uint32_t elapsedMs);
  // A line under the splash's own (where the program listens).
  void setStatus(const QString& text);

  bool live() const { return live_; }
  bool recordingShown() const { return recording_; }
  // What the boxes say now ("" when a box is not shown).
  QString sizeText() const;
  QString timeText() const;
  // The picture shown now (null on the splash).
  const QImage& picture() const { return picture_; }

  // component::VideoComponent::Observer. The newest frame replaces one not
  // yet shown; the copy is all the decoding thread waits for.
  void OnVideoFrame(component::VideoComponent* component, const component::VideoFrame& frame) override;
  void WantedPictureSize(int32_t width, int32_t height, int32_t* wantedWidth, int32_t* wantedHeight) override;

  QSize sizeHint() const override { return QSize(640, 480); }
  QSize minimumSizeHint() const override { return QSize(320, 240); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // On the user-interface thread: the frame handed over becomes the picture.
  void takeFrame();
  void paintSplash(QPainter& painter);
  void paintBox(QPainter& painter, const QRect& box, const QString& text, bool indicator);

  QPixmap splash_;
  QPixmap infoBack_;
  QPixmap indicator_;
  QString status_;
  // The splash's backdrop, continued to the area's edges.
  QColor stageTop_{34, 38, 45};
  QColor stageBottom_{22, 25, 30};
  bool live_ = false;
  bool recording_ = false;
  uint32_t elapsedMs_ = 0;
  QImage picture_;
  // The phone's whole picture (a reduced decode is shown at this size).
  QSize pictureSize_;

  std::mutex frameLock_;
  bool framePending_ = false;
  QImage pending_;
  QSize pendingPictureSize_;
  // Device pixels of the area, read by the decoding thread.
  std::atomic<int> wantedWidth_{0};
  std::atomic<int> wantedHeight_{0};
};

#endif  // WEBCAMWIN_QT_PREVIEW_WIDGET_H_
