#include "WebcamWin/support/support_site.h"

#include "WebcamWin/support/support_platform.h"
#include "base/logging.h"
#include "base/sys_info.h"

namespace support {
namespace {

constexpr size_t kMaxSystemDescription = 255;

bool isHostChar(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
         c == u'-' || c == u'.';
}

bool isValidPort(const string16& text) {
  if (text.empty() || text.size() > 5) return false;
  unsigned port = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return false;
    port = port * 10 + (c - u'0');
  }
  return port >= 1 && port <= 65535;
}

bool isUnreserved(char16_t c) {
  if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9'))
    return true;
  switch (c) {
    case u'-': case u'_': case u'.': case u'!': case u'~': case u'*': case u'\'':
    case u'(': case u')': case u',': case u';': case u'=': case u':': case u'@':
    case u'$':
      return true;
  }
  return false;
}

}  // namespace

bool isValidHostOverride(const string16& value) {
  if (value.empty()) return false;
  size_t hostEnd;
  if (value[0] == u'[') {
    hostEnd = value.find(u']');
    if (hostEnd == string16::npos || hostEnd == 1) return false;
    for (size_t i = 1; i < hostEnd; ++i) {
      const char16_t c = value[i];
      if (!(isHostChar(c) || c == u':')) return false;
    }
    ++hostEnd;
  } else {
    hostEnd = value.find(u':');
    if (hostEnd == string16::npos) hostEnd = value.size();
    if (hostEnd == 0) return false;
    for (size_t i = 0; i < hostEnd; ++i)
      if (!isHostChar(value[i])) return false;
  }
  if (hostEnd == value.size()) return true;
  return value[hostEnd] == u':' && isValidPort(value.substr(hostEnd + 1));
}

SupportSite supportSite(const string16& hostOverride) {
  string16 host = kDefaultSiteHost;
  if (!hostOverride.empty()) {
    if (isValidHostOverride(hostOverride)) host = hostOverride;
    else LOG(ERROR) << kHostVariable << " is not a host[:port]: '" << hostOverride << "'; ignored";
  }
  SupportSite site;
  site.webSiteAddress = u"http://" + host + u"/";
  site.uploadAddress = u"http://" + host + kUploadPath;
  return site;
}

SupportSite supportSiteFromEnvironment() { return supportSite(environmentVariable(kHostVariable)); }

string16 escapeUrlSegment(const string16& value) {
  static const char kHex[] = "0123456789ABCDEF";
  string16 out;
  const std::string utf8 = base::wideToUtf8(value);
  for (unsigned char byte : utf8) {
    if (byte < 0x80 && isUnreserved(static_cast<char16_t>(byte))) {
      out.push_back(static_cast<char16_t>(byte));
    } else {
      out.push_back(u'%');
      out.push_back(static_cast<char16_t>(kHex[byte >> 4]));
      out.push_back(static_cast<char16_t>(kHex[byte & 0x0F]));
    }
  }
  return out;
}

string16 buildSupportFormAddress(const SupportFormFacts& facts) {
  string16 address = facts.supportForm;
  const struct {
    const char16_t* name;
    const string16& value;
  } params[] = {
      {u"&version=", facts.version}, {u"&windows=", facts.windows},
      {u"&device=", facts.device},   {u"&device_os=", facts.deviceOs},
      {u"&userfile=", facts.userFile},
  };
  for (const auto& p : params) {
    if (p.value.empty()) continue;
    address += p.name;
    address += escapeUrlSegment(p.value);
  }
  return address;
}

string16 operatingSystemDescription() {
  string16 text = base::utf8ToWide(base::operatingSystemName());
  if (text.size() > kMaxSystemDescription) text.resize(kMaxSystemDescription);
  return text;
}

}  // namespace support
