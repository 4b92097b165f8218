#include "PC_Audio_DRV/control_line.h"

#include <algorithm>

#include "PC_Audio_DRV/wave_service_protocol.h"
#include "base/logging.h"

RequestLine appendRequestBytes(std::string* line, const char* bytes, size_t size) {
  // Only what can still belong to the request is kept.
  const size_t room = kMaxRequestBytes + 2 - std::min(line->size(), kMaxRequestBytes + 2);
  line->append(bytes, std::min(size, room));
  const size_t end = line->find('\n');
  if (end == std::string::npos) return line->size() > kMaxRequestBytes ? RequestLine::kTooLong : RequestLine::kIncomplete;
  line->resize(end);
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return line->size() > kMaxRequestBytes ? RequestLine::kTooLong : RequestLine::kComplete;
}

std::string answerControlRequest(const std::string& request, const std::function<uint32_t(uint32_t code)>& control) {
  static const struct {
    const char* word;
    uint32_t code;
  } kRequests[] = {
      {"ping", WAVE_SERVICE_PING},
      {"pause", WAVE_SERVICE_PAUSE},
      {"continue", WAVE_SERVICE_CONTINUE},
      {"reload", WAVE_SERVICE_OPEN_DEVICE},
      {"state", 0},
  };
  for (const auto& known : kRequests) {
    if (request == known.word) return "ok " + std::to_string(control(known.code));
  }
  LOG(WARNING) << "Unknown control request (" << request.size() << " bytes); refused";
  return "error unknown request";
}
