#include "components/action_component.h"

#include <gtest/gtest.h>

#include "base/message_loop.h"
#include "components/component_message.h"
#include "components/component_test_support.h"
#include "components/session_gate.h"

namespace component {
namespace {

struct Recorder : ActionComponent::Observer {
  void OnActionReceived(ActionComponent*, int32_t action) override { actions.push_back(action); }
  std::vector<int32_t> actions;
};

class ActionComponentTest : public ::testing::Test {
 protected:
  ActionComponentTest() {
    transport_.setApplicationId(12000);
    transport_.setVersion("2.2.0.0");
    actions_.AddObserver(&recorder_);
  }
  ~ActionComponentTest() override { actions_.RemoveObserver(&recorder_); }

  void sendAction(int32_t action) { phone_.send(kActionComponentId, makeComponentMessage(action)); }

  base::MessageLoop loop_;
  transport::Transport transport_;
  SessionGate gate_{&transport_};
  ActionComponent actions_{&transport_, kActionComponentId, &gate_};
  Recorder recorder_;
  FakePhone phone_{&transport_};
};

TEST_F(ActionComponentTest, OnlyActionsOneToThreePassAnOpenGate) {
  ASSERT_TRUE(phone_.connect());
  gate_.open();
  for (int32_t action : {1, 2, 3, 4, 7, 0, -1}) sendAction(action);
  phone_.sendRaw(kActionComponentId, {});
  phone_.sendRaw(kActionComponentId, {2, 0, 0, 0, 1, 0});  // too short for a kind
  EXPECT_EQ((std::vector<int32_t>{1, 2, 3}), recorder_.actions);
}

TEST_F(ActionComponentTest, GateDropsActionsBeforeAcceptanceAndAfterDeny) {
  ASSERT_TRUE(phone_.connect());
  sendAction(1);
  sendAction(3);
  EXPECT_TRUE(recorder_.actions.empty());
  EXPECT_EQ(2u, gate_.dropped(SessionGate::kActions));

  gate_.open();
  sendAction(3);
  EXPECT_EQ(1u, recorder_.actions.size());

  gate_.close();  // the user denied the phone
  sendAction(1);
  EXPECT_EQ(1u, recorder_.actions.size());

  // A reconnecting phone starts behind a closed gate again.
  gate_.open();
  phone_.drop();
  FakePhone again(&transport_);
  ASSERT_TRUE(again.connect());
  again.send(kActionComponentId, makeComponentMessage(2));
  EXPECT_EQ(1u, recorder_.actions.size());
}

TEST_F(ActionComponentTest, SendsActionsAndRecordingTime) {
  ASSERT_TRUE(phone_.connect());
  actions_.SendAction(ActionComponent::kActionStartRecording);
  actions_.SendRecordingTime(0xFFFFFFFFu);
  actions_.SendRecordingTime(1500);
  const std::vector<transport::Frame> frames = phone_.receivedOfType(kActionComponentId);
  ASSERT_EQ(3u, frames.size());
  // Action messages carry only the number.
  EXPECT_EQ((std::vector<uint8_t>{4, 0, 0, 0, 1, 0, 0, 0}), frames[0].payload);
  int32_t kind = 0, value = 0;
  ASSERT_TRUE(readTaggedInteger(frames[1].payload, &kind, ActionComponent::kTagRecordingTime, &value));
  EXPECT_EQ(4, kind);
  EXPECT_EQ(-1, value);  // the low 32 bits
  ASSERT_TRUE(readTaggedInteger(frames[2].payload, &kind, ActionComponent::kTagRecordingTime, &value));
  EXPECT_EQ(1500, value);
}

TEST_F(ActionComponentTest, SendingWithoutPhoneIsSilent) {
  actions_.SendAction(3);  // no phone connected: nothing happens, nothing breaks
  actions_.SendRecordingTime(10);
  EXPECT_EQ(nullptr, transport_.clientBearer());
}

}  // namespace
}  // namespace component
