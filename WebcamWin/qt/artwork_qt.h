// The product's pictures (resources/artwork, built into the program) for the
// desktop front end, and a button drawn from the four pictures of a skinned
// button of the Windows window (disabled, normal, mouse over, pressed).
//
// Thread: the user-interface thread.
#ifndef WEBCAMWIN_QT_ARTWORK_QT_H_
#define WEBCAMWIN_QT_ARTWORK_QT_H_

#include <QAbstractButton>
#include <QIcon>
#include <QPixmap>
#include <QString>

// The picture made from the file `name` ("splash.png"); a null pixmap when
// the program has none (logged once per name).
QPixmap artwork(const QString& name);
// The product's icon in the sizes the desktop asks for.
QIcon productIcon();

class ArtworkButton : public QAbstractButton {
 public:
  // `stem` + "Disabled.png", "Normal.png", "Over.png", "Pressed.png"; a
  // `suffix` such as "R" follows the state word.
  ArtworkButton(const QString& stem, const QString& suffix, QWidget* parent);
  QSize sizeHint() const override;
  // Latched: drawn pressed until released (the record button).
  void setLatched(bool latched);
  bool latched() const { return latched_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  QPixmap disabled_, normal_, over_, pressed_;
  bool hovered_ = false;
  bool latched_ = false;
};

#endif  // WEBCAMWIN_QT_ARTWORK_QT_H_
