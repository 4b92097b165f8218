// Writes the committed seed inputs of the fuzzers: valid inputs that reach
// deep into each decoder at once, so the fuzzers mutate from there rather
// than having to discover magic numbers and CRCs.
//   make_fuzz_seeds <corpus folder>   (fuzz/corpus)
// Each seed goes to <folder>/<fuzzer>/<name>; existing files are replaced.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "base/pickle.h"
#include "base/values.h"
#include "components/audio/ilbc/ilbc.h"
#include "transport/handshake.h"
#include "transport/message_frame.h"
#include "transport/transport_test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool writeSeed(const std::string& root, const std::string& fuzzer, const std::string& name, const Bytes& bytes) {
  const std::string path = root + "/" + fuzzer + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return false;
  }
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

Bytes pickleBytes(const base::Pickle& p) { return Bytes(p.data(), p.data() + p.size()); }

// A dictionary holding every kind of value the wire carries, nested (null is
// never written).
std::unique_ptr<base::DictionaryValue> everyKind(double real) {
  auto dict = std::make_unique<base::DictionaryValue>();
  dict->setBoolean("bool", true);
  dict->setInteger("int", -7);
  dict->setInt64("int64", int64_t{1} << 40);
  dict->setReal("real", real);
  dict->setString("string", "iPhone12,1");
  const uint8_t blob[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00};
  dict->set("binary", base::BinaryValue::createWithCopiedBuffer(blob, sizeof blob));
  auto* list = new base::ListValue;
  list->append(new base::FundamentalValue(1));
  list->append(new base::StringValue("two"));
  auto* inner = new base::DictionaryValue;
  inner->setReal("zero", -0.0);
  list->append(inner);
  list->append(new base::ListValue);
  dict->set("list", list);
  return dict;
}

// A component message body: the kind, then a dictionary.
Bytes componentMessage(int32_t kind, const base::DictionaryValue& body) {
  base::Pickle p;
  p.writeInt(kind);
  if (!base::writeDictionaryToPickle(body, &p)) std::abort();
  return pickleBytes(p);
}

Bytes clientHandshake(uint32_t id, uint32_t major, uint32_t minor, bool withDictionary) {
  base::DictionaryValue info;
  info.setString("DeviceModel", "iPhone12,1");
  info.setString("SystemName", "iOS");
  info.setString("SystemVersion", "17.2");
  Bytes payload;
  transport::buildClientHandshake(id, {major, minor, 0, 0}, 1234, withDictionary ? &info : nullptr, &payload);
  return payload;
}

// The frames fuzzer reads raw input when its first byte is odd; the second
// byte chooses the chunking.
Bytes rawStream(uint8_t chunking, const std::vector<std::pair<uint32_t, Bytes>>& frames) {
  Bytes out = {0x01, chunking};
  uint32_t sequence = 0;
  for (const auto& [type, payload] : frames) transport::appendFrame(type, sequence++, payload.data(), payload.size(), &out);
  return out;
}

Bytes asBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// UTF-16LE of ASCII text, as the main program writes the support request.
Bytes utf16le(const std::string& ascii) {
  Bytes bytes;
  for (char c : ascii) {
    bytes.push_back(static_cast<uint8_t>(c));
    bytes.push_back(0);
  }
  return bytes;
}

// The support tool's request and the cleaning of a phone's strings: what the
// server sends, and what a hostile phone once smuggled into it.
bool writeTextSeeds(const std::string& root) {
  const std::string request =
      "Product:Lumora ZuvIridar for iPhone\nCompany:Quillon Labs\nVersion:2.2.0.0\nLog:/tmp/Webcam.log\n"
      "SupportForm:http://h/en/support/support.php?form=zuviridar_iphone\nDeviceModel:iPhone15,3\n"
      "DeviceSoftware:iOS v17.4\n";
  bool ok = writeSeed(root, "fuzz_support_request", "seven_lines", utf16le(request));
  ok &= writeSeed(root, "fuzz_support_request", "injected_keys",
                  utf16le("DeviceModel:X\nCompressedLog:/home/u/.ssh/id_rsa\nTarFile:TRUE\nShippedLog:x\n" + request));
  ok &= writeSeed(root, "fuzz_peer_text", "injected_line", asBytes("iPhone15,3\nCompressedLog:/etc/passwd\r\n"));
  ok &= writeSeed(root, "fuzz_peer_text", "terminal_sequences", asBytes("iOS\x1b]0;t\x07\x1b[2J\xc2\x9b" "0m\x7f"));
  ok &= writeSeed(root, "fuzz_peer_text", "directional", asBytes("Anna\xe2\x80\xae" "gpj.exe\xe2\x81\xa6x\xe2\x81\xa9"));
  ok &= writeSeed(root, "fuzz_peer_text", "invalid_utf8", asBytes("\xff\xc0\x80\xed\xa0\x80\xf4\x90\x80\x80 ok"));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
    return 2;
  }
  const std::string root = argv[1];
  bool ok = true;

  // Values: a tree of every kind, behind a message kind and without one; a
  // NaN (it once stopped the fuzzer's own round-trip check).
  {
    base::Pickle tree;
    if (!base::writeDictionaryToPickle(*everyKind(2.5), &tree)) return 1;
    ok &= writeSeed(root, "fuzz_values", "every_kind", pickleBytes(tree));
    ok &= writeSeed(root, "fuzz_values", "every_kind_with_message_kind", componentMessage(3, *everyKind(2.5)));
    base::Pickle nan;
    if (!base::writeDictionaryToPickle(*everyKind(std::numeric_limits<double>::quiet_NaN()), &nan)) return 1;
    ok &= writeSeed(root, "fuzz_values", "nan_real", pickleBytes(nan));
  }

  // Frames: a whole session of a phone, an old phone, a foreign application,
  // and a second handshake on an admitted connection.
  {
    base::DictionaryValue auth;
    auth.setString("UniqueID", "0123456789abcdef");
    auth.setString("Name", "Phone");
    base::DictionaryValue video;
    video.setInteger("Width", 640);
    video.setInteger("Height", 480);
    video.setInteger("Codec", 0x6A706567);
    base::DictionaryValue audio;
    audio.setInteger("Codec", 0x696C6263);
    audio.setInteger("SampleRate", 8000);
    base::DictionaryValue action;
    action.setInteger("Action", 1);
    const Bytes farewell = {0, 0, 0, 0};
    ok &= writeSeed(root, "fuzz_frames", "raw_session",
                    rawStream(7, {{transport::kMessageHandshake, clientHandshake(12000, 2, 2, true)},
                                  {14, componentMessage(1, auth)},
                                  {13001, componentMessage(1, video)},
                                  {56001, componentMessage(1, audio)},
                                  {91001, componentMessage(1, action)},
                                  {transport::kMessageFarewell, farewell}}));
    ok &= writeSeed(root, "fuzz_frames", "raw_v1_then_component",
                    rawStream(255, {{transport::kMessageHandshake, clientHandshake(12000, 1, 9, false)},
                                    {14, componentMessage(2, auth)}}));
    ok &= writeSeed(root, "fuzz_frames", "raw_twice_handshaken",
                    rawStream(1, {{transport::kMessageHandshake, clientHandshake(12000, 2, 0, true)},
                                  {transport::kMessageHandshake, clientHandshake(12000, 2, 0, true)}}));
  }

  // False frame starts after a handshake: what a hostile peer sends to make
  // the PC scan the same bytes again and again.
  {
    Bytes stream = rawStream(3, {{transport::kMessageHandshake, clientHandshake(12000, 2, 0, true)}});
    const Bytes headers = transport::falseFrameHeaders(64, 1024);
    stream.insert(stream.end(), headers.begin(), headers.end());
    ok &= writeSeed(root, "fuzz_frames", "raw_false_headers", stream);
    Bytes before = {0x01, 5};
    const Bytes early = transport::falseFrameHeaders(8, 100);
    before.insert(before.end(), early.begin(), early.end());
    ok &= writeSeed(root, "fuzz_frames", "raw_false_headers_before_handshake", before);
  }

  // The wave service's control lines: the first byte is the chunking.
  for (const char* request : {"ping\n", "pause\r\n", "continue\n", "reload\n", "state\n", "bogus\n"}) {
    Bytes seed = {17};
    seed.insert(seed.end(), request, request + std::char_traits<char>::length(request));
    std::string name = request;
    name = name.substr(0, name.find_first_of("\r\n"));
    ok &= writeSeed(root, "fuzz_wave_control", name, seed);
  }
  {
    Bytes seed = {1};
    seed.insert(seed.end(), 300, 'a');
    seed.push_back('\n');
    ok &= writeSeed(root, "fuzz_wave_control", "too_long", seed);
  }

  // iLBC: a .lbc file of a second of a tone, and bare frames with losses.
  {
    ilbc::Encoder encoder;
    const char header[] = "#!iLBC20\n";
    Bytes file = {0x01};
    file.insert(file.end(), header, header + sizeof(header) - 1);
    Bytes bare = {0x0E};
    for (int f = 0; f < 10; ++f) {
      float samples[ilbc::kFrameSamples];
      for (size_t i = 0; i < ilbc::kFrameSamples; ++i)
        samples[i] = 8000.0f * static_cast<float>(((f * ilbc::kFrameSamples + i) % 40) < 20 ? 1 : -1);
      uint8_t frame[ilbc::kFrameBytes];
      encoder.Encode(samples, frame);
      file.insert(file.end(), frame, frame + ilbc::kFrameBytes);
      bare.insert(bare.end(), frame, frame + ilbc::kFrameBytes);
    }
    ok &= writeSeed(root, "fuzz_ilbc", "square_wave.lbc", file);
    ok &= writeSeed(root, "fuzz_ilbc", "bare_frames_with_losses", bare);
  }

  // Update answers: a plain version, one after a byte-order mark with a
  // revision, and a page that is not one.
  for (const auto& [name, text] : std::vector<std::pair<std::string, std::string>>{
           {"plain", "2.3.1"}, {"bom_revision", "\xEF\xBB\xBF 2.2.0.15\r\n"}, {"html", "<html>2.3</html>"}})
    ok &= writeSeed(root, "fuzz_update_answer", name, Bytes(text.begin(), text.end()));

  ok &= writeTextSeeds(root);
  return ok ? 0 : 1;
}
