// vcamview: looks at the virtual camera's shared memory as the camera does.
//   --size WxH        ask for this picture size (352x288, 320x240, or any WxH)
//   --dump FILE       save the current picture (.png, else binary .ppm)
//   --describe        print the size, the picture's rectangle and what the
//                     test card looks like in it
//   --watch           once a second: new pictures per second and age of the
//                     current one (until interrupted, or --seconds N)
//   --wait-change N   wait for N new pictures (exit 1 after --timeout MS)
//   --name NAME       another section than the program's
//   --pipewire [NODE] (Linux) read the PipeWire camera (lumora_camera)
//                     instead; with --dump and --describe
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "components/video/test_card.h"
#include "components/video/video_driver.h"
#include "tools/vcamview/camera_view.h"
#if !defined(_WIN32)
#include "components/video/linux_camera/camera_picture.h"
#include "tools/vcamview/pipewire_view.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;

const char kUsage[] =
    "usage: vcamview [--name NAME] [--size WxH] [--wait-change N [--timeout MS]]\n"
    "                [--dump FILE.png|FILE.ppm] [--describe] [--watch [--seconds N]]\n"
    "       vcamview --pipewire [NODE] [--timeout MS] [--dump FILE] [--describe]   (Linux)\n";

int64_t msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void describePicture(const component::VideoFrame& picture) {
  const component::FitRect rect = vcamview::contentRect(picture);
  std::cout << "picture " << picture.width << "x" << picture.height << "\n";
  std::cout << "content " << rect.width << "x" << rect.height << " at " << rect.x << "," << rect.y << "\n";
  if (rect.width > 0) {
    const component::CardReading reading = component::readCard(picture.data.data(), picture.stride, rect);
    std::cout << "card " << (reading.upright() ? "upright" : reading.mirrored() ? "mirrored" : "other") << " ("
              << reading.describe() << ")\n";
  }
}

void describe(const vcamview::CameraView& view) {
  int32_t rw = 0, rh = 0;
  view.requested(&rw, &rh);
  std::cout << "requested " << rw << "x" << rh << "\n";
  describePicture(view.picture());
}

#if !defined(_WIN32)
int viewPipeWire(const std::string& node, long timeoutMs, const std::string& dump, bool doDescribe) {
  vcamview::PipeWireCapture capture;
  std::string error;
  // The first picture after connecting may be an older one: the second is taken.
  if (!vcamview::capturePipeWire(node, 1, 1, static_cast<int>(timeoutMs), &capture, &error)) {
    std::cerr << "error " << node << ": " << error << "\n";
    return 1;
  }
  std::cout << "format " << capture.format << "\n";
  if (!dump.empty()) {
    if (!vcamview::savePicture(capture.pictures.back(), dump)) {
      std::cerr << "error cannot write " << dump << "\n";
      return 1;
    }
    std::cout << "saved " << dump << "\n";
  }
  if (doDescribe) {
    const component::VideoFrame& picture = capture.pictures.back();
    if (component::looksLikeWaitingCard(picture.data.data(), picture.width, picture.height))
      std::cout << "waiting card (no phone accepted)\n";
    else
      describePicture(picture);
  }
  return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  std::string name = component::cameraSectionName(), dump;
  bool haveSize = false, doDescribe = false, watch = false;
  int32_t width = 0, height = 0;
  long waitChanges = 0, timeoutMs = 10000, seconds = 0;
  std::string pipewireNode;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto next = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string value;
    if (arg == "--name" && next(&name)) {
    } else if (arg == "--size" && next(&value) && vcamview::parseSize(value, &width, &height)) {
      haveSize = true;
    } else if (arg == "--dump" && next(&dump)) {
    } else if (arg == "--pipewire") {
      pipewireNode = "lumora_camera";
      if (i + 1 < argc && argv[i + 1][0] != '-') pipewireNode = argv[++i];
    } else if (arg == "--describe") {
      doDescribe = true;
    } else if (arg == "--watch") {
      watch = true;
    } else if (arg == "--seconds" && next(&value)) {
      seconds = std::strtol(value.c_str(), nullptr, 10);
    } else if (arg == "--wait-change" && next(&value)) {
      waitChanges = std::strtol(value.c_str(), nullptr, 10);
    } else if (arg == "--timeout" && next(&value)) {
      timeoutMs = std::strtol(value.c_str(), nullptr, 10);
    } else {
      std::cerr << kUsage;
      return 2;
    }
  }
#if !defined(_WIN32)
  if (!pipewireNode.empty()) return viewPipeWire(pipewireNode, timeoutMs, dump, doDescribe);
#endif
  vcamview::CameraView view(name);
  if (!view.ok()) {
    std::cerr << "error cannot open the shared memory " << name << "\n";
    return 1;
  }
  if (haveSize) view.request(width, height);

  if (waitChanges > 0) {
    const Clock::time_point start = Clock::now();
    uint64_t last = view.fingerprint();
    long seen = 0;
    while (seen < waitChanges) {
      if (msSince(start) > timeoutMs) {
        std::cout << "timeout after " << seen << " new pictures\n";
        return 1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      const uint64_t now = view.fingerprint();
      if (now != last) {
        last = now;
        ++seen;
      }
    }
    std::cout << "changed " << seen << " times in " << msSince(start) << " ms\n";
  }
  if (!dump.empty()) {
    if (!vcamview::savePicture(view.picture(), dump)) {
      std::cerr << "error cannot write " << dump << "\n";
      return 1;
    }
    std::cout << "saved " << dump << "\n";
  }
  if (doDescribe) describe(view);
  if (watch) {
    const Clock::time_point start = Clock::now();
    Clock::time_point changedAt = start, reportAt = start;
    uint64_t last = view.fingerprint();
    int frames = 0;
    while (seconds <= 0 || msSince(start) < seconds * 1000) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      const uint64_t now = view.fingerprint();
      if (now != last) {
        last = now;
        changedAt = Clock::now();
        ++frames;
      }
      if (msSince(reportAt) >= 1000) {
        const double elapsed = static_cast<double>(msSince(reportAt)) / 1000.0;
        int32_t w = 0, h = 0;
        view.pictureSize(&w, &h);
        std::printf("fps %.1f age_ms %lld size %dx%d\n", frames / elapsed, static_cast<long long>(msSince(changedAt)),
                    w, h);
        std::fflush(stdout);
        frames = 0;
        reportAt = Clock::now();
      }
    }
  }
  return 0;
}
