// Text helpers shared by every layer. Inside the components and on the wire
// strings are UTF-8 (std::string); the user interface, file names and the
// registry use UTF-16 (base::string16, the same code units as Windows' WCHAR).
#ifndef BASE_STRING_UTIL_H_
#define BASE_STRING_UTIL_H_

#include <cstdarg>
#include <string>

namespace base {

using string16 = std::u16string;

// UTF-16 -> UTF-8. An unpaired surrogate becomes U+FFFD.
std::string wideToUtf8(const string16& text);

// UTF-8 -> UTF-16. Every byte sequence that is not valid UTF-8 (stray
// continuation bytes, truncated or overlong sequences, surrogates encoded in
// UTF-8, values above U+10FFFF) becomes one U+FFFD per maximal invalid
// subpart, the way browsers and Windows' MultiByteToWideChar do it.
string16 utf8ToWide(const std::string& text);

// ASCII-only convenience for literals and numbers.
string16 asciiToWide(const std::string& text);

// printf into a std::string of any length.
std::string stringPrintf(const char* format, ...)
    __attribute__((format(printf, 1, 2)));
std::string stringPrintV(const char* format, va_list args);

// Case-insensitive comparison of UTF-16 text, folding ASCII and Latin-1
// letters (registry key names are compared this way).
bool equalsIgnoreCase(const string16& a, const string16& b);
string16 toLowerWide(const string16& text);

}  // namespace base

#endif  // BASE_STRING_UTIL_H_
