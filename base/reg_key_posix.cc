// Linux side of the registry: a hive is a text file in the registry editor's
// export format ("Windows Registry Editor Version 5.00", [key] sections,
// "Name"="text", dword:, hex(N): lines). Each process keeps the parsed tree
// of every hive it touched and re-reads the file whenever another process
// (or the user's editor) changed it. A write takes the hive's lock file,
// re-reads, applies the change and replaces the file with rename(), so two
// processes never lose each other's writes and a reader never sees half a
// file. Writes are not synced one by one (the Windows registry is not
// either); flush() syncs.
#include "base/reg_key.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "base/file_util.h"
#include "base/logging.h"
#include "base/reg_key_internal.h"

namespace base {
namespace {

constexpr char kHeader5[] = "Windows Registry Editor Version 5.00";
constexpr char kHeader4[] = "REGEDIT4";
constexpr size_t kMaxProblemsLogged = 10;
constexpr size_t kHexLineBytes = 76;  // wrap hex data like the editor does
constexpr int kMaxBackups = 100;
// A hive is small; a bigger file is not a hive and is refused, not read.
constexpr off_t kMaxHiveBytes = 64 << 20;

// ---------------------------------------------------------------------------
// The tree of one hive.

struct Value {
  string16 name;
  uint32_t type = kRegNone;
  std::string data;
};

struct Node {
  string16 name;
  std::vector<Value> values;
  std::vector<std::unique_ptr<Node>> children;

  Node* child(const string16& n) const {
    for (const auto& c : children)
      if (equalsIgnoreCase(c->name, n)) return c.get();
    return nullptr;
  }
  Node* addChild(const string16& n) {
    if (Node* existing = child(n)) return existing;
    children.push_back(std::make_unique<Node>());
    children.back()->name = n;
    return children.back().get();
  }
  bool removeChild(const string16& n) {
    for (auto it = children.begin(); it != children.end(); ++it) {
      if (equalsIgnoreCase((*it)->name, n)) {
        children.erase(it);
        return true;
      }
    }
    return false;
  }
  Value* value(const string16& n) {
    for (auto& v : values)
      if (equalsIgnoreCase(v.name, n)) return &v;
    return nullptr;
  }
  // True when something changed.
  bool setValue(const string16& n, uint32_t type, const std::string& data) {
    if (Value* v = value(n)) {
      if (v->type == type && v->data == data) return false;
      v->type = type;
      v->data = data;
      return true;
    }
    values.push_back(Value{n, type, data});
    return true;
  }
  bool removeValue(const string16& n) {
    for (auto it = values.begin(); it != values.end(); ++it) {
      if (equalsIgnoreCase(it->name, n)) {
        values.erase(it);
        return true;
      }
    }
    return false;
  }
};

using Path = std::vector<string16>;

// Splits "A\\B\\C"; empty parts (doubled or trailing backslashes) are left out.
Path splitPath(const string16& path) {
  Path out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == string16::npos) end = path.size();
    if (end > start) out.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// Control characters would break the line structure of the file.
bool validName(const string16& name) {
  for (char16_t c : name)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

bool validPath(const Path& path) {
  for (const auto& part : path)
    if (!validName(part) || part.size() > 255) return false;
  return true;
}

Node* findNode(Node* root, const Path& path) {
  Node* node = root;
  for (const auto& part : path) {
    node = node->child(part);
    if (!node) return nullptr;
  }
  return node;
}

// ---------------------------------------------------------------------------
// Reading the export text.

bool isHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

bool validUtf8(const std::string& s) { return wideToUtf8(utf8ToWide(s)) == s; }

// The file as UTF-8: UTF-16 LE with its byte-order mark (what the Windows
// editor writes) or UTF-8 with or without one. False for text that is not
// valid in its encoding as a whole; `out` then holds what could be decoded.
bool decodeText(const std::string& raw, std::string* out, std::string* problem) {
  if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF &&
      static_cast<unsigned char>(raw[1]) == 0xFE) {
    string16 wide;
    wide.reserve(raw.size() / 2);
    for (size_t i = 2; i + 1 < raw.size(); i += 2) {
      wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(raw[i]) |
                                           (static_cast<unsigned char>(raw[i + 1]) << 8)));
    }
    *out = wideToUtf8(wide);
    if (raw.size() % 2 != 0) {
      *problem = "odd number of bytes in UTF-16 text";
      return false;
    }
    return true;
  }
  if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    *out = raw.substr(3);
  } else {
    *out = raw;
  }
  return true;
}

// Reads a quoted name or string starting at s[*pos] == '"'; the registry
// editor escapes only backslash and quote. Moves *pos past the closing quote.
bool readQuoted(const std::string& s, size_t* pos, std::string* out) {
  out->clear();
  size_t i = *pos + 1;
  while (i < s.size()) {
    const char c = s[i];
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
      out->push_back(s[i + 1]);
      i += 2;
      continue;
    }
    out->push_back(c);
    ++i;
  }
  return false;
}

// "xx,xx,..." (a trailing comma and blanks around the bytes are tolerated).
bool parseHexBytes(const std::string& text, std::string* out) {
  out->clear();
  std::string rest = trim(text);
  if (rest.empty()) return true;
  if (rest.back() == ',') rest.pop_back();
  size_t start = 0;
  for (;;) {
    size_t comma = rest.find(',', start);
    if (comma == std::string::npos) comma = rest.size();
    const std::string token = trim(rest.substr(start, comma - start));
    if (token.empty() || token.size() > 2 || !isHexDigit(token[0]) ||
        (token.size() == 2 && !isHexDigit(token[1]))) {
      return false;
    }
    int v = 0;
    for (char c : token) v = v * 16 + hexValue(c);
    out->push_back(static_cast<char>(v));
    if (comma == rest.size()) return true;
    start = comma + 1;
  }
}

// One "name"=data line. `error` says what was wrong when false.
bool parseValueLine(const std::string& line, bool* remove, Value* value, std::string* error) {
  size_t pos = 0;
  std::string name;
  if (line[0] == '@') {
    pos = 1;
  } else if (!readQuoted(line, &pos, &name)) {
    *error = "unterminated value name";
    return false;
  }
  while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
  if (pos >= line.size() || line[pos] != '=') {
    *error = "'=' expected after the value name";
    return false;
  }
  ++pos;
  while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
  const std::string data = line.substr(pos);
  value->name = utf8ToWide(name);
  *remove = false;
  if (data == "-") {
    *remove = true;
    return true;
  }
  if (!data.empty() && data[0] == '"') {
    size_t p = 0;
    std::string text;
    if (!readQuoted(data, &p, &text) || !trim(data.substr(p)).empty()) {
      *error = "malformed string data";
      return false;
    }
    value->type = kRegSz;
    value->data = internal::regStringBytes(utf8ToWide(text));
    return true;
  }
  if (data.compare(0, 6, "dword:") == 0) {
    const std::string digits = trim(data.substr(6));
    if (digits.empty() || digits.size() > 8) {
      *error = "malformed dword data";
      return false;
    }
    uint32_t v = 0;
    for (char c : digits) {
      if (!isHexDigit(c)) {
        *error = "malformed dword data";
        return false;
      }
      v = v * 16 + static_cast<uint32_t>(hexValue(c));
    }
    value->type = kRegDword;
    value->data = internal::regLittleEndian(v, 4);
    return true;
  }
  if (data.compare(0, 3, "hex") == 0) {
    size_t p = 3;
    uint32_t type = kRegBinary;
    if (p < data.size() && data[p] == '(') {
      const size_t close = data.find(')', p);
      if (close == std::string::npos || close == p + 1 || close > p + 9) {
        *error = "malformed hex type";
        return false;
      }
      type = 0;
      for (size_t i = p + 1; i < close; ++i) {
        if (!isHexDigit(data[i])) {
          *error = "malformed hex type";
          return false;
        }
        type = type * 16 + static_cast<uint32_t>(hexValue(data[i]));
      }
      p = close + 1;
    }
    if (p >= data.size() || data[p] != ':') {
      *error = "':' expected after hex";
      return false;
    }
    if (!parseHexBytes(data.substr(p + 1), &value->data)) {
      *error = "malformed hex bytes";
      return false;
    }
    value->type = type;
    return true;
  }
  *error = "unknown value data";
  return false;
}

// Parses a whole hive file into `root`. Lines that cannot be understood are
// skipped and described in `problems`; everything valid is kept.
void parseHive(const std::string& raw, const string16& rootName, Node* root,
               std::vector<std::string>* problems) {
  std::string text, problem;
  if (!decodeText(raw, &text, &problem)) problems->push_back(problem);

  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }

  bool headerSeen = false;
  Node* current = nullptr;
  bool sectionBroken = false;  // the values of a bad section are dropped too
  for (size_t i = 0; i < lines.size(); ++i) {
    const size_t lineNo = i + 1;
    std::string line = trim(lines[i]);
    // Hex data continues on the next line after a trailing backslash.
    while (!line.empty() && line.back() == '\\' && line[0] != '[' && i + 1 < lines.size()) {
      line.pop_back();
      line += trim(lines[++i]);
    }
    if (line.empty() || line[0] == ';') continue;
    auto report = [&](const std::string& what) {
      problems->push_back(stringPrintf("line %zu: %s", lineNo, what.c_str()));
    };
    if (!validUtf8(line)) {
      report("text is not valid UTF-8");
      continue;
    }
    if (!headerSeen) {
      headerSeen = true;
      if (line == kHeader5 || line == kHeader4) continue;
      report("missing \"Windows Registry Editor Version 5.00\" header");
    }
    if (line[0] == '[') {
      const size_t close = line.rfind(']');
      sectionBroken = true;
      current = nullptr;
      if (close == std::string::npos || close == 1 || !trim(line.substr(close + 1)).empty()) {
        report("malformed key line");
        continue;
      }
      std::string inner = line.substr(1, close - 1);
      const bool removeKey = inner[0] == '-';
      if (removeKey) inner.erase(0, 1);
      const string16 full = utf8ToWide(inner);
      const size_t slash = full.find(u'\\');
      const string16 first = full.substr(0, slash);
      if (!equalsIgnoreCase(first, rootName)) {
        report("key outside " + wideToUtf8(rootName));
        continue;
      }
      const Path path = slash == string16::npos ? Path() : splitPath(full.substr(slash + 1));
      if (!validPath(path)) {
        report("invalid key name");
        continue;
      }
      if (removeKey) {
        if (!path.empty()) {
          Path parentPath(path.begin(), path.end() - 1);
          if (Node* parent = findNode(root, parentPath)) parent->removeChild(path.back());
        }
        continue;
      }
      current = root;
      for (const auto& part : path) current = current->addChild(part);
      sectionBroken = false;
      continue;
    }
    if (line[0] == '"' || line[0] == '@') {
      if (!current) {
        if (!sectionBroken) report("value outside of any key");
        continue;
      }
      Value value;
      bool remove = false;
      std::string error;
      if (!parseValueLine(line, &remove, &value, &error)) {
        report(error);
        continue;
      }
      if (remove) {
        current->removeValue(value.name);
      } else {
        current->setValue(value.name, value.type, value.data);
      }
      continue;
    }
    report("unrecognised line");
  }
  if (!headerSeen && !raw.empty()) problems->push_back("no content");
}

// ---------------------------------------------------------------------------
// Writing the export text.

std::string quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

// The text of a REG_SZ value when it can be shown as "text": even length,
// one terminating NUL, no other NUL, no line breaks, no broken surrogates.
bool plainString(const std::string& data, std::string* utf8) {
  if (data.size() < 2 || data.size() % 2 != 0) return false;
  string16 wide;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(data[i]) |
                                         (static_cast<unsigned char>(data[i + 1]) << 8)));
  }
  if (wide.back() != 0) return false;
  wide.pop_back();
  for (size_t i = 0; i < wide.size(); ++i) {
    const char16_t c = wide[i];
    if (c == 0 || c == u'\r' || c == u'\n') return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= wide.size() || wide[i + 1] < 0xDC00 || wide[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  *utf8 = wideToUtf8(wide);
  return true;
}

void appendValue(const Value& v, std::string* out) {
  std::string line = v.name.empty() ? "@" : quote(wideToUtf8(v.name));
  line += '=';
  std::string text;
  if (v.type == kRegSz && plainString(v.data, &text)) {
    *out += line + quote(text) + "\r\n";
    return;
  }
  if (v.type == kRegDword && v.data.size() == 4) {
    const auto dword = static_cast<uint32_t>(internal::regFromLittleEndian(v.data));
    *out += line + stringPrintf("dword:%08x", dword) + "\r\n";
    return;
  }
  line += v.type == kRegBinary ? std::string("hex:") : stringPrintf("hex(%x):", v.type);
  for (size_t i = 0; i < v.data.size(); ++i) {
    line += stringPrintf("%02x", static_cast<unsigned char>(v.data[i]));
    if (i + 1 < v.data.size()) {
      line += ',';
      if (line.size() >= kHexLineBytes) {
        *out += line + "\\\r\n";
        line = "  ";
      }
    }
  }
  *out += line + "\r\n";
}

void appendNode(const Node& node, const std::string& path, bool isRoot, std::string* out) {
  if (!isRoot || !node.values.empty()) {
    *out += "[" + path + "]\r\n";
    for (const auto& v : node.values) appendValue(v, out);
    *out += "\r\n";
  }
  for (const auto& c : node.children) appendNode(*c, path + "\\" + wideToUtf8(c->name), false, out);
}

std::string formatHive(const Node& root, const string16& rootName) {
  std::string out = std::string(kHeader5) + "\r\n\r\n";
  appendNode(root, wideToUtf8(rootName), true, &out);
  return out;
}

// ---------------------------------------------------------------------------
// Files.

std::string configHome() {
  const char* xdg = ::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  const char* home = ::getenv("HOME");
  std::string h = home && *home ? home : "";
  if (h.empty()) {
    if (const passwd* pw = ::getpwuid(::getuid())) h = pw->pw_dir ? pw->pw_dir : "";
  }
  return h + "/.config";
}

// Never destroyed, so that they still work from exit handlers.
std::mutex& overrideMutex() {
  static auto* mu = new std::mutex();
  return *mu;
}
std::string& overrideFolder() {
  static auto* folder = new std::string();
  return *folder;
}

std::string hiveFile(RegRoot root) {
  const std::string name = wideToUtf8(regRootName(root)) + ".reg";
  {
    std::lock_guard<std::mutex> lock(overrideMutex());
    const std::string& folder = overrideFolder();
    if (!folder.empty()) return folder + "/" + name;
  }
  return configHome() + "/quillon-labs/registry/" + name;
}

// Writes through a temporary file and rename().
bool replaceFile(const std::string& path, const std::string& contents) {
  std::string tmp = path + ".XXXXXX";
  const int fd = ::mkstemp(&tmp[0]);
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = ::fchmod(fd, 0600) == 0;
  while (ok && done < contents.size()) {
    const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<size_t>(n);
  }
  ok = (::close(fd) == 0) && ok;
  if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

// The lock that orders the writers of one hive across processes.
class HiveLock {
 public:
  explicit HiveLock(const std::string& hivePath) {
    fd_ = ::open((hivePath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~HiveLock() {
    if (fd_ >= 0) ::close(fd_);  // releases the lock
  }
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

class Hive {
 public:
  Hive(std::string path, RegRoot root) : path_(std::move(path)), rootName_(regRootName(root)) {}

  std::recursive_mutex& mutex() { return mu_; }
  const std::string& path() const { return path_; }

  // A write group of one thread, which holds mutex() all the while.
  int groupDepth = 0;
  bool groupDirty = false;
  std::unique_ptr<HiveLock> groupLock;

  // Brings the tree up to date with the file. kRegOk or kRegCantRead. The
  // file is read every time (it is small): file times are too coarse, and
  // inode numbers come back too soon, to tell a new file from the old one.
  int32_t refresh() {
    struct stat st;
    bool exists = ::stat(path_.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) return fail(errno, "Can't look at the registry file ");
    if (exists && st.st_size > kMaxHiveBytes) {
      LOG(ERROR) << "The registry file " << path_ << " is too large (" << st.st_size
                 << " bytes); it is not read";
      loaded_ = false;
      return kRegCantRead;
    }
    std::string raw;
    if (exists && !readFile(utf8ToWide(path_), &raw)) {
      if (errno != ENOENT) return fail(errno, "Can't read the registry file ");
      exists = false;
    }
    if (loaded_ && exists == exists_ && raw == raw_) return kRegOk;
    auto tree = std::make_unique<Node>();
    damaged_ = false;
    if (exists) {
      std::vector<std::string> problems;
      parseHive(raw, rootName_, tree.get(), &problems);
      if (!problems.empty()) {
        damaged_ = true;
        LOG(ERROR) << "The registry file " << path_ << " is damaged (" << problems.size()
                   << " problem(s)); reading what is valid";
        for (size_t i = 0; i < problems.size() && i < kMaxProblemsLogged; ++i)
          LOG(ERROR) << "  " << path_ << ", " << problems[i];
      }
    }
    root_ = std::move(tree);
    raw_ = std::move(raw);
    exists_ = exists;
    loaded_ = true;
    return kRegOk;
  }

  Node* root() { return root_.get(); }

  // Writes the tree; the caller holds the HiveLock.
  int32_t store() {
    const std::string dir = path_.substr(0, path_.rfind('/'));
    if (!createDirectories(utf8ToWide(dir))) return writeFailed();
    if (damaged_ && exists_ && !keepDamagedCopy()) return writeFailed();
    std::string text = formatHive(*root_, rootName_);
    if (!replaceFile(path_, text)) return writeFailed();
    damaged_ = false;
    raw_ = std::move(text);
    exists_ = true;
    return kRegOk;
  }

  // After a failed write the tree no longer matches the file.
  void forget() { loaded_ = false; }

  int32_t sync() {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? kRegOk : kRegCantWrite;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok ? kRegOk : kRegCantWrite;
  }

 private:
  int32_t fail(int err, const char* what) {
    LOG(ERROR) << what << path_ << ": " << std::strerror(err);
    loaded_ = false;
    return kRegCantRead;
  }
  int32_t writeFailed() {
    LOG(ERROR) << "Can't write the registry file " << path_ << ": " << std::strerror(errno);
    loaded_ = false;
    return kRegCantWrite;
  }
  // The damaged original stays beside the file under a name of its own, so
  // the lines that could not be read are not lost by the rewrite.
  bool keepDamagedCopy() {
    for (int n = 0; n < kMaxBackups; ++n) {
      const std::string copy = path_ + (n == 0 ? std::string(".damaged") : stringPrintf(".damaged-%d", n));
      if (::link(path_.c_str(), copy.c_str()) == 0) {
        LOG(WARNING) << "The damaged registry file was kept as " << copy;
        return true;
      }
      if (errno != EEXIST) break;
    }
    LOG(ERROR) << "Can't keep a copy of the damaged registry file " << path_
               << "; it is left as it is";
    return false;
  }

  std::recursive_mutex mu_;
  const std::string path_;
  const string16 rootName_;
  std::unique_ptr<Node> root_;
  std::string raw_;  // the file as last read or written
  bool exists_ = false;
  bool loaded_ = false;
  bool damaged_ = false;
};

// The lock of a hive about to be written (its folder made first), or null.
std::unique_ptr<HiveLock> lockForWriting(const std::string& file) {
  const std::string dir = file.substr(0, file.rfind('/'));
  if (!createDirectories(utf8ToWide(dir))) {
    LOG(ERROR) << "Can't create the registry folder " << dir;
    return nullptr;
  }
  auto lock = std::make_unique<HiveLock>(file);
  if (!lock->held()) {
    LOG(ERROR) << "Can't lock the registry file " << file << ": " << std::strerror(errno);
    return nullptr;
  }
  return lock;
}

Hive& hiveAt(const std::string& path, RegRoot root) {
  // Never destroyed: keys may still be used while the process exits.
  static auto* mu = new std::mutex();
  static auto* hives = new std::map<std::string, std::unique_ptr<Hive>>();
  std::lock_guard<std::mutex> lock(*mu);
  auto& slot = (*hives)[path];
  if (!slot) slot = std::make_unique<Hive>(path, root);
  return *slot;
}

}  // namespace

const char16_t* regRootName(RegRoot root) {
  return root == RegRoot::kLocalMachine ? u"HKEY_LOCAL_MACHINE" : u"HKEY_CURRENT_USER";
}

string16 registryHiveFile(RegRoot root) { return utf8ToWide(hiveFile(root)); }

bool beginRegistryOverrideForTesting() {
  endRegistryOverrideForTesting();
  std::string folder = wideToUtf8(tempDirectory()) + "/registry-test-XXXXXX";
  if (!::mkdtemp(&folder[0])) return false;
  std::lock_guard<std::mutex> lock(overrideMutex());
  overrideFolder() = folder;
  return true;
}

void endRegistryOverrideForTesting() {
  std::string folder;
  {
    std::lock_guard<std::mutex> lock(overrideMutex());
    folder.swap(overrideFolder());
  }
  if (folder.empty()) return;
  const string16 dir = utf8ToWide(folder);
  for (const string16& name : listDirectory(dir)) deleteFile(joinPath(dir, name));
  removeEmptyDirectory(dir);
}

struct RegKey::Impl {
  RegRoot root = RegRoot::kCurrentUser;
  std::string file;
  Path path;

  // Runs `op` on this key's node with the hive up to date. A writing op
  // reports through *changed; the file is then rewritten under the lock.
  template <typename Op>
  int32_t run(bool write, Op op) const {
    Hive& hive = hiveAt(file, root);
    std::lock_guard<std::recursive_mutex> guard(hive.mutex());
    const bool grouped = hive.groupDepth > 0;
    std::unique_ptr<HiveLock> lock;
    if (write) {
      if (grouped && !hive.groupLock) return kRegCantWrite;
      if (!grouped && !(lock = lockForWriting(file))) return kRegCantWrite;
    }
    const int32_t loaded = hive.refresh();
    if (loaded != kRegOk) return loaded;
    bool changed = false;
    const int32_t result = op(hive.root(), &changed);
    if (changed && grouped) {
      hive.groupDirty = true;  // written when the group ends
    } else if (changed) {
      const int32_t stored = hive.store();
      if (stored != kRegOk) {
        hive.forget();
        return stored;
      }
    }
    return result;
  }

  Node* node(Node* root) const { return findNode(root, path); }
};

RegKey::RegKey() = default;
RegKey::~RegKey() = default;
RegKey::RegKey(RegKey&& other) noexcept = default;
RegKey& RegKey::operator=(RegKey&& other) noexcept = default;

namespace {

// Opens `rel` below the key of `from` (with `create`, makes what is missing).
int32_t openBelow(const RegKey::Impl& from, const Path& rel, bool create,
                  std::unique_ptr<RegKey::Impl>* out) {
  if (!validPath(rel)) return kRegInvalidParameter;
  const int32_t result = from.run(create, [&](Node* tree, bool* changed) {
    Node* node = from.node(tree);
    if (!node) return kRegKeyDeleted;
    for (const auto& part : rel) {
      Node* next = node->child(part);
      if (!next) {
        if (!create) return kRegNotFound;
        next = node->addChild(part);
        *changed = true;
      }
      node = next;
    }
    return kRegOk;
  });
  if (result != kRegOk) return result;
  *out = std::make_unique<RegKey::Impl>(from);
  (*out)->path.insert((*out)->path.end(), rel.begin(), rel.end());
  return kRegOk;
}

RegKey::Impl rootOf(RegRoot root) {
  RegKey::Impl impl;
  impl.root = root;
  impl.file = hiveFile(root);
  return impl;
}

}  // namespace

int32_t RegKey::create(RegRoot root, const string16& path) {
  close();
  return openBelow(rootOf(root), splitPath(path), true, &impl_);
}

int32_t RegKey::open(RegRoot root, const string16& path) {
  close();
  return openBelow(rootOf(root), splitPath(path), false, &impl_);
}

int32_t RegKey::createSubkey(const string16& name, RegKey* child) const {
  if (!impl_) return kRegInvalidHandle;
  const Path rel = splitPath(name);
  if (rel.empty()) return kRegInvalidParameter;
  std::unique_ptr<Impl> opened;
  const int32_t result = openBelow(*impl_, rel, true, &opened);
  if (result == kRegOk) child->impl_ = std::move(opened);
  return result;
}

int32_t RegKey::openSubkey(const string16& name, RegKey* child) const {
  if (!impl_) return kRegInvalidHandle;
  const Path rel = splitPath(name);
  if (rel.empty()) return kRegInvalidParameter;
  std::unique_ptr<Impl> opened;
  const int32_t result = openBelow(*impl_, rel, false, &opened);
  if (result == kRegOk) child->impl_ = std::move(opened);
  return result;
}

void RegKey::close() { impl_.reset(); }

bool RegKey::valid() const { return impl_ != nullptr; }

int32_t RegKey::readRawValue(const string16& name, uint32_t* type, std::string* data) const {
  if (!impl_) return kRegInvalidHandle;
  const Impl* k = impl_.get();
  return impl_->run(false, [&](Node* tree, bool*) {
    Node* node = k->node(tree);
    if (!node) return kRegKeyDeleted;
    const Value* v = node->value(name);
    if (!v) return kRegNotFound;
    *type = v->type;
    *data = v->data;
    return kRegOk;
  });
}

int32_t RegKey::writeRawValue(const string16& name, uint32_t type, const std::string& data) {
  if (!impl_) return kRegInvalidHandle;
  if (!validName(name)) return kRegInvalidParameter;
  const Impl* k = impl_.get();
  return impl_->run(true, [&](Node* tree, bool* changed) {
    Node* node = k->node(tree);
    if (!node) return kRegKeyDeleted;
    *changed = node->setValue(name, type, data);
    return kRegOk;
  });
}

int32_t RegKey::deleteValue(const string16& name) {
  if (!impl_) return kRegInvalidHandle;
  const Impl* k = impl_.get();
  return impl_->run(true, [&](Node* tree, bool* changed) {
    Node* node = k->node(tree);
    if (!node) return kRegKeyDeleted;
    *changed = node->removeValue(name);
    return *changed ? kRegOk : kRegNotFound;
  });
}

int32_t RegKey::deleteSubtree(const string16& name) {
  if (!impl_) return kRegInvalidHandle;
  const Path rel = splitPath(name);
  if (rel.empty()) return kRegInvalidParameter;
  const Impl* k = impl_.get();
  return impl_->run(true, [&](Node* tree, bool* changed) {
    Node* node = k->node(tree);
    if (!node) return kRegKeyDeleted;
    Node* parent = findNode(node, Path(rel.begin(), rel.end() - 1));
    *changed = parent && parent->removeChild(rel.back());
    return *changed ? kRegOk : kRegNotFound;
  });
}

std::vector<string16> RegKey::subkeyNames() const {
  std::vector<string16> names;
  if (!impl_) return names;
  const Impl* k = impl_.get();
  impl_->run(false, [&](Node* tree, bool*) {
    if (Node* node = k->node(tree))
      for (const auto& c : node->children) names.push_back(c->name);
    return kRegOk;
  });
  return names;
}

std::vector<string16> RegKey::valueNames() const {
  std::vector<string16> names;
  if (!impl_) return names;
  const Impl* k = impl_.get();
  impl_->run(false, [&](Node* tree, bool*) {
    if (Node* node = k->node(tree))
      for (const auto& v : node->values) names.push_back(v.name);
    return kRegOk;
  });
  return names;
}

int32_t RegKey::flush() {
  if (!impl_) return kRegInvalidHandle;
  Hive& hive = hiveAt(impl_->file, impl_->root);
  std::lock_guard<std::recursive_mutex> guard(hive.mutex());
  return hive.sync();
}

struct RegWriteGroup::Impl {
  Hive* hive = nullptr;
  std::unique_lock<std::recursive_mutex> hold;
};

RegWriteGroup::RegWriteGroup(RegRoot root) : impl_(std::make_unique<Impl>()) {
  Hive& hive = hiveAt(hiveFile(root), root);
  impl_->hive = &hive;
  impl_->hold = std::unique_lock<std::recursive_mutex>(hive.mutex());
  if (hive.groupDepth++ == 0) {
    hive.groupDirty = false;
    hive.groupLock = lockForWriting(hive.path());
  }
}

RegWriteGroup::~RegWriteGroup() {
  commit();
  Hive& hive = *impl_->hive;
  if (--hive.groupDepth == 0) hive.groupLock.reset();
}

bool RegWriteGroup::commit() {
  Hive& hive = *impl_->hive;
  if (hive.groupDepth != 1 || !hive.groupDirty) return true;
  hive.groupDirty = false;
  if (hive.groupLock && hive.store() == kRegOk) return true;
  hive.forget();
  return false;
}

}  // namespace base
