// Arbitrary component message bodies into the tagged-field reader and into
// the authorization and action components, as a phone would send them.
// Nothing may crash; every field the reader hands out lies inside the
// message; the authorization component reports exactly when a plain reading
// of the rules finds both the unique id and the name (never from fewer than
// two fields), with the same texts; actions reach the observer only through
// an open gate and only for 1 to 3.
//
// The first byte picks the gate (bit 0) and whether the body goes to the
// components whole or is first split into several messages (bit 1).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/logging.h"
#include "base/message_loop.h"
#include "components/action_component.h"
#include "components/auth_component.h"
#include "components/component_message.h"
#include "components/component_test_support.h"
#include "components/session_gate.h"
#include "base/peer_text.h"
#include "fuzz/fuzz_util.h"

using fuzz::check;

namespace {

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// What the rules say about authorization data, read plainly from the bytes.
struct Expected {
  bool reported = false;
  std::string uid, name;
};

Expected expectAuth(const std::vector<uint8_t>& body) {
  Expected out;
  const size_t length = body.size();
  if (length < 4 || le32(body.data()) > length - 4) return out;
  const size_t size = le32(body.data());
  const uint8_t* p = body.data() + (length - size);  // the payload is the tail
  size_t pos = 0;
  auto left = [&] { return size - pos; };
  // Each slot is 4 bytes, but the last one may be cut short.
  auto skip = [&](size_t n) { pos += std::min((n + 3) / 4 * 4, left()); };
  if (left() < 4 || le32(p) != 1) return out;
  skip(4);
  int counted = 0;
  while (left() > 0) {
    if (left() < 1) break;
    const uint8_t tag = p[pos];
    skip(1);
    if (left() < 1) break;
    const uint8_t kind = p[pos];
    skip(1);
    if (kind == 0) {
      if (left() < 4) break;
      skip(4);
      if (tag == 1 || tag == 2) break;
    } else if (kind == 1) {
      if (left() < 4) break;
      const int32_t n = static_cast<int32_t>(le32(p + pos));
      skip(4);
      if (n < 0 || static_cast<size_t>(n) > left()) break;
      const std::string text(reinterpret_cast<const char*>(p + pos), static_cast<size_t>(n));
      skip(static_cast<size_t>(n));
      if (tag == 1) {
        out.uid = text;
        ++counted;
      } else if (tag == 2) {
        out.name = text;
        ++counted;
      }
    } else {
      break;
    }
  }
  out.reported = counted >= 2;
  return out;
}

class Listener : public component::AuthComponent::Observer, public component::ActionComponent::Observer {
 public:
  void OnAuthDataReceived(component::AuthComponent*, const component::AuthComponent::Record& record) override {
    ++reports;
    last = record;
  }
  void OnActionReceived(component::ActionComponent*, int32_t action) override {
    check(action >= 1 && action <= 3);
    ++actions;
  }
  int reports = 0, actions = 0;
  component::AuthComponent::Record last;
};

struct Rig {
  Rig() {
    base::initLogging(base::string16(), base::kLogNone, base::kLockInProcess, 1);
    transport.setApplicationId(12000);
    transport.setVersion("2.2.0.0");
    auth.AddObserver(&listener);
    action.AddObserver(&listener);
    check(phone.connect());
  }
  base::MessageLoop loop;
  transport::Transport transport;
  component::SessionGate gate{&transport};
  component::AuthComponent auth{&transport, component::kAuthComponentId};
  component::ActionComponent action{&transport, component::kActionComponentId, &gate};
  Listener listener;
  component::FakePhone phone{&transport};
};

void readAllFields(const std::vector<uint8_t>& body) {
  component::ComponentMessageReader message(body);
  component::TaggedFieldReader reader(message.iterator());
  component::TaggedField field;
  const uint8_t* begin = body.data();
  const uint8_t* end = body.data() + body.size();
  size_t fields = 0;
  while (reader.next(&field) == component::TaggedFieldReader::kField) {
    check(++fields <= body.size() / 8 + 1);  // each field takes at least 8 bytes
    if (field.kind == component::kTaggedBytes && field.length > 0) {
      check(field.data >= begin && field.data <= end && field.length <= static_cast<size_t>(end - field.data));
    }
  }
}

void feed(Rig& rig, const std::vector<uint8_t>& body, bool gateOpen) {
  readAllFields(body);

  const Expected expected = expectAuth(body);
  const int reportsBefore = rig.listener.reports;
  rig.phone.sendRaw(component::kAuthComponentId, body);
  rig.loop.runUntilIdle();
  check(rig.listener.reports - reportsBefore == (expected.reported ? 1 : 0));
  if (expected.reported) {
    // The phone's strings arrive cleaned: control and directional
    // characters as visible escapes.
    check(rig.listener.last.uniqueId == base::escapePeerText(expected.uid));
    check(rig.listener.last.name == base::escapePeerText(expected.name));
  }

  const int actionsBefore = rig.listener.actions;
  rig.phone.sendRaw(component::kActionComponentId, body);
  rig.loop.runUntilIdle();
  if (!gateOpen) check(rig.listener.actions == actionsBefore);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Rig* rig = new Rig();
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  const bool gateOpen = mode & 1;
  if (gateOpen) rig->gate.open();
  else rig->gate.close();
  std::vector<uint8_t> bytes(data + 1, data + size);
  if (!(mode & 2)) {
    feed(*rig, bytes, gateOpen);
    return 0;
  }
  // Several messages: each starts with a one-byte length.
  size_t pos = 0;
  while (pos < bytes.size()) {
    const size_t n = std::min<size_t>(bytes[pos], bytes.size() - pos - 1);
    feed(*rig, std::vector<uint8_t>(bytes.begin() + pos + 1, bytes.begin() + pos + 1 + n), gateOpen);
    pos += 1 + n;
  }
  return 0;
}
