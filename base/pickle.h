// A Pickle is a growable buffer of 4-byte-aligned fields behind a 32-bit
// little-endian payload size. Messages are built in a writable pickle and
// read back from received bytes through a read-only pickle that points into
// them. A PickleIterator reads fields in order and never moves on failure.
#ifndef BASE_PICKLE_H_
#define BASE_PICKLE_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace base {

class Pickle {
 public:
  static constexpr int32_t kCapacityReadOnly = -1;
  static constexpr size_t kCapacityUnit = 64;

  // Writable, empty: header size 4, capacity 64, payload size 0.
  Pickle();
  // Read-only view over `length` received bytes whose first 4 bytes are the
  // payload size; nothing is copied or freed. Bytes that do not hold a
  // consistent size (shorter than 4, or a size beyond `length`) give an
  // empty payload, so every read fails.
  Pickle(const void* data, size_t length);
  // Copies are writable and own their bytes.
  Pickle(const Pickle& other);
  Pickle& operator=(const Pickle& other);
  virtual ~Pickle();

  bool writeInt(int32_t value);
  bool writeInt64(int64_t value);
  // The bytes, zero-filled up to the next multiple of 4.
  bool writeBytes(const void* data, size_t length);
  // Length as a 32-bit integer, then the bytes.
  bool writeString(const std::string& value);
  bool writeData(const void* data, size_t length);

  // Header size + payload size; data() points at the header.
  size_t size() const { return headerSize_ + payloadSize(); }
  const uint8_t* data() const { return header_; }
  size_t headerSize() const { return headerSize_; }
  size_t payloadSize() const;
  const uint8_t* payload() const { return header_ + headerSize_; }
  int32_t capacity() const { return capacity_; }
  bool readOnly() const { return capacity_ == kCapacityReadOnly; }

 private:
  friend class PickleIterator;
  // Reserves a 4-aligned field of `length` bytes and returns where it goes.
  uint8_t* beginWrite(size_t length);
  void setPayloadSize(size_t size);

  uint8_t* header_ = nullptr;
  size_t headerSize_ = 4;
  int32_t capacity_ = 0;
  size_t readOnlyPayload_ = 0;  // payload size of a read-only pickle
  static uint8_t emptyHeader_[4];
};

class PickleIterator {
 public:
  explicit PickleIterator(const Pickle& pickle);

  bool readByte(uint8_t* out);    // moves by 4
  bool readInt(int32_t* out);
  bool readInt64(int64_t* out);
  bool readDouble(double* out);
  bool readString(std::string* out);
  // Points into the pickle; valid while its bytes live.
  bool readData(const uint8_t** data, int32_t* length);
  // Reads `length` raw bytes (moving by the length rounded up to 4).
  bool readBytes(const uint8_t** data, size_t length);

  size_t remaining() const { return static_cast<size_t>(end_ - pos_); }
  size_t offset() const { return static_cast<size_t>(pos_ - begin_); }

 private:
  // The field [pos_, pos_ + length) must lie inside the payload.
  const uint8_t* take(size_t length);

  const uint8_t* begin_;
  const uint8_t* pos_;
  const uint8_t* end_;
};

}  // namespace base

#endif  // BASE_PICKLE_H_
