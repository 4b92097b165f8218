// End-to-end on a Linux desktop (a virtual X display): the real `server`
// shows its window, an unknown phone raises the "New device" window, an
// answer from another start ("server -allow-once") takes it away, and the
// phone's test card then fills the main window's preview. Seen from
// outside, with the X tools a user's desktop would use.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/e2e/server_process.h"
#include "base/file_util.h"
#include "base/platform_thread.h"
#include "base/reg_key.h"
#include "base/socket.h"
#include "components/video/test_card.h"
#include "components/video/video_geometry.h"
#include "tools/phonesim/simulator.h"

namespace {

constexpr uint32_t kTimeoutMs = 30000;
constexpr uint32_t kPollMs = 100;
constexpr char kMainTitle[] = "Lumora ZuvIridar for iPhone";
constexpr char kPromptTitle[] = "New device";
// The bar of buttons under the preview.
constexpr int kBarHeight = 62;

std::string run(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

// The id of a viewable top-level window titled `title` ("" when none). Qt
// keeps a hidden leader window with the program's title too.
std::string viewableWindow(const std::string& title) {
  const std::string tree = run("xwininfo -root -tree");
  const std::regex line("(0x[0-9a-f]+) \"([^\"]*)\"");
  for (auto it = std::sregex_iterator(tree.begin(), tree.end(), line); it != std::sregex_iterator(); ++it) {
    if ((*it)[2] != title) continue;
    const std::string id = (*it)[1];
    if (run("xwininfo -id " + id).find("IsViewable") != std::string::npos) return id;
  }
  return std::string();
}

template <typename Condition>
bool waitUntil(Condition condition) {
  for (uint32_t waited = 0; waited < kTimeoutMs; waited += kPollMs) {
    if (condition()) return true;
    base::PlatformThread::sleepMs(kPollMs);
  }
  return condition();
}

// The window's pixels as 24-bit BGR rows, through ImageMagick's `import`.
bool capture(const std::string& window, int* width, int* height, std::vector<uint8_t>* bgr) {
  const std::string ppm = run("import -window " + window + " -depth 8 ppm:-");
  std::istringstream in(ppm);
  std::string magic;
  int max = 0;
  in >> magic >> *width >> *height >> max;
  in.get();
  if (magic != "P6" || max != 255 || *width <= 0 || *height <= 0) return false;
  const size_t bytes = static_cast<size_t>(*width) * static_cast<size_t>(*height) * 3;
  const size_t at = static_cast<size_t>(in.tellg());
  if (ppm.size() < at + bytes) return false;
  bgr->resize(bytes);
  for (size_t i = 0; i < bytes; i += 3) {
    (*bgr)[i] = static_cast<uint8_t>(ppm[at + i + 2]);
    (*bgr)[i + 1] = static_cast<uint8_t>(ppm[at + i + 1]);
    (*bgr)[i + 2] = static_cast<uint8_t>(ppm[at + i]);
  }
  return true;
}

// What the preview shows of the card (the picture fitted into the area
// above the bar, its aspect kept).
std::string cardInPreview(const std::string& window, int cardWidth, int cardHeight) {
  int width = 0, height = 0;
  std::vector<uint8_t> pixels;
  if (!capture(window, &width, &height, &pixels)) return "no capture";
  const component::FitRect rect =
      component::fitRectangle(cardWidth, cardHeight, width, height - kBarHeight, component::kFitInside);
  const component::CardReading reading = component::readCard(pixels.data(), width * 3, rect);
  return reading.upright() ? "upright" : reading.describe();
}

TEST(DesktopE2ETest, PromptAnsweredFromAnotherStartThenThePreviewShowsTheCard) {
  PrivateUser user;
  ASSERT_TRUE(user.setUp());
  if (!user.useDisplay() || run("xwininfo -root").empty()) GTEST_SKIP() << "no X display to show a window on";
  base::initializeSockets();
  {
    base::RegKey app;
    ASSERT_EQ(base::kRegOk, app.create(base::RegRoot::kCurrentUser, kAppRegistryKey));
    ASSERT_EQ(base::kRegOk, app.writeValue(u"LinuxCamera", u"off"));
    ASSERT_EQ(base::kRegOk, app.writeValueDW(u"FirstRunTipShow", 0));
  }
  const base::string16 output = base::joinPath(user.folder(), u"server.out");
  ServerProcess server;
  ASSERT_TRUE(server.start(ServerProcess::defaultProgram(), {}, output));
  if (!waitUntil([] { return !viewableWindow(kMainTitle).empty(); })) {
    int code = -1;
    const bool gone = server.wait(0, &code);
    std::string terminal;
    base::readFile(output, &terminal);
    FAIL() << "the main window never showed; the program " << (gone ? "ended with " + std::to_string(code) : "runs")
           << "\nwindows: " << run("xwininfo -root -tree") << "\nlog:\n"
           << user.logOf(server.pid()) << "\nterminal:\n"
           << terminal;
  }
  std::smatch listen;
  std::string log;
  ASSERT_TRUE(waitUntil([&] {
    log = user.logOf(server.pid());
    return std::regex_search(log, listen, std::regex("Listen on [0-9.]+:([0-9]+)"));
  }));
  const int port = std::stoi(listen[1]);

  constexpr int kCardWidth = 320, kCardHeight = 240;
  std::string transcript;
  std::thread phone([&] {
    phonesim::SimulatorOptions options;
    options.port = static_cast<uint16_t>(port);
    options.timeoutMs = 20000;
    options.authorize = true;
    options.uid = "desktop-e2e-phone";
    options.name = "Desk phone";
    options.answerTimeoutMs = 20000;
    options.video.source = "pattern";
    options.video.fps = 10;
    options.video.frames = 150;
    options.video.width = kCardWidth;
    options.video.height = kCardHeight;
    std::ostringstream out;
    phonesim::runSession(options, out, nullptr);
    transcript = out.str();
  });

  EXPECT_TRUE(waitUntil([] { return !viewableWindow(kPromptTitle).empty(); })) << "no \"New device\" window";
  ServerProcess answer;
  ASSERT_TRUE(answer.start(ServerProcess::defaultProgram(), {"-allow-once"}));
  int code = -1;
  ASSERT_TRUE(answer.wait(kTimeoutMs, &code));
  EXPECT_EQ(0, code) << "the running program found no phone waiting";
  EXPECT_TRUE(waitUntil([] { return viewableWindow(kPromptTitle).empty(); })) << "the prompt stayed";

  const std::string main = viewableWindow(kMainTitle);
  std::string seen;
  EXPECT_TRUE(waitUntil([&] { return (seen = cardInPreview(main, kCardWidth, kCardHeight)) == "upright"; }))
      << "the preview shows: " << seen;

  ServerProcess exit;
  ASSERT_TRUE(exit.start(ServerProcess::defaultProgram(), {"-exit"}));
  EXPECT_TRUE(server.wait(kTimeoutMs, &code));
  phone.join();
  log = user.logOf(server.pid());
  EXPECT_NE(std::string::npos, log.find("Connection was accepted.")) << log;
  EXPECT_NE(std::string::npos, log.find("WM_DESTROY message"));
  // The terminal stays clean: the log has its file.
  std::string terminal;
  base::readFile(output, &terminal);
  EXPECT_EQ(std::string::npos, terminal.find(":INFO:")) << terminal;
  EXPECT_EQ(std::string::npos, terminal.find(":ERROR:")) << terminal;
  EXPECT_EQ("", user.sanitizerReports());
}

}  // namespace
