#include "components/auth_component.h"

#include <gtest/gtest.h>

#include "base/message_loop.h"
#include "components/component_message.h"
#include "components/component_test_support.h"

namespace component {
namespace {

struct Recorder : AuthComponent::Observer {
  void OnAuthDataReceived(AuthComponent*, const AuthComponent::Record& record) override { records.push_back(record); }
  void OnAccepted(AuthComponent*) override { ++accepted; }
  void OnRejected(AuthComponent*) override { ++rejected; }
  std::vector<AuthComponent::Record> records;
  int accepted = 0;
  int rejected = 0;
};

class AuthComponentTest : public ::testing::Test {
 protected:
  AuthComponentTest() {
    transport_.setApplicationId(12000);
    transport_.setVersion("2.2.0.0");
    auth_.AddObserver(&recorder_);
  }
  ~AuthComponentTest() override { auth_.RemoveObserver(&recorder_); }

  void sendAuth(const std::vector<std::pair<uint8_t, std::string>>& textFields,
                const std::vector<std::pair<uint8_t, int32_t>>& intFieldsFirst = {}) {
    base::Pickle message = makeComponentMessage(AuthComponent::kMessageAuthData);
    for (const auto& f : intFieldsFirst) writeTaggedInteger(&message, f.first, f.second);
    for (const auto& f : textFields) writeTaggedBytes(&message, f.first, f.second.data(), f.second.size());
    phone_.send(kAuthComponentId, message);
  }

  std::vector<int32_t> results() {
    std::vector<int32_t> out;
    for (const transport::Frame& frame : phone_.receivedOfType(kAuthComponentId)) {
      int32_t kind = 0, value = -1;
      if (readTaggedInteger(frame.payload, &kind, AuthComponent::kTagResult, &value) &&
          kind == AuthComponent::kMessageAuthResult)
        out.push_back(value);
    }
    return out;
  }

  base::MessageLoop loop_;
  transport::Transport transport_;
  AuthComponent auth_{&transport_, kAuthComponentId};
  Recorder recorder_;
  FakePhone phone_{&transport_};
};

TEST_F(AuthComponentTest, ReadsIdAndNameInEitherOrderAndSkipsUnknownTags) {
  ASSERT_TRUE(phone_.connect());
  sendAuth({{9, "ignored block"}, {2, "Anna's iPhone"}, {1, "UID-1"}}, {{7, 99}});
  ASSERT_EQ(1u, recorder_.records.size());
  EXPECT_EQ("UID-1", recorder_.records[0].uniqueId);
  EXPECT_EQ("Anna's iPhone", recorder_.records[0].name);
  EXPECT_EQ("Anna's iPhone", auth_.Name());
  EXPECT_TRUE(results().empty());  // the component never answers by itself
}

TEST_F(AuthComponentTest, FewerThanTwoFieldsIsIgnored) {
  ASSERT_TRUE(phone_.connect());
  sendAuth({{1, "UID-only"}});
  sendAuth({});
  phone_.sendRaw(kAuthComponentId, {});  // empty body
  EXPECT_TRUE(recorder_.records.empty());
  EXPECT_TRUE(results().empty());
}

TEST_F(AuthComponentTest, WrongKindOfOurTagEndsReading) {
  ASSERT_TRUE(phone_.connect());
  // The unique id, then the name tag carrying an integer: reading ends with
  // one field counted, so nothing is reported.
  base::Pickle message = makeComponentMessage(AuthComponent::kMessageAuthData);
  writeTaggedBytes(&message, 1, "UID", 3);
  writeTaggedInteger(&message, 2, 5);
  writeTaggedBytes(&message, 2, "late name", 9);
  phone_.send(kAuthComponentId, message);
  EXPECT_TRUE(recorder_.records.empty());
}

TEST_F(AuthComponentTest, OtherKindsAndOtherTypesAreIgnored) {
  ASSERT_TRUE(phone_.connect());
  base::Pickle message = makeComponentMessage(2);
  writeTaggedBytes(&message, 1, "UID", 3);
  writeTaggedBytes(&message, 2, "Name", 4);
  phone_.send(kAuthComponentId, message);
  // The same body under another component's type does not reach us.
  base::Pickle right = makeComponentMessage(AuthComponent::kMessageAuthData);
  writeTaggedBytes(&right, 1, "UID", 3);
  writeTaggedBytes(&right, 2, "Name", 4);
  phone_.send(kActionComponentId, right);
  EXPECT_TRUE(recorder_.records.empty());
}

TEST_F(AuthComponentTest, AcceptAndRejectAnswerThePhoneThenTheObservers) {
  ASSERT_TRUE(phone_.connect());
  auth_.Reject();
  auth_.Accept();
  EXPECT_EQ((std::vector<int32_t>{0, 1}), results());
  EXPECT_EQ(1, recorder_.accepted);
  EXPECT_EQ(1, recorder_.rejected);
  // A rejected phone stays connected.
  EXPECT_NE(nullptr, transport_.clientBearer());
}

TEST_F(AuthComponentTest, AnswerWithoutPhoneIsSilentlyDropped) {
  auth_.Accept();  // no phone: nothing to send, observers still hear it
  EXPECT_EQ(1, recorder_.accepted);
}

TEST_F(AuthComponentTest, DestroyedComponentHearsNothing) {
  ASSERT_TRUE(phone_.connect());
  Recorder other;
  {
    AuthComponent second(&transport_, kAuthComponentId);
    second.AddObserver(&other);
    sendAuth({{1, "A"}, {2, "B"}});
    EXPECT_EQ(1u, other.records.size());  // both components with id 14 hear it
  }
  sendAuth({{1, "A"}, {2, "B"}});
  EXPECT_EQ(1u, other.records.size());
  EXPECT_EQ(2u, recorder_.records.size());
}

}  // namespace
}  // namespace component
