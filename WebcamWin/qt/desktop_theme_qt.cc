#include "WebcamWin/qt/desktop_theme_qt.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

namespace {

constexpr int kDarkBelowLightness = 128;

QPalette darkPalette() {
  QPalette p;
  const QColor window(45, 48, 54), base(32, 34, 39), text(230, 232, 235), accent(58, 130, 246);
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, window);
  p.setColor(QPalette::ToolTipBase, base);
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::PlaceholderText, QColor(150, 155, 163));
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, QColor(58, 62, 70));
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::BrightText, Qt::white);
  p.setColor(QPalette::Highlight, accent);
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::Link, QColor(110, 168, 254));
  p.setColor(QPalette::Light, QColor(75, 80, 90));
  p.setColor(QPalette::Midlight, QColor(62, 66, 74));
  p.setColor(QPalette::Mid, QColor(40, 43, 48));
  p.setColor(QPalette::Dark, QColor(25, 27, 30));
  p.setColor(QPalette::Shadow, Qt::black);
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    p.setColor(QPalette::Disabled, role, QColor(120, 124, 130));
  return p;
}

}  // namespace

bool desktopPrefersDark(const QString& gtkTheme, int windowLightness) {
  if (gtkTheme.endsWith(QStringLiteral(":dark"), Qt::CaseInsensitive)) return true;
  if (gtkTheme.contains(QStringLiteral(":light"), Qt::CaseInsensitive)) return false;
  return windowLightness >= 0 && windowLightness < kDarkBelowLightness;
}

void applyDesktopTheme(QApplication* application) {
  // A desktop with its own Qt theme (KDE, or a GTK bridge) is followed as
  // it is; the bare platform gets Fusion, which looks at home anywhere.
  const QString style = application->style()->name().toLower();
  const bool bare = style == QStringLiteral("windows") || style == QStringLiteral("fusion");
  if (!bare) return;
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  const int lightness = application->palette().color(QPalette::Window).lightness();
  if (desktopPrefersDark(qEnvironmentVariable("GTK_THEME"), lightness)) QApplication::setPalette(darkPalette());
}
