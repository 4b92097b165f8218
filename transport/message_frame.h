// The frame every message travels in, all fields little-endian:
//   magic 1 | type | reserved 0 | sequence | payload length | header CRC
//   | payload | trailer (the header CRC again)
// The CRC covers the first 20 header bytes only: the reflected CRC-32 table
// of polynomial 0xEDB88320 with the register starting at 0 and no final
// inversion. Receivers find frames by scanning for the header pattern, so
// bytes between frames are skipped.
#ifndef TRANSPORT_MESSAGE_FRAME_H_
#define TRANSPORT_MESSAGE_FRAME_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace transport {

constexpr size_t kFrameHeaderBytes = 24;
constexpr size_t kFrameTrailerBytes = 4;
constexpr size_t kFrameOverheadBytes = kFrameHeaderBytes + kFrameTrailerBytes;
constexpr uint32_t kFrameMagic = 1;
// A sender keeps header and payload within 256 KiB...
constexpr size_t kMaxSendPayloadBytes = 262120;
// ...and a receiver accepts payloads up to 256 KiB.
constexpr size_t kMaxReceivePayloadBytes = 262144;

// Message types of the transport itself; the components use their ids.
constexpr uint32_t kMessageHandshake = 3;
constexpr uint32_t kMessageFarewell = 6;

// Farewell reasons.
constexpr uint32_t kFarewellSessionEnded = 0;
constexpr uint32_t kFarewellAnotherPhoneConnected = 1;
constexpr uint32_t kFarewellApplicationRejected = 2;

// Continues `crc` over `size` bytes.
uint32_t frameCrc(const uint8_t* data, size_t size, uint32_t crc = 0);

// Appends the frame for (type, sequence, payload) to *out. False, with *out
// untouched, when the payload is longer than kMaxSendPayloadBytes.
bool appendFrame(uint32_t type, uint32_t sequence, const uint8_t* payload, size_t size,
                 std::vector<uint8_t>* out);

// Builds the frames of one connection: the sequence starts at 0 and counts
// every frame built.
class FrameEncoder {
 public:
  // The whole frame, or false (and nothing counted) for an oversized payload.
  bool encode(uint32_t type, const uint8_t* payload, size_t size, std::vector<uint8_t>* frame);
  // Frames built so far, which is also the next sequence number.
  uint32_t sequence() const { return sequence_; }

 private:
  uint32_t sequence_ = 0;
};

struct Frame {
  uint32_t type = 0;
  uint32_t sequence = 0;
  std::vector<uint8_t> payload;
};

// A complete 24-byte header that turned out not to start a frame.
struct FalseCandidate {
  // Its header CRC was right (so its payload was collected) and only the
  // trailer differed; otherwise the length or the header CRC was wrong.
  bool headerValid = false;
  // Bytes the candidate had taken in, all of which are scanned again.
  size_t bytes = 0;
};

// Finds frames in a received byte stream. A resumable scanner: bytes may
// arrive in any chunks, and scanning resumes where it stopped. A candidate
// start (01 00 00 00) whose declared length is too large, whose header CRC
// differs or whose trailer differs is skipped by one byte and the scan goes
// on from the next byte. Skipped bytes are dropped as they are scanned, so
// the decoder never holds more than one frame plus the chunk being fed,
// whatever arrives.
//
// Payload bytes are copied once, straight into the frame that is handed out.
class FrameDecoder {
 public:
  FrameDecoder() = default;
  FrameDecoder(const FrameDecoder&) = delete;
  FrameDecoder& operator=(const FrameDecoder&) = delete;

  // Scans `data` and calls onFrame(Frame&) for every complete frame, in
  // order. onFrame returns true to go on, or false when the decoder's owner
  // is gone: feed() then returns at once without touching the decoder. The
  // decoder's state is consistent whenever onFrame runs, so onFrame may feed
  // more bytes itself.
  template <typename OnFrame>
  void feed(const uint8_t* data, size_t size, OnFrame&& onFrame) {
    if (stopped_) return;
    beginInput(data, size);
    Frame frame;
    while (nextFrame(&frame)) {
      if (!onFrame(frame)) return;
    }
  }

  // Told of every false candidate with a complete header, right when it is
  // found. Each one makes the decoder scan its bytes again, so a peer can
  // make it work far more than it sends; the handler answers false to stop
  // decoding for good (the connection is being closed): feed() then returns
  // at once, now and later.
  using FalseCandidateHandler = std::function<bool(const FalseCandidate&)>;
  void setFalseCandidateHandler(FalseCandidateHandler handler) { onFalseCandidate_ = std::move(handler); }
  bool stopped() const { return stopped_; }

  // Bytes held for a frame that is not complete yet (or to be scanned again).
  size_t bufferedBytes() const;
  // Bytes skipped so far while looking for frames.
  uint64_t skippedBytes() const { return skipped_; }

 private:
  enum State {
    kSeekMagic,     // looking for 01
    kMagic1,        // three 00 bytes must follow
    kMagic2,
    kMagic3,
    kHeader,        // collecting the rest of the 24 header bytes
    kPayload,
    kTrailer,
  };

  void beginInput(const uint8_t* data, size_t size);
  // The next complete frame, or false once every fed byte is consumed.
  bool nextFrame(Frame* frame);
  // Reads the unread input: first bytes to be scanned again, then the fed ones.
  size_t available() const;
  const uint8_t* peek() const;
  void consume(size_t n);
  // The candidate at the start of the collected bytes is false: skip its
  // first byte and scan the rest again.
  void resync();
  // resync() after a complete header; false when the handler stops decoding.
  bool dropCandidate(bool headerValid);

  State state_ = kSeekMagic;
  uint8_t header_[kFrameHeaderBytes] = {};
  size_t headerBytes_ = 0;
  uint32_t type_ = 0;
  uint32_t sequence_ = 0;
  uint32_t length_ = 0;
  uint32_t crc_ = 0;
  std::vector<uint8_t> payload_;
  uint8_t trailer_[kFrameTrailerBytes] = {};
  size_t trailerBytes_ = 0;

  // Bytes to scan before the fed input (the rest of a false candidate, or
  // input left unread when more was fed during onFrame).
  std::vector<uint8_t> rescan_;
  size_t rescanPos_ = 0;
  // The input of the running feed(); borrowed, valid only inside feed().
  const uint8_t* input_ = nullptr;
  size_t inputSize_ = 0;
  size_t inputPos_ = 0;

  uint64_t skipped_ = 0;
  FalseCandidateHandler onFalseCandidate_;
  bool stopped_ = false;
};

}  // namespace transport

#endif  // TRANSPORT_MESSAGE_FRAME_H_
