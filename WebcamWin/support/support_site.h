// Where the support tool talks to: the product web site whose reachability
// is checked, the upload address of the logs, and the support form's
// address with the gathered facts appended.
#ifndef WEBCAMWIN_SUPPORT_SUPPORT_SITE_H_
#define WEBCAMWIN_SUPPORT_SUPPORT_SITE_H_

#include <string>

#include "base/string_util.h"

namespace support {

using base::string16;

// Until the real site exists the hosts live under a reserved test domain.
constexpr const char16_t* kDefaultSiteHost = u"www.lumora.example";
constexpr const char16_t* kUploadPath = u"/en/support_device/logs_uploader.php";
// "host" or "host:port"; overrides both hosts (tests point it at 127.0.0.1).
constexpr const char* kHostVariable = "LUMORA_SUPPORT_HOST";

struct SupportSite {
  string16 webSiteAddress;  // "http://<host>/"
  string16 uploadAddress;   // "http://<host>/en/support_device/logs_uploader.php"
};

// Accepts a host name or IPv4 address, or an IPv6 address in brackets, with
// an optional ":port" of 1..65535.
bool isValidHostOverride(const string16& host);

// The site for an override (empty: the default host). An invalid override
// is logged and ignored.
SupportSite supportSite(const string16& hostOverride);
// The site for this process's LUMORA_SUPPORT_HOST.
SupportSite supportSiteFromEnvironment();

// One value escaped as a single path segment of an address: everything but
// letters, digits and - _ . ! ~ * ' ( ) , ; = : @ $ is written as %XX of its
// UTF-8 bytes (upper-case hex), so '/', '?', '#', '&', '+', '%' and spaces
// never leak into the address's structure.
string16 escapeUrlSegment(const string16& value);

struct SupportFormFacts {
  string16 supportForm;     // "SupportForm": the form's address with its query
  string16 version;         // "Version"
  string16 windows;         // the operating-system description
  string16 device;          // "DeviceModel"
  string16 deviceOs;        // "DeviceSoftware"
  string16 userFile;        // "ShippedLog"
};

// "SupportForm" then "&version=", "&windows=", "&device=", "&device_os=" and
// "&userfile=" with their escaped values, each left out when empty.
string16 buildSupportFormAddress(const SupportFormFacts& facts);

// The operating-system description, at most 255 characters.
string16 operatingSystemDescription();

}  // namespace support

#endif  // WEBCAMWIN_SUPPORT_SUPPORT_SITE_H_
