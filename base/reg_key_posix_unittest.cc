// The Linux hive files: their text, hand-edited and damaged files, and
// writers in several processes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "base/file_util.h"
#include "base/reg_key.h"
#include "base/test_util.h"

namespace base {
namespace {

const char16_t kApp[] = u"Software\\Quillon Labs\\Lumora ZuvIridar for iPhone";

class RegFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(beginRegistryOverrideForTesting());
    file_ = registryHiveFile(RegRoot::kCurrentUser);
    ASSERT_FALSE(file_.empty());
  }
  void TearDown() override { endRegistryOverrideForTesting(); }

  std::string text() {
    std::string t;
    readFile(file_, &t);
    return t;
  }
  void writeText(const std::string& t) { ASSERT_TRUE(writeFileAtomic(file_, t)); }

  string16 file_;
};

TEST_F(RegFileTest, WritesTheEditorsExportFormat) {
  RegKey app, acl, phone;
  ASSERT_EQ(kRegOk, app.create(RegRoot::kCurrentUser, kApp));
  ASSERT_EQ(kRegOk, app.writeValue(u"MoviesFolder", u"/home/me/Videos \"new\"\\x"));
  ASSERT_EQ(kRegOk, app.writeValueDW(u"Port", 0x1f90));
  ASSERT_EQ(kRegOk, app.writeValueQW(u"LastUpdateCheckTime", 0x01d2a3b4c5d6e7f8ull));
  ASSERT_EQ(kRegOk, app.createSubkey(u"ACL", &acl));
  ASSERT_EQ(kRegOk, acl.createSubkey(u"00008030-001A", &phone));
  ASSERT_EQ(kRegOk, phone.writeValue(u"Name", u"Ann\u2019s phone"));
  ASSERT_EQ(kRegOk, phone.writeValueDW(u"Status", 1));

  EXPECT_EQ(
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\Software]\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\Software\\Quillon Labs]\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\Software\\Quillon Labs\\Lumora ZuvIridar for iPhone]\r\n"
      "\"MoviesFolder\"=\"/home/me/Videos \\\"new\\\"\\\\x\"\r\n"
      "\"Port\"=dword:00001f90\r\n"
      "\"LastUpdateCheckTime\"=hex(b):f8,e7,d6,c5,b4,a3,d2,01\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\Software\\Quillon Labs\\Lumora ZuvIridar for iPhone\\ACL]\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\Software\\Quillon Labs\\Lumora ZuvIridar for iPhone\\ACL\\00008030-001A]\r\n"
      "\"Name\"=\"Ann\xE2\x80\x99s phone\"\r\n"
      "\"Status\"=dword:00000001\r\n"
      "\r\n",
      text());
}

TEST_F(RegFileTest, StringsThatCannotBeQuotedAndLongDataUseHex) {
  RegKey app;
  ASSERT_EQ(kRegOk, app.create(RegRoot::kCurrentUser, kApp));
  ASSERT_EQ(kRegOk, app.writeValue(u"Lines", u"a\nb"));
  ASSERT_EQ(kRegOk, app.writeRawValue(u"Blob", kRegBinary, std::string(40, '\x5a')));
  const std::string t = text();
  EXPECT_NE(std::string::npos, t.find("\"Lines\"=hex(1):61,00,0a,00,62,00,00,00\r\n"));
  // Long data continues on indented lines after a backslash.
  EXPECT_NE(std::string::npos, t.find(",\\\r\n  5a,"));

  // Another process's view (a fresh parse) gets the same values back.
  writeText(t);
  string16 lines;
  uint32_t type = 0;
  std::string blob;
  EXPECT_EQ(kRegOk, app.readValue(u"Lines", &lines));
  EXPECT_EQ(u"a\nb", lines);
  EXPECT_EQ(kRegOk, app.readRawValue(u"Blob", &type, &blob));
  EXPECT_EQ(kRegBinary, type);
  EXPECT_EQ(std::string(40, '\x5a'), blob);
}

TEST_F(RegFileTest, ReadsHandWrittenFilesInEveryEncoding) {
  const std::string body =
      "[HKEY_CURRENT_USER\\SOFTWARE\\quillon labs\\Lumora ZuvIridar for iPhone]\n"
      "; the port the phone connects to\n"
      "\"Port\"=dword:1F90\n"
      "  \"Version\" = \"2.2.0.0\"  \n"
      "@=\"default\"\n"
      "\"Folder\"=\"C:\\\\Users\\\\\xC3\xA9\"\n"
      "\"Time\"=hex(b):01,02,03,04,\\\n"
      "    05,06,07,08\n";
  const std::string variants[] = {
      "Windows Registry Editor Version 5.00\n\n" + body,
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n" + body,
  };
  for (const std::string& variant : variants) {
    writeText(variant);
    RegKey app;
    ASSERT_EQ(kRegOk, app.open(RegRoot::kCurrentUser, kApp));
    uint32_t port = 0;
    uint64_t time = 0;
    string16 s;
    EXPECT_EQ(kRegOk, app.readValueDW(u"Port", &port));
    EXPECT_EQ(8080u, port);
    EXPECT_EQ(kRegOk, app.readValue(u"version", &s));
    EXPECT_EQ(u"2.2.0.0", s);
    EXPECT_EQ(kRegOk, app.readValue(u"", &s));
    EXPECT_EQ(u"default", s);
    EXPECT_EQ(kRegOk, app.readValue(u"Folder", &s));
    EXPECT_EQ(u"C:\\Users\\\u00e9", s);
    EXPECT_EQ(kRegOk, app.readValueQW(u"Time", &time));
    EXPECT_EQ(0x0807060504030201ull, time);
  }

  // The Windows editor's own form: UTF-16 LE with a byte-order mark, CRLF.
  const std::string utf8 = "Windows Registry Editor Version 5.00\r\n\r\n" + body;
  const string16 wide = utf8ToWide(utf8);
  std::string utf16 = "\xFF\xFE";
  for (char16_t c : wide) {
    utf16.push_back(static_cast<char>(c & 0xFF));
    utf16.push_back(static_cast<char>(c >> 8));
  }
  writeText(utf16);
  RegKey app;
  ASSERT_EQ(kRegOk, app.open(RegRoot::kCurrentUser, kApp));
  string16 s;
  EXPECT_EQ(kRegOk, app.readValue(u"Folder", &s));
  EXPECT_EQ(u"C:\\Users\\\u00e9", s);

  // The first write turns it into UTF-8 text and keeps every value.
  ASSERT_EQ(kRegOk, app.writeValueDW(u"Extra", 1));
  EXPECT_EQ(0, text().compare(0, 36, "Windows Registry Editor Version 5.00"));
  uint32_t port = 0;
  EXPECT_EQ(kRegOk, app.readValueDW(u"Port", &port));
  EXPECT_EQ(8080u, port);
  EXPECT_FALSE(pathExists(file_ + u".damaged"));
}

TEST_F(RegFileTest, DamagedFileIsReadAsFarAsValidAndKeptAside) {
  const std::string damaged =
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "[HKEY_CURRENT_USER\\Software\\Quillon Labs\\Lumora ZuvIridar for iPhone]\n"
      "\"Port\"=dword:00000050\n"
      "\"Broken\"=dword:xyz\n"
      "\"Unterminated=\"a\"\n"
      "garbage line\n"
      "\"Mirror\"=dword:00000001\n"
      "[HKEY_CLASSES_ROOT\\Elsewhere]\n"
      "\"Lost\"=\"value of a key outside this hive\"\n"
      "[HKEY_CURRENT_USER\\Software\\Quillon Labs\\Lumora ZuvIridar for iPhone\\ACL\\id1]\n"
      "\"Status\"=dword:00000001\n"
      "\"Bad\xFF\"=\"latin-1 byte\"\n";
  writeText(damaged);

  RegKey app;
  ASSERT_EQ(kRegOk, app.open(RegRoot::kCurrentUser, kApp));
  uint32_t v = 0;
  EXPECT_EQ(kRegOk, app.readValueDW(u"Port", &v));
  EXPECT_EQ(80u, v);
  EXPECT_EQ(kRegOk, app.readValueDW(u"Mirror", &v));
  EXPECT_EQ(1u, v);
  EXPECT_FALSE(app.hasValue(u"Broken"));
  RegKey entry;
  ASSERT_EQ(kRegOk, app.openSubkey(u"ACL\\id1", &entry));
  EXPECT_EQ(kRegOk, entry.readValueDW(u"Status", &v));

  // Reading never touches the file.
  EXPECT_EQ(damaged, text());

  // The first write keeps the original beside the new file.
  ASSERT_EQ(kRegOk, app.writeValueDW(u"Port", 81));
  std::string kept;
  ASSERT_TRUE(readFile(file_ + u".damaged", &kept));
  EXPECT_EQ(damaged, kept);
  const std::string rewritten = text();
  EXPECT_NE(std::string::npos, rewritten.find("\"Mirror\"=dword:00000001"));
  EXPECT_NE(std::string::npos, rewritten.find("\"Port\"=dword:00000051"));
  EXPECT_EQ(std::string::npos, rewritten.find("garbage"));

  // A clean file is not copied again; a second damage gets a copy of its own.
  ASSERT_EQ(kRegOk, app.writeValueDW(u"Port", 82));
  EXPECT_FALSE(pathExists(file_ + u".damaged-1"));
  writeText(rewritten + "junk\n");
  ASSERT_EQ(kRegOk, app.writeValueDW(u"Port", 83));
  EXPECT_TRUE(pathExists(file_ + u".damaged-1"));
}

TEST_F(RegFileTest, FilesThatAreNotHivesAtAll) {
  // Binary noise: nothing is read, the key is simply missing.
  writeText(std::string("\x00\x01\x02\xFF\xFE\x00garbage", 14));
  RegKey app;
  EXPECT_EQ(kRegNotFound, app.open(RegRoot::kCurrentUser, kApp));
  ASSERT_EQ(kRegOk, app.create(RegRoot::kCurrentUser, kApp));
  EXPECT_TRUE(pathExists(file_ + u".damaged"));

  // An empty file is an empty hive, not a damaged one.
  endRegistryOverrideForTesting();
  ASSERT_TRUE(beginRegistryOverrideForTesting());
  file_ = registryHiveFile(RegRoot::kCurrentUser);
  writeText("");
  ASSERT_EQ(kRegOk, app.create(RegRoot::kCurrentUser, kApp));
  EXPECT_FALSE(pathExists(file_ + u".damaged"));
}

TEST_F(RegFileTest, SeesChangesOfOtherWriters) {
  RegKey app;
  ASSERT_EQ(kRegOk, app.create(RegRoot::kCurrentUser, kApp));
  ASSERT_EQ(kRegOk, app.writeValueDW(u"Port", 1));
  // The user edits the file by hand while the key is open.
  std::string t = text();
  t.replace(t.find("dword:00000001"), 14, "dword:00000002");
  t += "\r\n\"Mine\"=\"x\"\r\n";
  writeText(t);
  uint32_t port = 0;
  EXPECT_EQ(kRegOk, app.readValueDW(u"Port", &port));
  EXPECT_EQ(2u, port);
  // A write of this process keeps the other writer's value.
  ASSERT_EQ(kRegOk, app.writeValueDW(u"Other", 3));
  EXPECT_NE(std::string::npos, text().find("\"Mine\"=\"x\""));
}

TEST_F(RegFileTest, ProcessesWritingAtOnceLoseNothing) {
  RegKey app;
  ASSERT_EQ(kRegOk, app.create(RegRoot::kCurrentUser, kApp));
  constexpr int kWriters = 3;
  constexpr int kValuesEach = 40;
  pid_t children[kWriters];
  for (int w = 0; w < kWriters; ++w) {
    children[w] = ::fork();
    ASSERT_GE(children[w], 0);
    if (children[w] == 0) {
      RegKey key;
      int failures = key.open(RegRoot::kCurrentUser, kApp) == kRegOk ? 0 : 1;
      for (int i = 0; i < kValuesEach; ++i)
        failures += key.writeValueDW(asciiToWide(stringPrintf("w%d-%d", w, i)), i) != kRegOk;
      ::_exit(failures == 0 ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(child, ::waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(static_cast<size_t>(kWriters * kValuesEach), app.valueNames().size());
}

TEST_F(RegFileTest, GroupedWritesReachTheFileTogether) {
  RegKey app;
  ASSERT_EQ(kRegOk, app.create(RegRoot::kCurrentUser, kApp));
  const std::string before = text();
  {
    RegWriteGroup group(RegRoot::kCurrentUser);
    RegKey acl, entry;
    ASSERT_EQ(kRegOk, app.writeValueDW(u"Port", 5));
    ASSERT_EQ(kRegOk, app.createSubkey(u"ACL\\one", &entry));
    ASSERT_EQ(kRegOk, entry.writeValue(u"Name", u"x"));
    {
      RegWriteGroup inner(RegRoot::kCurrentUser);
      ASSERT_EQ(kRegOk, app.writeValueDW(u"Mirror", 1));
      EXPECT_TRUE(inner.commit());  // only the outermost group writes
    }
    // Seen here at once, in the file only at the end.
    uint32_t port = 0;
    EXPECT_EQ(kRegOk, app.readValueDW(u"Port", &port));
    EXPECT_EQ(5u, port);
    EXPECT_EQ(before, text());
  }
  const std::string after = text();
  EXPECT_NE(std::string::npos, after.find("\"Port\"=dword:00000005"));
  EXPECT_NE(std::string::npos, after.find("\"Mirror\"=dword:00000001"));
  EXPECT_NE(std::string::npos, after.find("ACL\\one]\r\n\"Name\"=\"x\""));

  // Another process's writes wait for the group and are kept. (The child
  // is forked before the group: a fork must not copy a held lock.)
  int go[2];
  ASSERT_EQ(0, ::pipe(go));
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char c;
    const bool started = ::read(go[0], &c, 1) == 1;
    RegKey key;
    const bool ok = started && key.open(RegRoot::kCurrentUser, kApp) == kRegOk &&
                    key.writeValueDW(u"Theirs", 2) == kRegOk;
    ::_exit(ok ? 0 : 1);
  }
  {
    RegWriteGroup group(RegRoot::kCurrentUser);
    ASSERT_EQ(kRegOk, app.writeValueDW(u"Mine", 1));
    ASSERT_EQ(1, ::write(go[1], "g", 1));
    ::usleep(100 * 1000);
    // The child waits for the file the group holds.
    EXPECT_EQ(0, ::waitpid(child, nullptr, WNOHANG));
  }
  int status = 0;
  ASSERT_EQ(child, ::waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ::close(go[0]);
  ::close(go[1]);
  EXPECT_TRUE(app.hasValue(u"Mine"));
  EXPECT_TRUE(app.hasValue(u"Theirs"));
}

TEST_F(RegFileTest, DefaultLocationFollowsXdgConfigHome) {
  endRegistryOverrideForTesting();
  const char* old = ::getenv("XDG_CONFIG_HOME");
  const std::string saved = old ? old : "";
  ::setenv("XDG_CONFIG_HOME", "/nowhere/config", 1);
  EXPECT_EQ(u"/nowhere/config/quillon-labs/registry/HKEY_CURRENT_USER.reg",
            registryHiveFile(RegRoot::kCurrentUser));
  EXPECT_EQ(u"/nowhere/config/quillon-labs/registry/HKEY_LOCAL_MACHINE.reg",
            registryHiveFile(RegRoot::kLocalMachine));
  ::setenv("XDG_CONFIG_HOME", "relative/is/ignored", 1);
  const std::string home = ::getenv("HOME") ? ::getenv("HOME") : "";
  if (!home.empty()) {
    EXPECT_EQ(utf8ToWide(home + "/.config/quillon-labs/registry/HKEY_CURRENT_USER.reg"),
              registryHiveFile(RegRoot::kCurrentUser));
  }
  if (old) ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace base
