#include "tools/phonesim/wav_file.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace phonesim {

namespace {

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
void put32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void put16(std::vector<uint8_t>* out, uint16_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}

constexpr size_t kMaxWavBytes = 512u << 20;

}  // namespace

bool readWav(const std::string& path, int* rate, std::vector<int16_t>* mono, std::string* error) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) {
    *error = "cannot open " + path;
    return false;
  }
  std::vector<uint8_t> bytes;
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), file.get())) > 0) {
    bytes.insert(bytes.end(), buffer, buffer + n);
    if (bytes.size() > kMaxWavBytes) {
      *error = path + " is too large";
      return false;
    }
  }
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) || std::memcmp(bytes.data() + 8, "WAVE", 4)) {
    *error = path + " is not a WAV file";
    return false;
  }
  int channels = 0, bits = 0;
  const uint8_t* data = nullptr;
  size_t dataBytes = 0;
  for (size_t at = 12; at + 8 <= bytes.size();) {
    const uint32_t size = le32(&bytes[at + 4]);
    const size_t body = at + 8;
    const size_t avail = bytes.size() - body;
    const size_t take = size < avail ? size : avail;
    if (!std::memcmp(&bytes[at], "fmt ", 4) && take >= 16) {
      if (le16(&bytes[body]) != 1) {
        *error = path + ": only PCM WAV files are supported";
        return false;
      }
      channels = le16(&bytes[body + 2]);
      *rate = static_cast<int>(le32(&bytes[body + 4]));
      bits = le16(&bytes[body + 14]);
    } else if (!std::memcmp(&bytes[at], "data", 4)) {
      data = &bytes[body];
      dataBytes = take;
    }
    at = body + take + (take & 1);
  }
  if (!data || channels <= 0 || bits != 16 || *rate <= 0) {
    *error = path + ": needs 16-bit PCM samples";
    return false;
  }
  const size_t frames = dataBytes / (2 * static_cast<size_t>(channels));
  mono->resize(frames);
  for (size_t f = 0; f < frames; ++f) {
    int32_t sum = 0;
    for (int c = 0; c < channels; ++c)
      sum += static_cast<int16_t>(le16(data + 2 * (f * static_cast<size_t>(channels) + static_cast<size_t>(c))));
    (*mono)[f] = static_cast<int16_t>(sum / channels);
  }
  return true;
}

bool writeWav(const std::string& path, int rate, const std::vector<int16_t>& mono) {
  std::vector<uint8_t> out;
  const uint32_t dataBytes = static_cast<uint32_t>(mono.size() * 2);
  out.insert(out.end(), {'R', 'I', 'F', 'F'});
  put32(&out, 36 + dataBytes);
  out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put32(&out, 16);
  put16(&out, 1);
  put16(&out, 1);
  put32(&out, static_cast<uint32_t>(rate));
  put32(&out, static_cast<uint32_t>(rate) * 2);
  put16(&out, 2);
  put16(&out, 16);
  out.insert(out.end(), {'d', 'a', 't', 'a'});
  put32(&out, dataBytes);
  for (int16_t s : mono) put16(&out, static_cast<uint16_t>(s));
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
  return file && std::fwrite(out.data(), 1, out.size(), file.get()) == out.size();
}

}  // namespace phonesim
