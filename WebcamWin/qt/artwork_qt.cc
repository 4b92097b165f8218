#include "WebcamWin/qt/artwork_qt.h"

#include <QEnterEvent>
#include <QFile>
#include <QPainter>
#include <QSet>

#include "base/logging.h"

QPixmap artwork(const QString& name) {
  QPixmap picture(QStringLiteral(":/artwork/") + name);
  static QSet<QString> missing;
  if (picture.isNull() && !missing.contains(name)) {
    missing.insert(name);
    LOG(WARNING) << "No picture " << name.toStdString() << " in the program";
  }
  return picture;
}

QIcon productIcon() {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QString file = QStringLiteral(":/icons/%1.png").arg(size);
    if (QFile::exists(file)) icon.addFile(file, QSize(size, size));
  }
  return icon;
}

ArtworkButton::ArtworkButton(const QString& stem, const QString& suffix, QWidget* parent)
    : QAbstractButton(parent),
      disabled_(artwork(stem + "Disabled.png")),
      normal_(artwork(stem + "Normal" + suffix + ".png")),
      over_(artwork(stem + "Over" + suffix + ".png")),
      pressed_(artwork(stem + "Pressed" + suffix + ".png")) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::TabFocus);
  setFixedSize(sizeHint());
}

QSize ArtworkButton::sizeHint() const { return normal_.isNull() ? QSize(38, 38) : normal_.size(); }

void ArtworkButton::setLatched(bool latched) {
  latched_ = latched;
  update();
}

void ArtworkButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  const QPixmap* picture = &normal_;
  if (!isEnabled()) picture = &disabled_;
  else if (isDown() || latched_) picture = &pressed_;
  else if (hovered_) picture = &over_;
  painter.drawPixmap(rect(), *picture);
  if (hasFocus()) {
    // Keyboard users see where they are.
    QPen pen(palette().color(QPalette::Highlight), 2);
    painter.setPen(pen);
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 4, 4);
  }
}

void ArtworkButton::enterEvent(QEnterEvent* event) {
  hovered_ = true;
  update();
  QAbstractButton::enterEvent(event);
}

void ArtworkButton::leaveEvent(QEvent* event) {
  hovered_ = false;
  update();
  QAbstractButton::leaveEvent(event);
}
