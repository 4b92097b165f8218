// Device lists from a private PulseAudio server with made-up devices: real
// sources and sinks by description, monitors and the virtual device left
// out (by the wave service client), nothing at all without a server.
#include "WebcamWin/audio/audio_device_enumerator.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "WebcamWin/testing/shell_test_util.h"
#include "WebcamWin/suite/wavehost.h"
#include "base/file_util.h"
#include "base/test_util.h"

extern char** environ;

namespace {

using Names = std::vector<base::string16>;

class PrivatePulseAudio {
 public:
  ~PrivatePulseAudio() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status;
      ::waitpid(pid_, &status, 0);
    }
    base::removeTree(folder_);
  }

  // False when no pulseaudio program is installed.
  bool start(shell_test::ScopedEnvironment* env) {
    folder_ = base::makeTempDirectory(u"pulse");
    const std::string dir = base::wideToUtf8(folder_);
    socket_ = dir + "/native";
    env->set("HOME", dir);
    env->set("XDG_RUNTIME_DIR", dir);
    env->set("PULSE_SERVER", "unix:" + socket_);
    const std::string modules[] = {
        "module-native-protocol-unix socket=" + socket_ + " auth-anonymous=1",
        "module-null-sink sink_name=speakers sink_properties='device.description=\"Line Out Speakers\"'",
        "module-null-sink sink_name=vsink sink_properties='device.description=\"Lumora Wave Audio Device (WDM)\"'",
        "module-null-source source_name=mic description=\"Desk Microphone\"",
        "module-null-source source_name=vsource description=\"Lumora Wave Audio Device\"",
    };
    std::vector<std::string> args = {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                                     "--disable-shm=yes", "--log-target=stderr", "--log-level=0"};
    for (const std::string& m : modules) {
      args.push_back("-L");
      args.push_back(m);
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    if (::posix_spawnp(&pid_, "pulseaudio", nullptr, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
      return false;
    }
    return true;
  }

  // The server lists its devices once its modules are loaded.
  bool waitUntilReady() {
    for (int i = 0; i < 600; ++i) {
      if (base::pathExists(base::utf8ToWide(socket_)) && enumeratePlaybackDevices().size() >= 2) return true;
      usleep(50 * 1000);
    }
    return false;
  }

 private:
  base::string16 folder_;
  std::string socket_;
  pid_t pid_ = -1;
};

TEST(AudioDeviceEnumeratorTest, ListsPulseAudioDevicesByDescription) {
  shell_test::ScopedEnvironment env;
  PrivatePulseAudio pulse;
  if (!pulse.start(&env)) GTEST_SKIP() << "pulseaudio is not installed";
  ASSERT_TRUE(pulse.waitUntilReady());
  // Sources without the sinks' monitors.
  bool answered = false;
  EXPECT_EQ((Names{u"Desk Microphone", u"Lumora Wave Audio Device"}), enumerateRecordingDevices(&answered));
  EXPECT_TRUE(answered);
  EXPECT_EQ((Names{u"Line Out Speakers", u"Lumora Wave Audio Device (WDM)"}), enumeratePlaybackDevices());
  // What the settings dialog offers.
  EXPECT_EQ((Names{u"Desk Microphone"}), CWaveHost::inputDevices());
  EXPECT_EQ((Names{u"Line Out Speakers"}), CWaveHost::outputDevices());
}

TEST(AudioDeviceEnumeratorTest, NoServerNoDevices) {
  shell_test::ScopedEnvironment env;
  const base::string16 folder = base::makeTempDirectory(u"nopulse");
  env.set("PULSE_SERVER", "unix:" + base::wideToUtf8(folder) + "/nothing");
  bool answered = true;
  EXPECT_TRUE(enumerateRecordingDevices(&answered).empty());
  EXPECT_FALSE(answered);
  answered = true;
  EXPECT_TRUE(CWaveHost::outputDevices(&answered).empty());
  EXPECT_FALSE(answered);
  base::removeTree(folder);
}

}  // namespace
