// Reads a recording back with FFmpeg for the tests: the container, both
// streams, every decoded picture's middle row of luma and the decoded audio
// as 16-bit mono.
#ifndef COMPONENTS_RECORDER_MEDIA_PROBE_H_
#define COMPONENTS_RECORDER_MEDIA_PROBE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/string_util.h"

namespace component {

struct MediaProbe {
  bool opened = false;
  std::string error;
  std::string format;
  std::string videoCodec;
  std::string audioCodec;
  int width = 0;
  int height = 0;
  double frameRate = 0;  // the rate the video stream claims
  int64_t videoFrames = 0;  // decoded pictures
  std::vector<std::vector<uint8_t>> middleRows;  // luma, one row per picture
  int sampleRate = 0;
  int channels = 0;
  std::vector<int16_t> audio;
  double audioSeconds() const { return sampleRate ? static_cast<double>(audio.size()) / sampleRate : 0; }
  double videoSeconds() const { return frameRate > 0 ? videoFrames / frameRate : 0; }
};

MediaProbe probeMedia(const base::string16& path);

// The strength of `frequency` in `samples` (Goertzel), normalised to the
// amplitude of a full-scale sine: about 1.0 for a full-scale tone.
double toneLevel(const int16_t* samples, size_t count, int sampleRate, double frequency);

}  // namespace component

#endif  // COMPONENTS_RECORDER_MEDIA_PROBE_H_
