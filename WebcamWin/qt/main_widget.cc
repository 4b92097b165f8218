#include "WebcamWin/qt/main_widget.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include "WebcamWin/controller/main_window_strings.h"
#include "WebcamWin/qt/artwork_qt.h"
#include "WebcamWin/qt/preview_widget.h"
#include "WebcamWin/qt/texts_qt.h"

namespace {

constexpr int kBarHeight = 62;

}  // namespace

MainWidget::MainWidget(std::function<void(CMainFrame::UiEvent)> signal, std::function<void()> closeButton,
                       std::function<void()> hidden)
    : signal_(std::move(signal)), closeButton_(std::move(closeButton)), hidden_(std::move(hidden)) {
  setObjectName(QStringLiteral("mainWindow"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  preview_ = new PreviewWidget(this);
  layout->addWidget(preview_, 1);

  bar_ = new QWidget(this);
  bar_->setFixedHeight(kBarHeight);
  auto* row = new QHBoxLayout(bar_);
  row->setContentsMargins(12, 12, 12, 12);
  row->setSpacing(4);
  settings_ = addButton(QStringLiteral("SettingsButton"), QStringLiteral("R"), kIdsSettings,
                        CMainFrame::UiEvent::kOpenSettings);
  snapshot_ = addButton(QStringLiteral("SnapshotButton"), QString(), kIdsSnapshot, CMainFrame::UiEvent::kMakeSnapshot);
  // One button, two signals: which one follows the latch the controller set.
  record_ = new ArtworkButton(QStringLiteral("VideoButton"), QString(), bar_);
  record_->setToolTip(uiText(kIdsStartRecording));
  record_->setAccessibleName(uiText(kIdsStartRecording));
  QObject::connect(record_, &ArtworkButton::clicked, record_, [this] {
    signal_(record_->latched() ? CMainFrame::UiEvent::kStopVideoRecording : CMainFrame::UiEvent::kStartVideoRecording);
  });
  pictures_ = addButton(QStringLiteral("SnapshotFolderButton"), QString(), kIdsPicturesFolder,
                        CMainFrame::UiEvent::kOpenSnapshotFolder);
  videos_ = addButton(QStringLiteral("VideoFolderButton"), QString(), kIdsVideosFolder,
                      CMainFrame::UiEvent::kOpenVideoFolder);
  about_ = addButton(QStringLiteral("AboutButton"), QString(), kIdsAbout, CMainFrame::UiEvent::kOpenAbout);

  row->addWidget(settings_);
  row->addStretch(1);
  row->addWidget(snapshot_);
  row->addWidget(record_);
  row->addStretch(1);
  row->addWidget(pictures_);
  row->addWidget(videos_);
  row->addSpacing(12);
  row->addWidget(about_);
  layout->addWidget(bar_);

  setWindowIcon(productIcon());
  setMinimumSize(360, 300);
  resize(640, 480 + kBarHeight);
  setConnected(false);
}

ArtworkButton* MainWidget::addButton(const QString& stem, const QString& suffix, uint32_t tooltip,
                                     CMainFrame::UiEvent event) {
  auto* button = new ArtworkButton(stem, suffix, bar_);
  button->setToolTip(uiText(tooltip));
  button->setAccessibleName(uiText(tooltip));
  QObject::connect(button, &ArtworkButton::clicked, button, [this, event] { signal_(event); });
  return button;
}

void MainWidget::setConnected(bool connected) {
  snapshot_->setEnabled(connected);
  record_->setEnabled(connected);
  preview_->setLive(connected);
  if (!connected) setRecording(false);
}

void MainWidget::setRecording(bool recording) {
  record_->setLatched(recording);
  const QString tip = uiText(recording ? kIdsStopRecording : kIdsStartRecording);
  record_->setToolTip(tip);
  record_->setAccessibleName(tip);
  preview_->setRecording(recording);
}

void MainWidget::closeEvent(QCloseEvent* event) {
  // The front end decides: to the tray, or the closing sequence.
  event->ignore();
  if (closeButton_) closeButton_();
}

void MainWidget::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  // Minimising is not hiding.
  if (!isMinimized() && hidden_) hidden_();
}

void MainWidget::paintEvent(QPaintEvent*) {
  // The bar in the product's dark look, the window's own colour around it.
  QPainter painter(this);
  const QRect bar = bar_->geometry();
  const QPixmap back = artwork(QStringLiteral("BottomBarBack.png"));
  if (back.isNull()) painter.fillRect(bar, QColor(34, 38, 45));
  else painter.drawPixmap(bar, back, QRect(back.width() / 2 - 2, 0, 4, back.height()));
}
