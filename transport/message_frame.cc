#include "transport/message_frame.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "transport/byte_order.h"

namespace transport {
namespace {

constexpr std::array<uint32_t, 256> makeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    table[i] = c;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = makeCrcTable();

}  // namespace

uint32_t frameCrc(const uint8_t* data, size_t size, uint32_t crc) {
  for (size_t i = 0; i < size; ++i) crc = (crc >> 8) ^ kCrcTable[(crc ^ data[i]) & 0xFF];
  return crc;
}

bool appendFrame(uint32_t type, uint32_t sequence, const uint8_t* payload, size_t size,
                 std::vector<uint8_t>* out) {
  if (size > kMaxSendPayloadBytes) return false;
  uint8_t header[kFrameHeaderBytes];
  storeLe32(header, kFrameMagic);
  storeLe32(header + 4, type);
  storeLe32(header + 8, 0);
  storeLe32(header + 12, sequence);
  storeLe32(header + 16, static_cast<uint32_t>(size));
  const uint32_t crc = frameCrc(header, 20);
  storeLe32(header + 20, crc);
  out->reserve(out->size() + size + kFrameOverheadBytes);
  out->insert(out->end(), header, header + kFrameHeaderBytes);
  if (size > 0) out->insert(out->end(), payload, payload + size);
  out->insert(out->end(), header + 20, header + 24);
  return true;
}

bool FrameEncoder::encode(uint32_t type, const uint8_t* payload, size_t size, std::vector<uint8_t>* frame) {
  frame->clear();
  if (!appendFrame(type, sequence_, payload, size, frame)) return false;
  ++sequence_;
  return true;
}

size_t FrameDecoder::bufferedBytes() const {
  return (rescan_.size() - rescanPos_) + headerBytes_ + payload_.size() + trailerBytes_;
}

void FrameDecoder::beginInput(const uint8_t* data, size_t size) {
  if (input_ && inputPos_ < inputSize_) {
    // More bytes while the previous ones are still being scanned (fed from
    // inside onFrame): keep the unread rest, in order, ahead of them.
    rescan_.erase(rescan_.begin(), rescan_.begin() + static_cast<std::ptrdiff_t>(rescanPos_));
    rescanPos_ = 0;
    rescan_.insert(rescan_.end(), input_ + inputPos_, input_ + inputSize_);
  }
  input_ = data;
  inputSize_ = data ? size : 0;
  inputPos_ = 0;
}

size_t FrameDecoder::available() const {
  if (rescanPos_ < rescan_.size()) return rescan_.size() - rescanPos_;
  return inputSize_ - inputPos_;
}

const uint8_t* FrameDecoder::peek() const {
  if (rescanPos_ < rescan_.size()) return rescan_.data() + rescanPos_;
  return input_ + inputPos_;
}

void FrameDecoder::consume(size_t n) {
  if (rescanPos_ < rescan_.size()) {
    rescanPos_ += n;
    if (rescanPos_ == rescan_.size()) {
      rescan_.clear();
      rescanPos_ = 0;
    }
  } else {
    inputPos_ += n;
  }
}

void FrameDecoder::resync() {
  ++skipped_;
  // Everything collected after the candidate's first byte is scanned again,
  // ahead of what has not been read yet.
  const size_t headerBack = headerBytes_ > 0 ? headerBytes_ - 1 : 0;
  const size_t back = headerBack + payload_.size() + trailerBytes_;
  if (back == 0) {
    // Only the candidate's first byte was collected: nothing to scan again.
  } else if (back <= rescanPos_) {
    // The bytes came out of the rescan buffer: step back over them.
    rescanPos_ -= back;
    uint8_t* dst = rescan_.data() + rescanPos_;
    std::memcpy(dst, header_ + 1, headerBack);
    if (!payload_.empty()) std::memcpy(dst + headerBack, payload_.data(), payload_.size());
    std::memcpy(dst + headerBack + payload_.size(), trailer_, trailerBytes_);
  } else {
    std::vector<uint8_t> again;
    again.reserve(back + rescan_.size() - rescanPos_);
    again.insert(again.end(), header_ + 1, header_ + 1 + headerBack);
    again.insert(again.end(), payload_.begin(), payload_.end());
    again.insert(again.end(), trailer_, trailer_ + trailerBytes_);
    again.insert(again.end(), rescan_.begin() + static_cast<std::ptrdiff_t>(rescanPos_), rescan_.end());
    rescan_.swap(again);
    rescanPos_ = 0;
  }
  state_ = kSeekMagic;
  headerBytes_ = 0;
  payload_.clear();
  trailerBytes_ = 0;
}

bool FrameDecoder::dropCandidate(bool headerValid) {
  FalseCandidate candidate;
  candidate.headerValid = headerValid;
  candidate.bytes = headerBytes_ + payload_.size() + trailerBytes_;
  resync();
  if (!onFalseCandidate_ || onFalseCandidate_(candidate)) return true;
  stopped_ = true;
  rescan_.clear();
  rescanPos_ = 0;
  input_ = nullptr;
  inputSize_ = inputPos_ = 0;
  return false;
}

bool FrameDecoder::nextFrame(Frame* frame) {
  for (;;) {
    if (stopped_) return false;
    const size_t avail = available();
    if (avail == 0) {
      input_ = nullptr;
      inputSize_ = inputPos_ = 0;
      return false;
    }
    const uint8_t* p = peek();
    switch (state_) {
      case kSeekMagic: {
        const auto* hit = static_cast<const uint8_t*>(std::memchr(p, 0x01, avail));
        if (!hit) {
          skipped_ += avail;
          consume(avail);
          break;
        }
        const size_t before = static_cast<size_t>(hit - p);
        skipped_ += before;
        consume(before + 1);
        header_[0] = 0x01;
        headerBytes_ = 1;
        state_ = kMagic1;
        break;
      }
      case kMagic1:
      case kMagic2:
      case kMagic3:
        if (*p != 0) {
          resync();
          break;
        }
        header_[headerBytes_++] = 0;
        consume(1);
        state_ = state_ == kMagic1 ? kMagic2 : state_ == kMagic2 ? kMagic3 : kHeader;
        break;
      case kHeader: {
        const size_t n = std::min(avail, kFrameHeaderBytes - headerBytes_);
        std::memcpy(header_ + headerBytes_, p, n);
        headerBytes_ += n;
        consume(n);
        if (headerBytes_ < kFrameHeaderBytes) break;
        length_ = loadLe32(header_ + 16);
        crc_ = loadLe32(header_ + 20);
        if (length_ > kMaxReceivePayloadBytes || frameCrc(header_, 20) != crc_) {
          if (!dropCandidate(false)) return false;
          break;
        }
        type_ = loadLe32(header_ + 4);
        sequence_ = loadLe32(header_ + 12);
        // One allocation of the declared size (at most 256 KiB) so that the
        // payload is copied exactly once, however it arrives.
        payload_.reserve(length_);
        state_ = kPayload;
        break;
      }
      case kPayload: {
        const size_t n = std::min(avail, static_cast<size_t>(length_) - payload_.size());
        payload_.insert(payload_.end(), p, p + n);
        consume(n);
        if (payload_.size() == length_) state_ = kTrailer;
        break;
      }
      case kTrailer: {
        const size_t n = std::min(avail, kFrameTrailerBytes - trailerBytes_);
        std::memcpy(trailer_ + trailerBytes_, p, n);
        trailerBytes_ += n;
        consume(n);
        if (trailerBytes_ < kFrameTrailerBytes) break;
        if (loadLe32(trailer_) != crc_) {
          if (!dropCandidate(true)) return false;
          break;
        }
        frame->type = type_;
        frame->sequence = sequence_;
        frame->payload = std::move(payload_);
        payload_ = std::vector<uint8_t>();
        state_ = kSeekMagic;
        headerBytes_ = 0;
        trailerBytes_ = 0;
        return true;
      }
    }
  }
}

}  // namespace transport
