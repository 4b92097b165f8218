#include "components/session_gate.h"

#include <gtest/gtest.h>

#include "base/message_loop.h"
#include "components/component_test_support.h"
#include "transport/transport_test_support.h"

namespace component {
namespace {

class SessionGateTest : public ::testing::Test {
 protected:
  SessionGateTest() {
    transport_.setApplicationId(12000);
    transport_.setVersion("2.2.0.0");
  }
  base::MessageLoop loop_;
  transport::Transport transport_;
  SessionGate gate_{&transport_};
};

TEST_F(SessionGateTest, ClosedUntilOpenedAndClosedAgainByConnectionChanges) {
  EXPECT_FALSE(gate_.isOpen());
  FakePhone phone(&transport_);
  ASSERT_TRUE(phone.connect());
  EXPECT_FALSE(gate_.admit(SessionGate::kVideoFrames));
  gate_.open();
  EXPECT_TRUE(gate_.admit(SessionGate::kVideoFrames));
  phone.drop();
  EXPECT_FALSE(gate_.isOpen());
}

TEST_F(SessionGateTest, LogsEachKindOncePerConnectionAndCountsAll) {
  transport::LogCapture log;
  FakePhone phone(&transport_);
  ASSERT_TRUE(phone.connect());
  for (int i = 0; i < 3; ++i) {
    gate_.admit(SessionGate::kVideoFrames);
    gate_.admit(SessionGate::kAudioPackets);
  }
  EXPECT_EQ(3u, gate_.dropped(SessionGate::kVideoFrames));
  EXPECT_EQ(3u, gate_.dropped(SessionGate::kAudioPackets));
  const std::string first = log.contents();
  auto count = [](const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(1u, count(first, "Dropping video frames from a phone that has not been accepted"));
  EXPECT_EQ(1u, count(first, "Dropping audio packets from a phone that has not been accepted"));

  phone.drop();
  FakePhone next(&transport_);
  ASSERT_TRUE(next.connect());
  gate_.admit(SessionGate::kVideoFrames);
  EXPECT_EQ(2u, count(log.contents(), "Dropping video frames from a phone that has not been accepted"));
}

}  // namespace
}  // namespace component
