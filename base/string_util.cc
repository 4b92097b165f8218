#include "base/string_util.h"

#include <cstdio>
#include <vector>

namespace base {

namespace {
constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string* out, char32_t c) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void appendUtf16(string16* out, char32_t c) {
  if (c < 0x10000) {
    out->push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}
}  // namespace

std::string wideToUtf8(const string16& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    appendUtf8(&out, c);
  }
  return out;
}

string16 utf8ToWide(const std::string& text) {
  string16 out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char b = s[i];
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    int need;
    char32_t c;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1; c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2; c = b & 0x0F;
      if (b == 0xE0) lo = 0xA0;        // no overlongs
      if (b == 0xED) hi = 0x9F;        // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3; c = b & 0x07;
      if (b == 0xF0) lo = 0x90;        // no overlongs
      if (b == 0xF4) hi = 0x8F;        // nothing above U+10FFFF
    } else {
      out.push_back(static_cast<char16_t>(kReplacement));
      ++i;
      continue;
    }
    size_t j = i + 1;
    bool ok = true;
    for (int k = 0; k < need; ++k, ++j) {
      const unsigned char lim_lo = (k == 0) ? lo : 0x80;
      const unsigned char lim_hi = (k == 0) ? hi : 0xBF;
      if (j >= n || s[j] < lim_lo || s[j] > lim_hi) {
        ok = false;
        break;
      }
      c = (c << 6) | (s[j] & 0x3F);
    }
    if (!ok) {
      // One replacement for the maximal invalid subpart; resume at the byte
      // that broke the sequence.
      out.push_back(static_cast<char16_t>(kReplacement));
      i = j;
      continue;
    }
    appendUtf16(&out, c);
    i = j;
  }
  return out;
}

string16 asciiToWide(const std::string& text) {
  return string16(text.begin(), text.end());
}

std::string stringPrintV(const char* format, va_list args) {
  char small[512];
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(small, sizeof(small), format, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof(small)) return std::string(small, n);
  std::vector<char> big(static_cast<size_t>(n) + 1);
  va_copy(copy, args);
  std::vsnprintf(big.data(), big.size(), format, copy);
  va_end(copy);
  return std::string(big.data(), n);
}

std::string stringPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = stringPrintV(format, args);
  va_end(args);
  return out;
}

namespace {
char16_t foldCase(char16_t c) {
  if (c >= u'A' && c <= u'Z') return c + 32;
  if ((c >= 0xC0 && c <= 0xDE) && c != 0xD7) return c + 32;
  return c;
}
}  // namespace

string16 toLowerWide(const string16& text) {
  string16 out(text);
  for (auto& c : out) c = foldCase(c);
  return out;
}

bool equalsIgnoreCase(const string16& a, const string16& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (foldCase(a[i]) != foldCase(b[i])) return false;
  return true;
}

}  // namespace base
