// Little-endian 32-bit fields, the byte order of everything on the wire.
#ifndef TRANSPORT_BYTE_ORDER_H_
#define TRANSPORT_BYTE_ORDER_H_

#include <cstdint>
#include <vector>

namespace transport {

inline uint32_t loadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void storeLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

inline void appendLe32(std::vector<uint8_t>* out, uint32_t v) {
  uint8_t bytes[4];
  storeLe32(bytes, v);
  out->insert(out->end(), bytes, bytes + 4);
}

}  // namespace transport

#endif  // TRANSPORT_BYTE_ORDER_H_
