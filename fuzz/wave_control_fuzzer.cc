// Bytes on the wave service's control socket, in arbitrary chunks, through
// the request-line reader and the dispatcher. Nothing may crash; a finished
// request never holds its LF and never passes the limit; only the five
// known words reach the service, each with its own control code; every
// answer is "ok <state>" or "error ...".
//
// The first byte picks the chunk sizes (1 to 64, like the daemon's reads).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "PC_Audio_DRV/control_line.h"
#include "PC_Audio_DRV/wave_service_protocol.h"
#include "base/logging.h"
#include "fuzz/fuzz_util.h"

using fuzz::check;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silenceLogging();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t chunking = data[0];
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  const size_t total = size - 1;
  std::string line;
  RequestLine state = RequestLine::kIncomplete;
  size_t at = 0, step = 0;
  while (at < total && state == RequestLine::kIncomplete) {
    const size_t n = std::min<size_t>(total - at, 1 + ((chunking * (step + 1) * 29) & 63));
    ++step;
    state = appendRequestBytes(&line, bytes + at, n);
    check(line.size() <= kMaxRequestBytes + 2);
    at += n;
  }
  if (state != RequestLine::kComplete) return 0;
  check(line.size() <= kMaxRequestBytes);
  check(line.find('\n') == std::string::npos);

  uint32_t seen = 0xFFFFFFFFu;
  int calls = 0;
  const std::string answer = answerControlRequest(line, [&](uint32_t code) {
    ++calls;
    seen = code;
    return 4u;
  });
  const bool known = line == "ping" || line == "pause" || line == "continue" || line == "reload" || line == "state";
  check(calls == (known ? 1 : 0));
  if (known) {
    check(answer == "ok 4");
    check(seen == 0 || (seen >= WAVE_SERVICE_PING && seen <= WAVE_SERVICE_OPEN_DEVICE));
    check((seen == 0) == (line == "state"));
  } else {
    check(answer.compare(0, 6, "error ") == 0);
  }
  return 0;
}
