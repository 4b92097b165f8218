#include "components/audio/audio_converter.h"

namespace component {

bool DummyAudioConverter::Convert(const void* data, size_t size) {
  data_ = data;
  size_ = size;
  return true;
}

const void* DummyAudioConverter::Data() { return data_; }

size_t DummyAudioConverter::Size() { return size_; }

}  // namespace component
