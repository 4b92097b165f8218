// AudioPacketData: the record in every audio queue, for packets on the wire
// (8 kHz positions) and for the 48 kHz copies the recorder gets.
#ifndef COMPONENTS_AUDIO_AUDIO_PACKET_DATA_H_
#define COMPONENTS_AUDIO_AUDIO_PACKET_DATA_H_

#include <cstdint>
#include <vector>

#include "components/component_message.h"

namespace component {

constexpr uint32_t kAudioFormatILBC = fourCC('i', 'l', 'b', 'c');
constexpr uint32_t kAudioFormatLPCM = fourCC('l', 'p', 'c', 'm');

// Where the samples of an observer copy come from.
constexpr int32_t kAudioOriginPC = 0;     // captured on the PC
constexpr int32_t kAudioOriginPhone = 1;  // decoded from the phone

struct AudioPacketData {
  uint32_t format = 0xFFFFFFFFu;
  int32_t origin = -1;
  // Position of the first sample: 8 kHz samples in messages, 48 kHz samples
  // in the observer copies.
  int64_t timestamp = -1;
  // Arrival time of a received packet, microseconds.
  int64_t received = -1;
  int32_t frames = -1;
  std::vector<uint8_t> data;
};

}  // namespace component

#endif  // COMPONENTS_AUDIO_AUDIO_PACKET_DATA_H_
