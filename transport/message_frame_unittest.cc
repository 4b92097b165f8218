#include "transport/message_frame.h"

#include <gtest/gtest.h>

#include <random>

#include "transport/byte_order.h"

namespace transport {
namespace {

std::vector<uint8_t> frameOf(uint32_t type, uint32_t sequence, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> out;
  EXPECT_TRUE(appendFrame(type, sequence, payload.data(), payload.size(), &out));
  return out;
}

std::vector<uint8_t> bytesOf(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
  return v;
}

// Feeds `stream` in chunks of `chunk` bytes and collects the frames.
std::vector<Frame> decodeAll(FrameDecoder* decoder, const std::vector<uint8_t>& stream, size_t chunk) {
  std::vector<Frame> frames;
  for (size_t at = 0; at < stream.size(); at += chunk) {
    const size_t n = std::min(chunk, stream.size() - at);
    decoder->feed(stream.data() + at, n, [&](Frame& f) {
      frames.push_back(std::move(f));
      return true;
    });
  }
  return frames;
}

TEST(FrameEncoding, FarewellFrameIsExact) {
  const std::vector<uint8_t> expected = {0x01, 0, 0, 0, 0x06, 0, 0, 0, 0, 0, 0, 0, 0x01, 0, 0, 0,
                                         0x04, 0, 0, 0, 0x6B, 0xC5, 0x3E, 0x75, 0x02, 0, 0, 0,
                                         0x6B, 0xC5, 0x3E, 0x75};
  EXPECT_EQ(frameOf(kMessageFarewell, 1, {2, 0, 0, 0}), expected);
  // The CRC itself: table of 0xEDB88320, register from 0, no final inversion.
  EXPECT_EQ(frameCrc(expected.data(), 20), 0x753EC56Bu);
  EXPECT_EQ(frameCrc(nullptr, 0), 0u);
  // Continuing a CRC over a split buffer gives the same value.
  EXPECT_EQ(frameCrc(expected.data() + 7, 13, frameCrc(expected.data(), 7)), 0x753EC56Bu);
}

TEST(FrameEncoding, SequenceCountsFramesAndSizeLimitHolds) {
  FrameEncoder encoder;
  std::vector<uint8_t> frame;
  ASSERT_TRUE(encoder.encode(kMessageHandshake, nullptr, 0, &frame));
  EXPECT_EQ(frame.size(), kFrameOverheadBytes);
  EXPECT_EQ(loadLe32(frame.data() + 12), 0u);

  const std::vector<uint8_t> largest(kMaxSendPayloadBytes, 0xAB);
  ASSERT_TRUE(encoder.encode(14, largest.data(), largest.size(), &frame));
  EXPECT_EQ(frame.size(), 262120u + 28u);
  EXPECT_EQ(loadLe32(frame.data() + 12), 1u);
  EXPECT_EQ(loadLe32(frame.data() + 16), 262120u);

  // One byte more is refused, writes nothing and does not use up a number.
  const std::vector<uint8_t> tooLarge(kMaxSendPayloadBytes + 1, 0xAB);
  std::vector<uint8_t> untouched = {9};
  EXPECT_FALSE(appendFrame(14, 5, tooLarge.data(), tooLarge.size(), &untouched));
  EXPECT_EQ(untouched, std::vector<uint8_t>{9});
  EXPECT_FALSE(encoder.encode(14, tooLarge.data(), tooLarge.size(), &frame));
  EXPECT_EQ(encoder.sequence(), 2u);
  ASSERT_TRUE(encoder.encode(14, nullptr, 0, &frame));
  EXPECT_EQ(loadLe32(frame.data() + 12), 2u);
}

TEST(FrameDecoding, FramesInOneChunkAndSplitAnywhere) {
  std::vector<uint8_t> stream = frameOf(14, 0, bytesOf(100, 1));
  const std::vector<uint8_t> second = frameOf(13001, 1, bytesOf(3, 9));
  const std::vector<uint8_t> empty = frameOf(6, 2, {});
  stream.insert(stream.end(), second.begin(), second.end());
  stream.insert(stream.end(), empty.begin(), empty.end());

  for (size_t chunk : {stream.size(), size_t{1}, size_t{5}, size_t{23}, size_t{24}, size_t{25}}) {
    SCOPED_TRACE(chunk);
    FrameDecoder decoder;
    const std::vector<Frame> frames = decodeAll(&decoder, stream, chunk);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].type, 14u);
    EXPECT_EQ(frames[0].sequence, 0u);
    EXPECT_EQ(frames[0].payload, bytesOf(100, 1));
    EXPECT_EQ(frames[1].type, 13001u);
    EXPECT_EQ(frames[1].payload, bytesOf(3, 9));
    EXPECT_EQ(frames[2].type, 6u);
    EXPECT_TRUE(frames[2].payload.empty());
    EXPECT_EQ(decoder.bufferedBytes(), 0u);
    EXPECT_EQ(decoder.skippedBytes(), 0u);
  }
}

TEST(FrameDecoding, SkipsGarbageStrayMagicAndFalseCandidates) {
  const std::vector<uint8_t> good = frameOf(14, 7, bytesOf(40, 3));

  // A stray 01 (and a stray 01 00) right before a frame.
  for (const std::vector<uint8_t>& prefix :
       {std::vector<uint8_t>{0x01}, std::vector<uint8_t>{0x01, 0x00}, std::vector<uint8_t>{0x01, 0, 0, 0},
        std::vector<uint8_t>{0xFF, 0x01, 0x00, 0x00, 0x00, 0x01}}) {
    std::vector<uint8_t> stream = prefix;
    stream.insert(stream.end(), good.begin(), good.end());
    stream.insert(stream.end(), good.begin(), good.end());
    for (size_t chunk : {stream.size(), size_t{1}}) {
      FrameDecoder decoder;
      const std::vector<Frame> frames = decodeAll(&decoder, stream, chunk);
      ASSERT_EQ(frames.size(), 2u) << "prefix " << prefix.size() << " chunk " << chunk;
      EXPECT_EQ(frames[1].payload, bytesOf(40, 3));
      EXPECT_EQ(decoder.skippedBytes(), prefix.size());
    }
  }

  // A correct header CRC with a wrong trailer is not delivered; the frame
  // after it is.
  std::vector<uint8_t> badTrailer = good;
  badTrailer.back() ^= 0x01;
  std::vector<uint8_t> stream = badTrailer;
  stream.insert(stream.end(), good.begin(), good.end());
  FrameDecoder decoder;
  std::vector<Frame> frames = decodeAll(&decoder, stream, 3);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].sequence, 7u);
  EXPECT_EQ(decoder.bufferedBytes(), 0u);

  // A wrong header CRC, and a declared length above the limit (with a
  // correct CRC), are false starts.
  std::vector<uint8_t> badCrc = good;
  badCrc[20] ^= 0x80;
  std::vector<uint8_t> tooLong;
  appendFrame(14, 0, nullptr, 0, &tooLong);
  storeLe32(tooLong.data() + 16, kMaxReceivePayloadBytes + 1);
  storeLe32(tooLong.data() + 20, frameCrc(tooLong.data(), 20));
  for (const auto& bad : {badCrc, tooLong}) {
    std::vector<uint8_t> s = bad;
    s.insert(s.end(), good.begin(), good.end());
    FrameDecoder d;
    frames = decodeAll(&d, s, s.size());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].payload, bytesOf(40, 3));
  }
}

TEST(FrameDecoding, FrameHiddenInsideAFalseCandidateIsFound) {
  // A valid header that promises a payload which then fails its trailer:
  // the real frame inside that "payload" must still be found.
  const std::vector<uint8_t> inner = frameOf(91001, 3, bytesOf(10, 5));
  std::vector<uint8_t> outer = frameOf(14, 0, inner);
  outer.back() ^= 0xFF;  // spoil the trailer
  for (size_t chunk : {outer.size(), size_t{1}, size_t{30}}) {
    FrameDecoder decoder;
    const std::vector<Frame> frames = decodeAll(&decoder, outer, chunk);
    ASSERT_EQ(frames.size(), 1u) << chunk;
    EXPECT_EQ(frames[0].type, 91001u);
    EXPECT_EQ(frames[0].payload, bytesOf(10, 5));
  }
}

TEST(FrameDecoding, LargestPayloadIsAcceptedAndMemoryStaysBounded) {
  // A receiver takes payloads up to 262,144 bytes, more than a sender builds.
  std::vector<uint8_t> big(kFrameHeaderBytes);
  storeLe32(big.data(), 1);
  storeLe32(big.data() + 4, 13001);
  storeLe32(big.data() + 16, kMaxReceivePayloadBytes);
  const uint32_t crc = frameCrc(big.data(), 20);
  storeLe32(big.data() + 20, crc);
  big.resize(big.size() + kMaxReceivePayloadBytes, 0x5A);
  appendLe32(&big, crc);
  FrameDecoder decoder;
  size_t peak = 0;
  std::vector<Frame> frames;
  for (size_t at = 0; at < big.size(); at += 1000) {
    const size_t n = std::min<size_t>(1000, big.size() - at);
    decoder.feed(big.data() + at, n, [&](Frame& f) {
      frames.push_back(std::move(f));
      return true;
    });
    peak = std::max(peak, decoder.bufferedBytes());
  }
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].payload.size(), kMaxReceivePayloadBytes);
  EXPECT_LT(peak, kFrameOverheadBytes + kMaxReceivePayloadBytes);

  // Garbage, including false starts, never piles up: whatever has been
  // scanned is let go.
  std::mt19937 random(7);
  std::vector<uint8_t> garbage(64 * 1024);
  for (int round = 0; round < 64; ++round) {
    for (auto& b : garbage) b = static_cast<uint8_t>(random() % 3);  // plenty of 00 and 01
    decoder.feed(garbage.data(), garbage.size(), [&](Frame&) { return true; });
    EXPECT_LT(decoder.bufferedBytes(), kFrameHeaderBytes);
  }
  EXPECT_GT(decoder.skippedBytes(), 60u * 64 * 1024);

  // A header that promises the largest payload holds at most that frame.
  std::vector<uint8_t> promise(big.begin(), big.begin() + kFrameHeaderBytes);
  decoder.feed(promise.data(), promise.size(), [&](Frame&) { return true; });
  for (int round = 0; round < 8; ++round) {
    decoder.feed(garbage.data(), garbage.size(), [&](Frame&) { return true; });
    EXPECT_LE(decoder.bufferedBytes(), kFrameOverheadBytes + kMaxReceivePayloadBytes + garbage.size());
  }
}

TEST(FrameDecoding, MoreBytesFedFromInsideTheCallbackKeepTheirOrder) {
  const std::vector<uint8_t> a = frameOf(14, 0, {1});
  const std::vector<uint8_t> b = frameOf(14, 1, {2});
  const std::vector<uint8_t> c = frameOf(14, 2, {3});
  std::vector<uint8_t> ab = a;
  ab.insert(ab.end(), b.begin(), b.end());
  FrameDecoder decoder;
  std::vector<uint32_t> order;
  bool fedMore = false;
  std::function<bool(Frame&)> onFrame = [&](Frame& f) {
    order.push_back(f.sequence);
    if (!fedMore) {
      fedMore = true;
      decoder.feed(c.data(), c.size(), onFrame);
    }
    return true;
  };
  decoder.feed(ab.data(), ab.size(), onFrame);
  EXPECT_EQ(order, (std::vector<uint32_t>{0, 1, 2}));

  // Stopping (the owner is gone) leaves the rest unread.
  FrameDecoder stopping;
  int seen = 0;
  stopping.feed(ab.data(), ab.size(), [&](Frame&) {
    ++seen;
    return false;
  });
  EXPECT_EQ(seen, 1);
}

}  // namespace
}  // namespace transport
