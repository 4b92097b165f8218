// Arbitrary bytes, in arbitrary chunks, into the frame decoder and into a
// message bearer that has not seen a handshake yet. Nothing may crash; the
// decoder never holds more than one frame plus the chunk being fed; every
// frame it hands out appears verbatim in the stream with matching header CRC
// and trailer; whatever the bearer answers is well-formed frames numbered
// from 0.
//
// The first byte picks how the rest is read: as raw chunks (odd) or as a
// recipe of garbage, valid frames, frames with a broken trailer and phone
// handshakes (even), so that the deep paths are reached without the fuzzer
// having to discover CRCs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/logging.h"
#include "fuzz/fuzz_util.h"
#include "transport/byte_order.h"
#include "transport/handshake.h"
#include "transport/message_bearer.h"
#include "transport/message_frame.h"
#include "transport/transport_test_support.h"

using fuzz::check;

namespace {

using namespace transport;

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t pos = 0;
  bool empty() const { return pos >= size; }
  uint8_t byte() { return pos < size ? data[pos++] : 0; }
  uint32_t u32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(byte()) << (8 * i);
    return v;
  }
  std::vector<uint8_t> take(size_t n) {
    n = std::min(n, size - std::min(pos, size));
    std::vector<uint8_t> out(data + pos, data + pos + n);
    pos += n;
    return out;
  }
};

std::vector<uint8_t> recipe(Reader* in) {
  static const uint32_t kTypes[] = {kMessageHandshake, kMessageFarewell, 14, 13001, 56001, 91001};
  std::vector<uint8_t> stream;
  while (!in->empty()) {
    const uint8_t kind = in->byte();
    switch (kind % 4) {
      case 0: {
        const std::vector<uint8_t> junk = in->take(in->byte());
        stream.insert(stream.end(), junk.begin(), junk.end());
        break;
      }
      case 1:
      case 2: {
        const uint32_t type = kTypes[in->byte() % 6];
        const std::vector<uint8_t> payload = in->take(in->byte());
        appendFrame(type, in->byte(), payload.data(), payload.size(), &stream);
        if (kind % 4 == 2) stream.back() ^= 1 + (kind >> 2);  // spoil the trailer
        break;
      }
      case 3: {
        const uint32_t id = (kind & 0x10) ? 12000 : in->u32();
        const VersionParts version{in->byte() % 4u, in->byte() % 12u, 0, 0};
        std::vector<uint8_t> payload;
        buildClientHandshake(id, version, in->u32(), nullptr, &payload);
        const std::vector<uint8_t> rest = in->take(in->byte());
        payload.insert(payload.end(), rest.begin(), rest.end());
        appendFrame(kMessageHandshake, 0, payload.data(), payload.size(), &stream);
        break;
      }
    }
  }
  return stream;
}

bool occursIn(const std::vector<uint8_t>& stream, const std::vector<uint8_t>& bytes) {
  if (bytes.size() > stream.size()) return false;
  for (size_t i = 0; i + bytes.size() <= stream.size(); ++i)
    if (std::memcmp(stream.data() + i, bytes.data(), bytes.size()) == 0) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silenceLogging();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const bool raw = data[0] & 1;
  const uint8_t chunking = data[1];
  Reader in{data + 2, size - 2};
  const std::vector<uint8_t> stream = raw ? in.take(size) : recipe(&in);

  FrameDecoder decoder;
  MessageBearer bearer;
  bearer.setApplicationId(12000);
  bearer.setVersion(2, 2, 0, 0);
  auto* fake = new FakeDataBearer;
  bearer.attach(fake);
  fake->connect();

  // Chunk sizes follow a small pattern chosen by the input, 1 to 256 bytes.
  size_t at = 0, step = 0;
  while (at < stream.size()) {
    const size_t n = std::min<size_t>(stream.size() - at, 1 + ((chunking * (step + 1) * 37) & 0xFF));
    ++step;
    decoder.feed(stream.data() + at, n, [&](Frame& frame) {
      check(frame.payload.size() <= kMaxReceivePayloadBytes);
      // The frame as it must have been on the wire.
      std::vector<uint8_t> wire(kFrameHeaderBytes);
      storeLe32(wire.data(), kFrameMagic);
      storeLe32(wire.data() + 4, frame.type);
      storeLe32(wire.data() + 12, frame.sequence);
      storeLe32(wire.data() + 16, static_cast<uint32_t>(frame.payload.size()));
      const uint32_t crc = frameCrc(wire.data(), 20);
      storeLe32(wire.data() + 20, crc);
      wire.insert(wire.end(), frame.payload.begin(), frame.payload.end());
      appendLe32(&wire, crc);
      check(occursIn(stream, wire));
      return true;
    });
    check(decoder.bufferedBytes() <= kFrameOverheadBytes + kMaxReceivePayloadBytes + n);
    fake->receive(std::vector<uint8_t>(stream.begin() + at, stream.begin() + at + n));
    check(bearer.decoder()->bufferedBytes() <= kFrameOverheadBytes + kMaxReceivePayloadBytes + n);
    at += n;
  }

  // What the PC answered: whole frames only, numbered 0, 1, ...; a farewell
  // is always followed by the request to close.
  const std::vector<uint8_t> answer = fake->written();
  FrameDecoder check_decoder;
  uint32_t expected = 0;
  bool farewell = false;
  check_decoder.feed(answer.data(), answer.size(), [&](Frame& frame) {
    check(frame.sequence == expected++);
    check(frame.type == kMessageHandshake || frame.type == kMessageFarewell);
    if (frame.type == kMessageFarewell) farewell = true;
    return true;
  });
  check(check_decoder.skippedBytes() == 0 && check_decoder.bufferedBytes() == 0);
  check(expected == fake->writes.size());
  check(farewell == (fake->disconnectsAfterWriting > 0));
  check(!bearer.handshakePassed() || expected >= 1);
  // A bearer whose decoder gave up has closed its connection.
  check(bearer.decoder()->stopped() == (fake->disconnects > 0));
  return 0;
}
