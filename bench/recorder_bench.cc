// The recorder's cost: recording 20 seconds of 640 x 480 video at 25 frames a second with
// both audio directions mixed, CPU time of the recorder against the
// `ffmpeg` command line encoding the same pictures and the same mixed audio
// to the same codecs and container. Goal: at most 1.2 x the command line.
//
// Both run in the one benchmark, one after the other, so a busy machine
// slows both alike. The recorder is paced by a scripted clock (no waiting:
// its CPU time is the work); the command line's time is its own CPU time
// as a child process. Counters: both CPU times in seconds and their ratio.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/file_util.h"
#include "base/logging.h"
#include "base/test_util.h"
#include "components/recorder/ff_video_file.h"
#include "components/recorder/media_probe.h"
#include "components/recorder/recorder_test_util.h"
#include "components/video/test_card.h"

namespace {

using namespace component;

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kSeconds = 20;
constexpr int kFps = 25;
constexpr int kDistinctFrames = 50;  // cycled: every slot still differs from the last
constexpr int kPacketSamples = 960;  // 20 ms at 48 kHz

double cpuSeconds(int who) {
  struct rusage usage;
  getrusage(who, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int16_t toneSample(double frequency, int64_t position) {
  return static_cast<int16_t>(std::lrint(6000 * std::sin(2 * 3.14159265358979 * frequency * position / 48000.0)));
}

AudioPacketData packet(int32_t origin, int64_t position, double frequency) {
  AudioPacketData p;
  p.format = kAudioFormatLPCM;
  p.origin = origin;
  p.timestamp = position;
  p.data.resize(kPacketSamples * 2);
  int16_t* s = reinterpret_cast<int16_t*>(p.data.data());
  for (int i = 0; i < kPacketSamples; ++i) s[i] = toneSample(frequency, position + i);
  return p;
}

bool writeBytes(const base::string16& path, const void* data, size_t size, const char* mode) {
  FILE* f = std::fopen(base::nativePath(path).c_str(), mode);
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

void BM_RecorderVsFfmpeg(benchmark::State& state) {
  base::setMinLogSeverity(base::LOG_WARNING);
  const base::string16 dir = base::makeTempDirectory(u"bench-recorder");
  std::vector<VideoFrame> frames;
  for (int i = 0; i < kDistinctFrames; ++i) frames.push_back(makeTestCard(kWidth, kHeight, static_cast<uint32_t>(i * 7)));

  // The command line's input: the same pictures as raw BGR and the mix of
  // the same two tones.
  const base::string16 rawVideo = base::joinPath(dir, u"video.bgr");
  const base::string16 rawAudio = base::joinPath(dir, u"audio.s16");
  writeBytes(rawVideo, nullptr, 0, "wb");
  for (int i = 0; i < kSeconds * kFps; ++i) {
    const VideoFrame& f = frames[i % kDistinctFrames];
    writeBytes(rawVideo, f.data.data(), f.data.size(), "ab");
  }
  std::vector<int16_t> mix(static_cast<size_t>(kSeconds) * 48000);
  for (size_t i = 0; i < mix.size(); ++i) {
    const int32_t sum = toneSample(440, static_cast<int64_t>(i)) + toneSample(1000, static_cast<int64_t>(i));
    mix[i] = static_cast<int16_t>(std::max(-32768, std::min(32767, sum)));
  }
  writeBytes(rawAudio, mix.data(), mix.size() * 2, "wb");

  double recorderCpu = 0, ffmpegCpu = 0, ffmpegSingleCpu = 0;
  for (auto _ : state) {
    // The recorder: frames at 25 a second and 20 ms packets from both
    // directions, delivered on its own clock.
    const base::string16 ours = base::joinPath(dir, u"recorder.avi");
    ScriptedClock clock(static_cast<int64_t>(kSeconds) * 1000000);
    FFVideoFile recorder(&clock);
    for (int i = 0; i < kSeconds * kFps; ++i) {
      clock.at(i * 40000LL, [&recorder, &frames, i] { recorder.OnVideoFrame(nullptr, frames[i % kDistinctFrames]); });
    }
    for (int k = 0; k < kSeconds * 50; ++k) {
      clock.at(k * 20000LL, [&recorder, k] {
        recorder.OnAudioPacket(nullptr, packet(kAudioOriginPhone, k * kPacketSamples, 440));
        recorder.OnAudioPacket(nullptr, packet(kAudioOriginPC, k * kPacketSamples, 1000));
      });
    }
    const double before = cpuSeconds(RUSAGE_SELF);
    if (!recorder.start(ours, kWidth, kHeight)) {
      state.SkipWithError("the recorder did not start");
      break;
    }
    clock.waitForEnd();
    recorder.stop();
    recorderCpu = cpuSeconds(RUSAGE_SELF) - before;

    // The command line, to the same codecs and container.
    const MediaProbe probe = probeMedia(ours);
    const std::string audioEncoder = probe.audioCodec == "mp3" ? "libmp3lame" : probe.audioCodec;
    const std::string command =
        "ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt bgr24 -s 640x480 -r 25 -i '" + base::nativePath(rawVideo) +
        "' -f s16le -ar 48000 -ac 1 -i '" + base::nativePath(rawAudio) + "' -c:v " + probe.videoCodec +
        " -b:v 500k -g 12 -pix_fmt yuv420p -c:a " + audioEncoder + " -b:a 64k -ar 48000 -ac 1 '" +
        base::nativePath(base::joinPath(dir, u"ffmpeg.avi")) + "'";
    double childBefore = cpuSeconds(RUSAGE_CHILDREN);
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError(("ffmpeg failed: " + command).c_str());
      break;
    }
    ffmpegCpu = cpuSeconds(RUSAGE_CHILDREN) - childBefore;
    // The same with one encoding thread, as the recorder has.
    std::string single = command;
    single.insert(single.find(" -c:v "), " -threads 1 -filter_threads 1");
    childBefore = cpuSeconds(RUSAGE_CHILDREN);
    if (std::system(single.c_str()) == 0) ffmpegSingleCpu = cpuSeconds(RUSAGE_CHILDREN) - childBefore;
    state.SetLabel(probe.videoCodec + "+" + probe.audioCodec + " in " + probe.format + ", " +
                   std::to_string(probe.videoFrames) + " frames");
  }
  state.counters["recorder_cpu_s"] = recorderCpu;
  state.counters["ffmpeg_cpu_s"] = ffmpegCpu;
  state.counters["ratio"] = ffmpegCpu > 0 ? recorderCpu / ffmpegCpu : 0;
  state.counters["ffmpeg_1thread_cpu_s"] = ffmpegSingleCpu;
  state.counters["ratio_1thread"] = ffmpegSingleCpu > 0 ? recorderCpu / ffmpegSingleCpu : 0;
  base::removeTree(dir);
}
BENCHMARK(BM_RecorderVsFfmpeg)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
