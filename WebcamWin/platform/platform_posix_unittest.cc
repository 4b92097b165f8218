// The Linux shell: XDG folders and the instance socket.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "WebcamWin/platform/desktop.h"
#include "WebcamWin/platform/instance.h"
#include "base/file_util.h"
#include "base/test_util.h"

namespace {

// Sets environment variables for one test and puts the old values back.
class ScopedEnv {
 public:
  void set(const char* name, const std::string& value) {
    remember(name);
    ::setenv(name, value.c_str(), 1);
  }
  void unset(const char* name) {
    remember(name);
    ::unsetenv(name);
  }
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->had) ::setenv(it->name.c_str(), it->value.c_str(), 1);
      else ::unsetenv(it->name.c_str());
    }
  }

 private:
  struct Saved {
    std::string name, value;
    bool had;
  };
  void remember(const char* name) {
    const char* old = ::getenv(name);
    saved_.push_back({name, old ? old : "", old != nullptr});
  }
  std::vector<Saved> saved_;
};

class ShellPosixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = base::wideToUtf8(base::makeTempDirectory(u"shell"));
    env_.set("HOME", dir_ + "/home");
    env_.set("XDG_CONFIG_HOME", dir_ + "/config");
    env_.set("XDG_STATE_HOME", dir_ + "/state");
    env_.set("XDG_RUNTIME_DIR", dir_ + "/run");
  }
  void TearDown() override { base::removeTree(base::utf8ToWide(dir_)); }

  void writeUserDirs(const std::string& text) {
    ASSERT_TRUE(base::createDirectories(base::utf8ToWide(dir_ + "/config")));
    ASSERT_TRUE(base::writeFileAtomic(base::utf8ToWide(dir_ + "/config/user-dirs.dirs"), text));
  }
  std::string folder(shell::Folder which) { return base::wideToUtf8(shell::specialFolder(which)); }

  std::string dir_;
  ScopedEnv env_;
};

TEST_F(ShellPosixTest, FoldersWithoutUserDirsAreTheXdgDefaults) {
  EXPECT_EQ(dir_ + "/home/Pictures", folder(shell::Folder::kPictures));
  EXPECT_EQ(dir_ + "/home/Videos", folder(shell::Folder::kVideos));
  EXPECT_EQ(dir_ + "/home/Documents", folder(shell::Folder::kDocuments));
  EXPECT_EQ(dir_ + "/state/Quillon Labs/Lumora ZuvIridar for iPhone/logs",
            base::wideToUtf8(shell::logFolder()));
}

TEST_F(ShellPosixTest, FoldersFromUserDirs) {
  writeUserDirs(
      "# written by xdg-user-dirs-update\n"
      "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n"
      "XDG_VIDEOS_DIR=\"/media/films/\"\n"
      "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"
      "XDG_MUSIC_DIR=relative/ignored\n");
  EXPECT_EQ(dir_ + "/home/Bilder", folder(shell::Folder::kPictures));
  EXPECT_EQ("/media/films", folder(shell::Folder::kVideos));
  EXPECT_EQ(dir_ + "/home/Dokumente", folder(shell::Folder::kDocuments));

  // A folder set to the home folder, or not listed, is not in use.
  writeUserDirs("XDG_PICTURES_DIR=\"$HOME/\"\n");
  EXPECT_EQ("", folder(shell::Folder::kPictures));
  EXPECT_EQ("", folder(shell::Folder::kVideos));
  EXPECT_EQ(dir_ + "/home", folder(shell::Folder::kDocuments));
}

TEST_F(ShellPosixTest, RelativeXdgVariablesAreIgnored) {
  env_.set("XDG_STATE_HOME", "relative");
  EXPECT_EQ(dir_ + "/home/.local/state/Quillon Labs/Lumora ZuvIridar for iPhone/logs",
            base::wideToUtf8(shell::logFolder()));
}

struct Recorder {
  std::mutex mu;
  std::vector<shell::InstanceRequest> requests;
  shell::InstanceLock::Handler handler() {
    return [this](const shell::InstanceRequest& r) {
      std::lock_guard<std::mutex> lock(mu);
      requests.push_back(r);
      // An answer finds a phone waiting only when it is "allow once".
      return r.kind != shell::InstanceRequest::kAnswer || r.param == shell::kAnswerAllowOnce;
    };
  }
};

TEST_F(ShellPosixTest, OtherStartsReachTheRunningInstance) {
  const base::string16 name = u"com.quillonlabs.test";
  EXPECT_FALSE(shell::instanceRunning(name));
  shell::InstanceRequest show;
  EXPECT_FALSE(shell::sendToInstance(name, show));

  Recorder recorder;
  {
    shell::InstanceLock lock;
    ASSERT_TRUE(lock.acquire(name));
    ASSERT_TRUE(lock.serveRequests(recorder.handler()));
    EXPECT_TRUE(shell::instanceRunning(name));

    shell::InstanceRequest close;
    close.kind = shell::InstanceRequest::kClose;
    close.param = 0x12345678;
    EXPECT_TRUE(shell::sendToInstance(name, show));
    EXPECT_TRUE(shell::sendToInstance(name, close));
    ASSERT_EQ(2u, recorder.requests.size());
    EXPECT_EQ(shell::InstanceRequest::kShow, recorder.requests[0].kind);
    EXPECT_EQ(shell::InstanceRequest::kClose, recorder.requests[1].kind);
    EXPECT_EQ(0x12345678u, recorder.requests[1].param);

    // Answers travel with their kind; "no" from the instance is not a
    // failure to reach it.
    shell::InstanceRequest answer;
    answer.kind = shell::InstanceRequest::kAnswer;
    bool reached = false;
    for (uintptr_t code : {shell::kAnswerAllowAlways, shell::kAnswerAllowOnce, shell::kAnswerDeny}) {
      answer.param = code;
      EXPECT_EQ(code == shell::kAnswerAllowOnce, shell::sendToInstance(name, answer, &reached));
      EXPECT_TRUE(reached);
    }
    ASSERT_EQ(5u, recorder.requests.size());
    for (size_t i = 2; i < 5; ++i) {
      EXPECT_EQ(shell::InstanceRequest::kAnswer, recorder.requests[i].kind);
      EXPECT_EQ(i - 1, recorder.requests[i].param);
    }
  }
  // Gone with the lock: the socket file too.
  EXPECT_FALSE(shell::instanceRunning(name));
  EXPECT_FALSE(shell::sendToInstance(name, show));
  EXPECT_FALSE(base::pathExists(base::utf8ToWide(dir_ + "/run/quillon-labs/com.quillonlabs.test.sock")));
}

// Talks to the socket directly; returns the reply line.
std::string rawRequest(const std::string& path, const std::string& bytes, bool closeEarly = false) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    return "no connection";
  }
  if (!bytes.empty()) {
    ssize_t r = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    (void)r;
  }
  if (closeEarly) ::shutdown(fd, SHUT_WR);
  std::string reply;
  char c;
  while (::read(fd, &c, 1) == 1 && c != '\n') reply.push_back(c);
  ::close(fd);
  return reply;
}

TEST_F(ShellPosixTest, MalformedRequestsAreDropped) {
  const base::string16 name = u"com.quillonlabs.test";
  Recorder recorder;
  shell::InstanceLock lock;
  ASSERT_TRUE(lock.acquire(name));
  ASSERT_TRUE(lock.serveRequests(recorder.handler()));
  const std::string path = dir_ + "/run/quillon-labs/com.quillonlabs.test.sock";

  EXPECT_EQ("error", rawRequest(path, "hello\n"));
  EXPECT_EQ("error", rawRequest(path, "close\n"));
  EXPECT_EQ("error", rawRequest(path, "close 12x\n"));
  EXPECT_EQ("error", rawRequest(path, "close 99999999999999999999999\n"));
  EXPECT_EQ("error", rawRequest(path, std::string(10000, 'a')));
  EXPECT_EQ("error", rawRequest(path, "show", /*closeEarly=*/true));
  EXPECT_EQ("error", rawRequest(path, "answer\n"));
  EXPECT_EQ("error", rawRequest(path, "answer allowed\n"));
  EXPECT_TRUE(recorder.requests.empty());
  // The socket still serves afterwards.
  EXPECT_EQ("ok", rawRequest(path, "close 0\n"));
  ASSERT_EQ(1u, recorder.requests.size());
  EXPECT_EQ(0u, recorder.requests[0].param);
}

TEST_F(ShellPosixTest, VeryLongRuntimeFolderStillWorks) {
  const std::string deep = dir_ + "/" + std::string(60, 'r') + "/" + std::string(60, 's');
  env_.set("XDG_RUNTIME_DIR", deep);
  const base::string16 name = u"com.quillonlabs.test";
  Recorder recorder;
  shell::InstanceLock lock;
  ASSERT_TRUE(lock.acquire(name));
  ASSERT_TRUE(lock.serveRequests(recorder.handler()));
  shell::InstanceRequest show;
  EXPECT_TRUE(shell::sendToInstance(name, show));
  EXPECT_EQ(1u, recorder.requests.size());
}

}  // namespace
