// Between the program's UTF-16 texts and Qt's strings.
#ifndef WEBCAMWIN_QT_TEXTS_QT_H_
#define WEBCAMWIN_QT_TEXTS_QT_H_

#include <QString>

#include "base/string_util.h"

inline QString toQt(const base::string16& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}
inline base::string16 fromQt(const QString& text) {
  return base::string16(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size()));
}
// String resource `id` from the resource library.
QString uiText(uint32_t id);

#endif  // WEBCAMWIN_QT_TEXTS_QT_H_
