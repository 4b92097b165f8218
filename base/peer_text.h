// Text that arrives from a peer on the network (the phone's handshake
// strings, its authorization name and unique id) is cleaned once, where it
// enters, so that no later use (log, console, window texts, the support
// tool's key:value lines, the settings file, DNS-SD) sees it as structure.
// Pure functions; any thread.
#ifndef BASE_PEER_TEXT_H_
#define BASE_PEER_TEXT_H_

#include <string>

namespace base {

// Whether `unit` (a UTF-16 code unit) is one a peer's text may not carry
// raw: C0 and C1 controls, DEL, and the bidirectional embedding, override
// and isolate characters.
bool isUnsafeTextUnit(char16_t unit);

// `text` (UTF-8) with every unsafe character written as visible text:
// "\x1b" for a control below U+0100, "\u202e" for a directional one.
// Invalid UTF-8 becomes U+FFFD. `changed` (optional) tells whether the
// result differs from the input.
std::string escapePeerText(const std::string& text, bool* changed = nullptr);

// The same, with one warning line naming `what` (never the raw text) when
// something was escaped.
std::string cleanPeerText(const std::string& text, const char* what);

}  // namespace base

#endif  // BASE_PEER_TEXT_H_
