// ilbc_codec: command-line front end of our iLBC 20 ms codec.
//   ilbc_codec encode in.raw out.lbc   raw: 16-bit little-endian mono 8 kHz
//   ilbc_codec decode in.lbc out.raw   .lbc: "#!iLBC20\n" then 38-byte frames
// The .lbc layout is the common iLBC storage format, so FFmpeg and other
// tools read our files directly.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "components/audio/ilbc/ilbc.h"
#include "components/audio/ilbc_audio_converter.h"

namespace {

const char kHeader[] = "#!iLBC20\n";
constexpr size_t kHeaderLen = sizeof(kHeader) - 1;

int Usage() {
  std::fprintf(stderr,
               "usage: ilbc_codec encode <in.raw> <out.lbc>\n"
               "       ilbc_codec decode <in.lbc> <out.raw>\n"
               "raw: 16-bit little-endian mono samples at 8000 Hz\n");
  return 2;
}

bool ReadFile(const char* path, std::vector<uint8_t>* data) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) {
    std::fprintf(stderr, "ilbc_codec: cannot open %s: %s\n", path,
                 std::strerror(errno));
    return false;
  }
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0)
    data->insert(data->end(), buf, buf + n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  if (!ok) std::fprintf(stderr, "ilbc_codec: cannot read %s\n", path);
  return ok;
}

bool WriteFile(const char* path, const std::vector<uint8_t>& data) {
  std::FILE* f = std::fopen(path, "wb");
  if (!f) {
    std::fprintf(stderr, "ilbc_codec: cannot create %s: %s\n", path,
                 std::strerror(errno));
    return false;
  }
  const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  if (std::fclose(f) != 0 || !ok) {
    std::fprintf(stderr, "ilbc_codec: cannot write %s\n", path);
    return false;
  }
  return true;
}

int Encode(const char* in_path, const char* out_path) {
  std::vector<uint8_t> raw;
  if (!ReadFile(in_path, &raw)) return 1;
  if (raw.size() % 2) {
    std::fprintf(stderr, "ilbc_codec: %s: odd size, last byte ignored\n",
                 in_path);
    raw.pop_back();
  }
  const size_t frame_bytes = ilbc::kFrameSamples * 2;
  if (raw.size() % frame_bytes) {
    std::fprintf(stderr,
                 "ilbc_codec: %s: last frame padded with silence to 20 ms\n",
                 in_path);
    raw.resize((raw.size() / frame_bytes + 1) * frame_bytes, 0);
  }
  std::vector<uint8_t> out(kHeader, kHeader + kHeaderLen);
  ilbc::Encoder encoder;
  float samples[ilbc::kFrameSamples];
  uint8_t frame[ilbc::kFrameBytes];
  for (size_t pos = 0; pos < raw.size(); pos += frame_bytes) {
    for (size_t i = 0; i < ilbc::kFrameSamples; ++i) {
      const uint8_t* p = &raw[pos + 2 * i];
      samples[i] = static_cast<float>(static_cast<int16_t>(p[0] | (p[1] << 8)));
    }
    encoder.Encode(samples, frame);
    out.insert(out.end(), frame, frame + ilbc::kFrameBytes);
  }
  return WriteFile(out_path, out) ? 0 : 1;
}

int Decode(const char* in_path, const char* out_path) {
  std::vector<uint8_t> lbc;
  if (!ReadFile(in_path, &lbc)) return 1;
  if (lbc.size() >= 9 && std::memcmp(lbc.data(), "#!iLBC30\n", 9) == 0) {
    std::fprintf(stderr,
                 "ilbc_codec: %s: 30 ms iLBC files are not supported\n",
                 in_path);
    return 1;
  }
  if (lbc.size() < kHeaderLen ||
      std::memcmp(lbc.data(), kHeader, kHeaderLen) != 0) {
    std::fprintf(stderr,
                 "ilbc_codec: %s: not an iLBC 20 ms file (no \"#!iLBC20\" "
                 "header)\n",
                 in_path);
    return 1;
  }
  const size_t body = lbc.size() - kHeaderLen;
  if (body % ilbc::kFrameBytes) {
    std::fprintf(stderr,
                 "ilbc_codec: %s: %zu trailing bytes are not a whole frame, "
                 "ignored\n",
                 in_path, body % ilbc::kFrameBytes);
  }
  const size_t frames = body / ilbc::kFrameBytes;
  std::vector<uint8_t> out;
  out.reserve(frames * ilbc::kFrameSamples * 2);
  ilbc::Decoder decoder(true);
  float samples[ilbc::kFrameSamples];
  size_t concealed = 0;
  for (size_t f = 0; f < frames; ++f) {
    if (!decoder.Decode(&lbc[kHeaderLen + f * ilbc::kFrameBytes], samples))
      ++concealed;
    for (float s : samples) {
      const uint16_t v = static_cast<uint16_t>(component::SampleFromFloat(s));
      out.push_back(static_cast<uint8_t>(v & 0xff));
      out.push_back(static_cast<uint8_t>(v >> 8));
    }
  }
  if (concealed) {
    std::fprintf(stderr,
                 "ilbc_codec: %s: %zu empty or damaged frames concealed\n",
                 in_path, concealed);
  }
  return WriteFile(out_path, out) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return Usage();
  const std::string mode = argv[1];
  if (mode == "encode") return Encode(argv[2], argv[3]);
  if (mode == "decode") return Decode(argv[2], argv[3]);
  return Usage();
}
