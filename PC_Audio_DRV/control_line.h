// The wave service's control socket protocol (Linux), apart from the socket:
// a client sends one request line ("ping", "pause", "continue", "reload",
// "state"; at most kMaxRequestBytes, then LF, a CR before it allowed) and
// gets one line back: "ok <state>" or "error <why>".
//
// Thread: any; pure functions.
#ifndef PC_AUDIO_DRV_CONTROL_LINE_H_
#define PC_AUDIO_DRV_CONTROL_LINE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

constexpr size_t kMaxRequestBytes = 256;

enum class RequestLine { kIncomplete, kComplete, kTooLong };

// Adds received bytes to *line. kComplete once the line has ended: *line is
// then the request without its end (bytes after it are dropped); kTooLong
// when it passed kMaxRequestBytes without one.
RequestLine appendRequestBytes(std::string* line, const char* bytes, size_t size);

// The answer to a request, without its LF. `control` runs the control code of
// a known request (0: the request only asks) and returns the service state.
std::string answerControlRequest(const std::string& request, const std::function<uint32_t(uint32_t code)>& control);

#endif  // PC_AUDIO_DRV_CONTROL_LINE_H_
