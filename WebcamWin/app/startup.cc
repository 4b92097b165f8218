#include "WebcamWin/app/startup.h"

#include <atomic>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/settings/settings.h"
#include "base/logging.h"
#include "base/reg_key.h"

namespace {

std::atomic<int> g_language{kLanguageEnglish};

bool isSeparator(char16_t c) { return c == u' ' || c == u'-' || c == u'/'; }

}  // namespace

std::set<base::string16> parseSwitches(const base::string16& commandLine) {
  std::set<base::string16> switches;
  size_t i = 0;
  while (i < commandLine.size()) {
    while (i < commandLine.size() && isSeparator(commandLine[i])) ++i;
    const size_t start = i;
    while (i < commandLine.size() && !isSeparator(commandLine[i])) ++i;
    if (i > start) switches.insert(commandLine.substr(start, i - start));
  }
  return switches;
}

int languageFromCode(const base::string16& code) {
  static const struct {
    const char16_t* code;
    int language;
  } kLanguages[] = {
      {u"en", 9}, {u"nl", 19}, {u"fr", 12}, {u"de", 7}, {u"it", 16}, {u"sp", 10}, {u"cn", 4},
  };
  for (const auto& entry : kLanguages)
    if (base::equalsIgnoreCase(code, entry.code)) return entry.language;
  return kLanguageEnglish;
}

int readInterfaceLanguage() {
  base::RegKey key;
  if (key.open(base::RegRoot::kCurrentUser, kAppRegistryKey) != base::kRegOk) {
    LOG(ERROR) << "Can't open application registry key";
    return kLanguageEnglish;
  }
  base::string16 code;
  if (key.readValue(u"Language", &code) != base::kRegOk) return kLanguageEnglish;
  return languageFromCode(code);
}

int interfaceLanguage() { return g_language.load(); }

void setInterfaceLanguage(int language) { g_language.store(language); }

bool parseVersion(const base::string16& text, std::array<uint32_t, 4>* parts) {
  std::array<uint32_t, 4> out = {0, 0, 0, 0};
  size_t index = 0, i = 0;
  for (;;) {
    if (index == out.size() || i >= text.size() || text[i] < u'0' || text[i] > u'9') return false;
    uint64_t value = 0;
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
      value = value * 10 + static_cast<uint64_t>(text[i] - u'0');
      if (value > UINT32_MAX) return false;
      ++i;
    }
    out[index++] = static_cast<uint32_t>(value);
    if (i == text.size()) break;
    if (text[i] != u'.') return false;
    ++i;
  }
  *parts = out;
  return true;
}

bool isLegacyVersion(const base::string16& version) {
  static constexpr std::array<uint32_t, 4> kLastLegacy = {1, 0, 5, 65535};
  std::array<uint32_t, 4> parts;
  if (version.empty() || !parseVersion(version, &parts)) return true;
  return parts <= kLastLegacy;  // component by component
}

bool upgradeLegacySettings(CSettings* settings) {
  if (settings->legacyFolder().empty() || !isLegacyVersion(settings->version())) return false;
  settings->setPicturesFolder(settings->legacyFolder());
  settings->setMoviesFolder(settings->legacyFolder());
  return true;
}
