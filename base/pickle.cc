#include "base/pickle.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "base/logging.h"

namespace base {
namespace {

constexpr size_t kMaxCapacity = 1u << 30;  // far above any frame we build

size_t alignTo4(size_t n) { return (n + 3) & ~static_cast<size_t>(3); }

uint32_t loadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void storeLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace

uint8_t Pickle::emptyHeader_[4] = {0, 0, 0, 0};

Pickle::Pickle() : headerSize_(4), capacity_(static_cast<int32_t>(kCapacityUnit)) {
  header_ = static_cast<uint8_t*>(std::calloc(kCapacityUnit, 1));
  if (!header_) std::abort();
}

Pickle::Pickle(const void* data, size_t length) : capacity_(kCapacityReadOnly) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (!bytes || length < 4 || loadLe32(bytes) > length - 4) {
    header_ = emptyHeader_;
    headerSize_ = 4;
    readOnlyPayload_ = 0;
    return;
  }
  readOnlyPayload_ = loadLe32(bytes);
  header_ = const_cast<uint8_t*>(bytes);
  headerSize_ = length - readOnlyPayload_;
}

Pickle::Pickle(const Pickle& other) : Pickle() { *this = other; }

Pickle& Pickle::operator=(const Pickle& other) {
  if (this == &other) return *this;
  const size_t total = other.size();
  const size_t capacity = (total + kCapacityUnit - 1) / kCapacityUnit * kCapacityUnit;
  auto* block = static_cast<uint8_t*>(std::calloc(capacity ? capacity : kCapacityUnit, 1));
  if (!block) std::abort();
  std::memcpy(block, other.header_, total);
  if (!readOnly()) std::free(header_);
  header_ = block;
  headerSize_ = other.headerSize_;
  capacity_ = static_cast<int32_t>(capacity ? capacity : kCapacityUnit);
  readOnlyPayload_ = 0;
  setPayloadSize(other.payloadSize());
  return *this;
}

Pickle::~Pickle() {
  if (!readOnly()) std::free(header_);
}

size_t Pickle::payloadSize() const {
  return readOnly() ? readOnlyPayload_ : loadLe32(header_);
}

void Pickle::setPayloadSize(size_t size) {
  storeLe32(header_, static_cast<uint32_t>(size));
}

uint8_t* Pickle::beginWrite(size_t length) {
  CHECK(capacity_ != kCapacityReadOnly);
  if (readOnly()) return nullptr;
  const size_t offset = alignTo4(payloadSize());
  if (length > kMaxCapacity || offset > kMaxCapacity - length) return nullptr;
  const size_t needed = headerSize_ + offset + length;
  if (needed > static_cast<size_t>(capacity_)) {
    size_t grown = std::max(static_cast<size_t>(capacity_) * 2, needed);
    grown = (grown + kCapacityUnit - 1) / kCapacityUnit * kCapacityUnit;
    if (grown > kMaxCapacity) return nullptr;
    auto* block = static_cast<uint8_t*>(std::realloc(header_, grown));
    if (!block) return nullptr;
    std::memset(block + capacity_, 0, grown - static_cast<size_t>(capacity_));
    header_ = block;
    capacity_ = static_cast<int32_t>(grown);
  }
  // Padding between the previous field and this one is zero.
  const size_t oldEnd = headerSize_ + payloadSize();
  std::memset(header_ + oldEnd, 0, headerSize_ + offset - oldEnd);
  setPayloadSize(offset + length);
  return header_ + headerSize_ + offset;
}

bool Pickle::writeInt(int32_t value) {
  uint8_t* p = beginWrite(4);
  if (!p) return false;
  storeLe32(p, static_cast<uint32_t>(value));
  return true;
}

bool Pickle::writeInt64(int64_t value) {
  uint8_t* p = beginWrite(8);
  if (!p) return false;
  const auto v = static_cast<uint64_t>(value);
  storeLe32(p, static_cast<uint32_t>(v));
  storeLe32(p + 4, static_cast<uint32_t>(v >> 32));
  return true;
}

bool Pickle::writeBytes(const void* data, size_t length) {
  const size_t padded = alignTo4(length);
  uint8_t* p = beginWrite(padded);
  if (!p) return false;
  if (length) std::memcpy(p, data, length);
  std::memset(p + length, 0, padded - length);
  // The payload ends after the data; the padding belongs to the next field.
  setPayloadSize(payloadSize() - (padded - length));
  return true;
}

bool Pickle::writeString(const std::string& value) {
  return writeData(value.data(), value.size());
}

bool Pickle::writeData(const void* data, size_t length) {
  if (length > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return false;
  if (readOnly()) {
    CHECK(capacity_ != kCapacityReadOnly);
    return false;
  }
  const size_t before = payloadSize();
  if (!writeInt(static_cast<int32_t>(length))) return false;
  if (!writeBytes(data, length)) {
    setPayloadSize(before);
    return false;
  }
  return true;
}

PickleIterator::PickleIterator(const Pickle& pickle)
    : begin_(pickle.payload()), pos_(pickle.payload()),
      end_(pickle.payload() + pickle.payloadSize()) {}

const uint8_t* PickleIterator::take(size_t length) {
  const size_t left = remaining();
  if (length > left) return nullptr;
  const uint8_t* field = pos_;
  pos_ += std::min(alignTo4(length), left);
  return field;
}

bool PickleIterator::readByte(uint8_t* out) {
  if (remaining() < 1) return false;
  const uint8_t* p = take(1);
  if (out) *out = *p;
  return true;
}

bool PickleIterator::readInt(int32_t* out) {
  const uint8_t* p = take(4);
  if (!p) return false;
  if (out) *out = static_cast<int32_t>(loadLe32(p));
  return true;
}

bool PickleIterator::readInt64(int64_t* out) {
  const uint8_t* p = take(8);
  if (!p) return false;
  if (out)
    *out = static_cast<int64_t>(static_cast<uint64_t>(loadLe32(p)) |
                                (static_cast<uint64_t>(loadLe32(p + 4)) << 32));
  return true;
}

bool PickleIterator::readDouble(double* out) {
  int64_t bits;
  const uint8_t* start = pos_;
  if (!readInt64(&bits)) return false;
  (void)start;
  if (out) std::memcpy(out, &bits, sizeof(*out));
  return true;
}

bool PickleIterator::readData(const uint8_t** data, int32_t* length) {
  const uint8_t* start = pos_;
  int32_t n;
  if (!readInt(&n)) return false;
  if (n < 0 || static_cast<size_t>(n) > remaining()) {
    pos_ = start;
    return false;
  }
  const uint8_t* p = take(static_cast<size_t>(n));
  if (data) *data = p;
  if (length) *length = n;
  return true;
}

bool PickleIterator::readString(std::string* out) {
  const uint8_t* data;
  int32_t n;
  if (!readData(&data, &n)) return false;
  if (out) out->assign(reinterpret_cast<const char*>(data), static_cast<size_t>(n));
  return true;
}

bool PickleIterator::readBytes(const uint8_t** data, size_t length) {
  const uint8_t* p = take(length);
  if (!p) return false;
  if (data) *data = p;
  return true;
}

}  // namespace base
