// Audio latency and load with the whole audio path in one process: a phone
// (on an in-memory connection) sends speech at real pace to the audio
// component, whose play-out feeds the sound device link over a probe
// device; the probe plays PC audio at real pace the other way.
//
// Figures (counters):
//  - mouth_to_device_{median,p99}_ms: from the moment the phone's microphone
//    took a sample to the moment the device reached it: the link's write of
//    its block, plus the sample's place in the block at the device's pace
//    (the link writes each block 25 ms before the device plays it; that
//    lead is not counted);
//  - underruns: play-out requests that found samples missing after the
//    start, and starts: how often play-out (re)started (1 in steady flow);
//  - pulled_back_ms: how much lag play-out took back because it had grown
//    beyond the start's (0 in steady flow);
//  - cpu_share: CPU time of the process over the wall time (one core = 1);
//  - pc_to_phone_{median,p99}_ms: from the moment the device made a PC
//    sample available to the moment its packet went to the phone.
// Markers (2 ms bursts, once a second) are laid over the speech to find the
// samples again. LUMORA_AUDIO_LATENCY_SECONDS sets the length (60 s).
// What to expect: play-out starts 100 ms behind the phone, counting the
// decoder's and resampler's own delay and how long the newest packet has
// waited, so the median is 100 ms plus what the sending loop here adds
// (under 1 ms). iLBC markers spread by a few milliseconds around it: the
// codec reshapes a 2 ms burst.
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "base/logging.h"
#include "base/message_loop.h"
#include "base/values.h"
#include "benchmark/benchmark.h"
#include "components/audio/audio_component.h"
#include "components/audio/ilbc/ilbc_test_signals.h"
#include "components/audio/ilbc_audio_converter.h"
#include "components/audio/wdm_audio_driver.h"
#include "components/component_message.h"
#include "components/component_test_support.h"
#include "components/session_gate.h"
#include "tools/soak/audio_markers.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

using component::AudioComponent;

using soak::kMarkerAmplitude;
using soak::OnsetFinder;
using soak::percentile;

constexpr size_t kMarkerSamples8k = 16;  // 2 ms

int64_t nowUs() { return component::AudioClock::system()->nowUs(); }

// The device: writes are timed and searched for the phone's markers; reads
// are PC audio at real pace with a marker every second.
class ProbeDevice : public component::WaveDevice {
 public:
  bool open() override {
    openedAt_ = nowUs();
    return open_ = true;
  }
  void close() override { open_ = false; }
  bool isOpen() const override { return open_; }

  size_t write(const uint8_t* data, size_t bytes) override {
    const int64_t at = nowUs();
    finder_.feed(reinterpret_cast<const int16_t*>(data), bytes / 2, [&](int64_t, size_t i) {
      std::lock_guard<std::mutex> lock(mutex_);
      markersWritten_.push_back(soak::deviceTimeOf(at, bytes / 2, i));
    });
    return bytes;
  }

  size_t read(uint8_t* data, size_t bytes) override {
    const int64_t due = (nowUs() - openedAt_) * 96 / 1000 / static_cast<int64_t>(kBlockBytes) *
                        static_cast<int64_t>(kBlockBytes);
    if (due <= read_) return 0;
    auto* samples = reinterpret_cast<int16_t*>(data);
    const size_t count = bytes / 2;
    for (size_t i = 0; i < count; ++i) {
      const int64_t index = read_ / 2 + static_cast<int64_t>(i);
      const int64_t inSecond = index % 48000;
      samples[i] = inSecond < 96 ? kMarkerAmplitude
                                 : static_cast<int16_t>(3000 * std::sin(2 * kPi * 300 * double(index) / 48000));
      if (inSecond == 0) {
        // Available once its block is due.
        const int64_t block = index / 480;
        std::lock_guard<std::mutex> lock(mutex_);
        markersAvailable_.push_back(openedAt_ + (block + 1) * 10000);
      }
    }
    read_ += static_cast<int64_t>(bytes);
    return bytes;
  }

  std::vector<int64_t> markersWritten() {
    std::lock_guard<std::mutex> lock(mutex_);
    return markersWritten_;
  }
  std::vector<int64_t> markersAvailable() {
    std::lock_guard<std::mutex> lock(mutex_);
    return markersAvailable_;
  }

 private:
  bool open_ = false;
  int64_t openedAt_ = 0;
  int64_t read_ = 0;
  OnsetFinder finder_{48000 / 5};
  std::mutex mutex_;
  std::vector<int64_t> markersWritten_;
  std::vector<int64_t> markersAvailable_;
};

// Sees the PC's packets leave (the captured copies are handed out right
// after the packets are sent).
class SentObserver : public AudioComponent::Observer {
 public:
  void OnAudioPacket(AudioComponent*, const component::AudioPacketData& packet) override {
    if (packet.origin != component::kAudioOriginPC) return;
    const int64_t at = nowUs();
    finder_.feed(reinterpret_cast<const int16_t*>(packet.data.data()), packet.data.size() / 2,
                 [&](int64_t, size_t) { markersSent.push_back(at); });
  }
  std::vector<int64_t> markersSent;

 private:
  OnsetFinder finder_{48000 / 5};
};

void BM_AudioLatency(benchmark::State& state) {
  const bool ilbc = state.range(0) != 0;
  const char* seconds = std::getenv("LUMORA_AUDIO_LATENCY_SECONDS");
  const int64_t durationUs = (seconds ? std::atoi(seconds) : 60) * int64_t{1000000};
  base::setMinLogSeverity(base::LOG_ERROR);

  for (auto _ : state) {
    base::MessageLoop loop;
    transport::Transport transport;
    transport.setApplicationId(12000);
    transport.setVersion("2.2.0.0");
    component::SessionGate gate(&transport);
    AudioComponent audio(&transport, component::kAudioComponentId, &gate);
    SentObserver sent;
    audio.AddObserver(&sent);
    component::FakePhone phone(&transport);
    phone.connect();
    gate.open();
    auto* device = new ProbeDevice;
    component::WDMAudioDriver link{std::unique_ptr<component::WaveDevice>(device)};
    link.setDelegate(&audio);

    base::DictionaryValue select;
    select.setString("ProfileID", ilbc ? component::kProfileILBC : component::kProfileLPCM);
    base::Pickle message = component::makeComponentMessage(AudioComponent::kMessageSelectProfile);
    base::writeDictionaryToPickle(select, &message);
    phone.send(component::kAudioComponentId, message);
    link.Open();
    link.Start();

    // The phone's speech: 8 kHz, peaks held below the markers.
    const int packets = static_cast<int>(durationUs / 20000);
    std::vector<int16_t> speech = ilbc::testing::SpeechLikeSignal(packets, 7);
    int peak = 1;
    for (int16_t s : speech) peak = std::max(peak, std::abs(int(s)));
    for (auto& s : speech) s = static_cast<int16_t>(s * 8000 / peak);
    std::vector<int64_t> markersSpoken;
    component::iLBCAudioEncoder encoder;

    rusage before = {};
    getrusage(RUSAGE_SELF, &before);
    const int64_t start = nowUs();
    int sentPackets = 0;
    while (sentPackets < packets) {
      const int64_t now = nowUs();
      while (sentPackets < packets && start + (sentPackets + 1) * 20000 <= now) {
        int16_t* pcm = speech.data() + sentPackets * 160;
        if (sentPackets % 50 == 0) {
          for (size_t i = 0; i < kMarkerSamples8k; ++i) pcm[i] = kMarkerAmplitude;
          // The microphone took it at the packet's start.
          markersSpoken.push_back(start + int64_t{sentPackets} * 20000);
        }
        const uint8_t* payload = reinterpret_cast<const uint8_t*>(pcm);
        size_t size = 320;
        if (ilbc) {
          encoder.Convert(pcm, 320);
          payload = static_cast<const uint8_t*>(encoder.Data());
          size = encoder.Size();
        }
        base::DictionaryValue info;
        info.setInteger("FormatID", static_cast<int32_t>(ilbc ? component::kAudioFormatILBC : component::kAudioFormatLPCM));
        info.setInt64("Timestamp", int64_t{sentPackets} * 160);
        base::Pickle packet = component::makeComponentMessage(AudioComponent::kMessageAudioPacket);
        base::writeDictionaryToPickle(info, &packet);
        component::writeTaggedBytes(&packet, 0, payload, size);
        phone.send(component::kAudioComponentId, packet);
        ++sentPackets;
      }
      // The loop's own short waits spin; a plain sleep keeps the harness
      // out of the CPU figure. Calls posted by the workers run here.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      loop.runUntilIdle();
    }
    // Steady streaming ends with the phone's last packet; what follows is
    // the ring running dry on purpose.
    const uint64_t underruns = audio.playoutUnderruns();
    loop.runFor(300);
    const int64_t wall = nowUs() - start;
    rusage after = {};
    getrusage(RUSAGE_SELF, &after);
    link.Stop();
    link.Close();
    audio.RemoveObserver(&sent);

    auto cpuUs = [](const rusage& r) {
      return (int64_t{r.ru_utime.tv_sec} + r.ru_stime.tv_sec) * 1000000 + r.ru_utime.tv_usec + r.ru_stime.tv_usec;
    };
    const std::vector<double> mouth = soak::matchMarkers(markersSpoken, device->markersWritten());
    const std::vector<double> back = soak::matchMarkers(device->markersAvailable(), sent.markersSent);
    state.counters["mouth_to_device_median_ms"] = percentile(mouth, 0.5);
    state.counters["mouth_to_device_p99_ms"] = percentile(mouth, 0.99);
    state.counters["markers"] = static_cast<double>(mouth.size());
    state.counters["underruns"] = static_cast<double>(underruns);
  state.counters["starts"] = static_cast<double>(audio.playoutStarts());
    state.counters["pulled_back_ms"] = static_cast<double>(audio.playoutPulledBack()) / 48;
    state.counters["late_or_shed"] = static_cast<double>(audio.stats().late.load() + audio.stats().shed.load());
    state.counters["cpu_share"] = double(cpuUs(after) - cpuUs(before)) / double(wall);
    state.counters["pc_to_phone_median_ms"] = percentile(back, 0.5);
    state.counters["pc_to_phone_p99_ms"] = percentile(back, 0.99);
    state.SetIterationTime(double(wall) / 1e6);
  }
}
BENCHMARK(BM_AudioLatency)->ArgName("ilbc")->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
