#include "WebcamWin/qt/preview_widget.h"

#include <QMetaObject>
#include <QPainter>
#include <QResizeEvent>

#include "WebcamWin/controller/ui_rules.h"
#include "WebcamWin/platform/resource_library.h"
#include "WebcamWin/qt/artwork_qt.h"
#include "WebcamWin/qt/texts_qt.h"
#include "components/video/video_frame.h"

namespace {

constexpr uint32_t kIdsSplashLine = 50075;
constexpr int kBoxMargin = 10;
constexpr int kBoxHeight = 21;
constexpr int kIndicatorSide = 9;
// The picture area's own colours: a dark stage, whatever the desktop theme.
const QColor kSplashText(0xD7, 0xD7, 0xD7);

}  // namespace

PreviewWidget::PreviewWidget(QWidget* parent)
    : QWidget(parent),
      splash_(artwork(QStringLiteral("splash.png"))),
      infoBack_(artwork(QStringLiteral("InfoBack.png"))),
      indicator_(artwork(QStringLiteral("RecordIndicator.png"))) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  if (!splash_.isNull()) {
    const QImage corners = splash_.toImage();
    stageTop_ = corners.pixelColor(0, 0);
    stageBottom_ = corners.pixelColor(0, corners.height() - 1);
  }
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void PreviewWidget::setLive(bool live) {
  live_ = live;
  if (!live) {
    picture_ = QImage();
    pictureSize_ = QSize();
    recording_ = false;
    elapsedMs_ = 0;
    std::lock_guard<std::mutex> lock(frameLock_);
    pending_ = QImage();
    framePending_ = false;
  }
  update();
}

void PreviewWidget::setRecording(bool shown) {
  recording_ = shown;
  elapsedMs_ = 0;
  update();
}

void PreviewWidget::setRecordingTime(uint32_t elapsedMs) {
  elapsedMs_ = elapsedMs;
  update();
}

void PreviewWidget::setStatus(const QString& text) {
  status_ = text;
  update();
}

QString PreviewWidget::sizeText() const {
  if (!live_ || picture_.isNull()) return QString();
  return toQt(frameSizeText(pictureSize_.width(), pictureSize_.height()));
}

QString PreviewWidget::timeText() const { return recording_ ? toQt(recordingTimeText(elapsedMs_)) : QString(); }

void PreviewWidget::OnVideoFrame(component::VideoComponent*, const component::VideoFrame& frame) {
  // The shared check and copy; the image owns the rows from then on.
  auto* rows = new std::vector<uint8_t>;
  if (!previewRows(frame, rows)) {
    delete rows;
    return;  // not a picture this area can show
  }
  const int rowBytes = (frame.width * 3 + 3) & ~3;
  QImage copy(
      rows->data(), frame.width, frame.height, rowBytes, QImage::Format_BGR888,
      [](void* owned) { delete static_cast<std::vector<uint8_t>*>(owned); }, rows);
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(frameLock_);
    pending_ = std::move(copy);
    pendingPictureSize_ = QSize(frame.pictureWidth(), frame.pictureHeight());
    wake = !framePending_;
    framePending_ = true;
  }
  if (wake) QMetaObject::invokeMethod(this, [this] { takeFrame(); }, Qt::QueuedConnection);
}

void PreviewWidget::WantedPictureSize(int32_t width, int32_t height, int32_t* wantedWidth, int32_t* wantedHeight) {
  // The area in device pixels, with the picture's aspect: the decoder may
  // leave out what would be scaled away.
  const int areaWidth = wantedWidth_.load(), areaHeight = wantedHeight_.load();
  if (areaWidth <= 0 || areaHeight <= 0 || width <= 0 || height <= 0) {
    *wantedWidth = width;
    *wantedHeight = height;
    return;
  }
  const QSize fitted = QSize(width, height).scaled(areaWidth, areaHeight, Qt::KeepAspectRatio);
  *wantedWidth = std::min(width, fitted.width());
  *wantedHeight = std::min(height, fitted.height());
}

void PreviewWidget::takeFrame() {
  {
    std::lock_guard<std::mutex> lock(frameLock_);
    if (!framePending_) return;
    framePending_ = false;
    if (!live_) return;  // the phone went while the frame was on its way
    picture_ = std::move(pending_);
    pending_ = QImage();
    pictureSize_ = pendingPictureSize_;
  }
  update();
}

void PreviewWidget::resizeEvent(QResizeEvent* event) {
  const qreal ratio = devicePixelRatioF();
  wantedWidth_ = static_cast<int>(event->size().width() * ratio);
  wantedHeight_ = static_cast<int>(event->size().height() * ratio);
  QWidget::resizeEvent(event);
}

void PreviewWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  if (!live_ || picture_.isNull()) {
    paintSplash(painter);
    return;
  }
  const QSize shown = pictureSize_.scaled(size(), Qt::KeepAspectRatio);
  const QRect target((width() - shown.width()) / 2, (height() - shown.height()) / 2, shown.width(), shown.height());
  painter.fillRect(rect(), Qt::black);
  painter.drawImage(target, picture_);

  QFont font = painter.font();
  font.setPointSizeF(10);
  font.setBold(true);
  painter.setFont(font);
  const QFontMetrics metrics(font);
  const QString size = sizeText();
  const int sizeWidth = std::max(infoBack_.width(), metrics.horizontalAdvance(size) + 16);
  paintBox(painter, QRect(kBoxMargin, kBoxMargin, sizeWidth, kBoxHeight), size, false);
  if (recording_) {
    const QString time = timeText();
    const int timeWidth = std::max(75, metrics.horizontalAdvance(time) + kIndicatorSide + 22);
    paintBox(painter, QRect(width() - kBoxMargin - timeWidth, kBoxMargin, timeWidth, kBoxHeight), time, true);
  }
}

void PreviewWidget::paintBox(QPainter& painter, const QRect& box, const QString& text, bool indicator) {
  if (infoBack_.isNull()) painter.fillRect(box, QColor(0, 0, 0, 160));
  else painter.drawPixmap(box, infoBack_);
  QRect textArea = box.adjusted(7, 0, -4, 0);
  if (indicator) {
    const QRect dot(box.left() + 7, box.top() + (box.height() - kIndicatorSide) / 2, kIndicatorSide, kIndicatorSide);
    if (indicator_.isNull()) {
      painter.setBrush(Qt::red);
      painter.setPen(Qt::NoPen);
      painter.drawEllipse(dot);
    } else {
      painter.drawPixmap(dot, indicator_);
    }
    textArea.setLeft(dot.right() + 6);
  }
  painter.setPen(Qt::white);
  painter.drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter, text);
}

void PreviewWidget::paintSplash(QPainter& painter) {
  // The stage continues the splash's own backdrop to the area's edges.
  QLinearGradient stage(0, 0, 0, height());
  stage.setColorAt(0, stageTop_);
  stage.setColorAt(1, stageBottom_);
  painter.fillRect(rect(), stage);
  // The splash keeps its size on screens where it fits and shrinks on
  // smaller areas; its line sits under the phone, 280 pixels down.
  QSize shown = splash_.isNull() ? QSize(440, 330) : splash_.size();
  if (shown.width() > width() || shown.height() > height()) shown = shown.scaled(size(), Qt::KeepAspectRatio);
  const QRect target((width() - shown.width()) / 2, (height() - shown.height()) / 2, shown.width(), shown.height());
  if (!splash_.isNull()) painter.drawPixmap(target, splash_);
  const qreal scale = shown.height() / 330.0;
  QFont font = painter.font();
  font.setPointSizeF(std::max(9.0, 15 * scale));
  painter.setFont(font);
  painter.setPen(kSplashText);
  const QRect line(target.left(), target.top() + static_cast<int>(250 * scale), target.width(),
                   static_cast<int>(36 * scale));
  painter.drawText(line, Qt::AlignCenter, toQt(loadString(kIdsSplashLine)));
  if (!status_.isEmpty()) {
    QFont small = painter.font();
    small.setPointSizeF(std::max(8.0, 9 * scale));
    painter.setFont(small);
    painter.setPen(QColor(0x8A, 0x93, 0xA0));
    painter.drawText(QRect(target.left(), line.bottom() + 2, target.width(), static_cast<int>(24 * scale)),
                     Qt::AlignCenter, status_);
  }
}
