#include "transport/message_bearer.h"

#include <gtest/gtest.h>

#include "transport/byte_order.h"
#include "transport/transport_test_support.h"

namespace transport {
namespace {

std::vector<uint8_t> frameOf(uint32_t type, uint32_t sequence, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> out;
  appendFrame(type, sequence, payload.data(), payload.size(), &out);
  return out;
}

std::vector<uint8_t> clientHandshake(uint32_t id, uint32_t major, uint32_t minor, uint32_t pin,
                                     const std::vector<uint8_t>& dictionary = {}) {
  std::vector<uint8_t> payload;
  buildClientHandshake(id, {major, minor, 0, 0}, pin, nullptr, &payload);
  payload.insert(payload.end(), dictionary.begin(), dictionary.end());
  return frameOf(kMessageHandshake, 0, payload);
}

std::vector<Frame> framesIn(const std::vector<uint8_t>& stream) {
  FrameDecoder decoder;
  std::vector<Frame> frames;
  decoder.feed(stream.data(), stream.size(), [&](Frame& f) {
    frames.push_back(std::move(f));
    return true;
  });
  return frames;
}

struct RecordingDelegate : MessageBearer::Delegate {
  void onMessageBearerDidConnect(MessageBearer*) override { events.push_back("connect"); }
  void onMessageBearerWillDisconnect(MessageBearer*, const Error* error) override {
    events.push_back("will-disconnect:" + std::to_string(error ? error->code : -999));
  }
  void onMessageBearerDidDisconnect(MessageBearer*) override { events.push_back("disconnect"); }
  void onMessageBearerDidReceiveMessage(MessageBearer* bearer, uint32_t type,
                                        const std::vector<uint8_t>& payload) override {
    events.push_back("message:" + std::to_string(type) + ":" + std::to_string(payload.size()));
    if (onMessage) onMessage(bearer);
  }
  std::vector<std::string> events;
  std::function<void(MessageBearer*)> onMessage;
};

class MessageBearerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bearer_ = std::make_unique<MessageBearer>();
    bearer_->setApplicationId(12000);
    bearer_->setVersion(2, 2, 0, 0);
    bearer_->setDelegate(&delegate_);
    fake_ = new FakeDataBearer;
    bearer_->attach(fake_);
    fake_->connect();
  }
  std::unique_ptr<MessageBearer> bearer_;
  FakeDataBearer* fake_ = nullptr;  // owned by bearer_
  RecordingDelegate delegate_;
};

TEST_F(MessageBearerTest, ForeignApplicationGetsHandshakeThenExactFarewell) {
  LogCapture log;
  EXPECT_EQ(fake_->readsStarted, 1);
  fake_->receive(clientHandshake(999, 2, 0, 1));
  EXPECT_TRUE(delegate_.events.empty());
  EXPECT_FALSE(bearer_->handshakePassed());
  EXPECT_EQ(fake_->disconnectsAfterWriting, 1);
  ASSERT_EQ(fake_->writes.size(), 2u);
  const std::vector<Frame> frames = framesIn(fake_->written());
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].type, kMessageHandshake);
  EXPECT_EQ(frames[0].sequence, 0u);
  const std::vector<uint8_t> farewell = {0x01, 0, 0, 0, 0x06, 0, 0, 0, 0, 0, 0, 0, 0x01, 0, 0, 0,
                                         0x04, 0, 0, 0, 0x6B, 0xC5, 0x3E, 0x75, 0x02, 0, 0, 0,
                                         0x6B, 0xC5, 0x3E, 0x75};
  EXPECT_EQ(fake_->writes[1], farewell);
  EXPECT_TRUE(log.contains("Versions are not compatible. Client: 999"));

  // The connection is ending: a matching handshake now is not answered.
  fake_->receive(clientHandshake(12000, 2, 0, 1));
  EXPECT_EQ(fake_->writes.size(), 2u);
  EXPECT_TRUE(delegate_.events.empty());
}

TEST_F(MessageBearerTest, HandshakeBeforeVersionTwoCarriesNoDictionary) {
  LogCapture log;
  // A 1.9 phone: bytes after the PIN are not read even if they decode.
  fake_->receive(clientHandshake(12000, 1, 9, 4321, pickledStrings({{"DeviceModel", "X"}})));
  ASSERT_EQ(delegate_.events, std::vector<std::string>{"connect"});
  EXPECT_TRUE(bearer_->handshakePassed());
  EXPECT_EQ(bearer_->clientVersion().toString(), "1.9.0.0");
  EXPECT_EQ(bearer_->clientInformation(), nullptr);
  // The PC answers with its own handshake, after reading the phone's.
  const std::vector<Frame> frames = framesIn(fake_->written());
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].type, kMessageHandshake);
  ServerHandshake server;
  ASSERT_TRUE(parseServerHandshake(frames[0].payload.data(), frames[0].payload.size(), &server));
  EXPECT_EQ(server.applicationId, 12000u);
  EXPECT_EQ(server.version, (VersionParts{2, 2, 0, 0}));
  const std::string text = log.contents();
  EXPECT_NE(text.find("Handshake passed."), std::string::npos);
  EXPECT_NE(text.find("PIN: 4321"), std::string::npos);
  EXPECT_NE(text.find("Client v1.9.0.0"), std::string::npos);
}

TEST_F(MessageBearerTest, VersionTwoReadsTheDictionaryAndSurvivesABrokenOne) {
  fake_->receive(clientHandshake(12000, 2, 0, 1, pickledStrings({{"DeviceModel", "iPhone9,3"}})));
  ASSERT_TRUE(bearer_->clientInformation());
  std::string model;
  EXPECT_TRUE(bearer_->clientInformation()->getString("DeviceModel", &model));
  EXPECT_EQ(model, "iPhone9,3");

  MessageBearer other;
  RecordingDelegate events;
  other.setApplicationId(12000);
  other.setDelegate(&events);
  auto* fake = new FakeDataBearer;
  other.attach(fake);
  std::vector<uint8_t> broken = pickledStrings({{"DeviceModel", "iPhone"}});
  broken[4] = 0xEE;  // not the dictionary tag
  fake->receive(clientHandshake(12000, 2, 1, 1, broken));
  EXPECT_EQ(events.events, std::vector<std::string>{"connect"});
  EXPECT_EQ(other.clientInformation(), nullptr);
}

TEST_F(MessageBearerTest, OnlyTheHandshakeCountsUntilItHasPassed) {
  fake_->receive(frameOf(14, 0, {1, 2, 3}));
  // Too short to be a handshake: dropped, and nothing is answered.
  fake_->receive(frameOf(kMessageHandshake, 1, std::vector<uint8_t>(23, 0)));
  EXPECT_TRUE(delegate_.events.empty());
  EXPECT_TRUE(fake_->writes.empty());

  std::vector<uint8_t> stream = clientHandshake(12000, 2, 0, 1);
  const std::vector<uint8_t> m1 = frameOf(14, 1, {1, 2, 3});
  const std::vector<uint8_t> m2 = frameOf(kMessageHandshake, 2, {});
  stream.insert(stream.end(), m1.begin(), m1.end());
  stream.insert(stream.end(), m2.begin(), m2.end());
  fake_->receive(stream);
  EXPECT_EQ(delegate_.events, (std::vector<std::string>{"connect", "message:14:3", "message:3:0"}));
}

TEST_F(MessageBearerTest, SendingNumbersFramesAndRefusesOversizedPayloads) {
  LogCapture log;
  const std::vector<uint8_t> largest(kMaxSendPayloadBytes, 1);
  EXPECT_FALSE(bearer_->sendMessage(14, std::vector<uint8_t>(kMaxSendPayloadBytes + 1, 1)));
  EXPECT_TRUE(fake_->writes.empty());
  EXPECT_TRUE(log.contains("Couldn't encode"));
  EXPECT_FALSE(log.contains("Couldn't copy"));
  EXPECT_TRUE(bearer_->sendMessage(14, largest));
  EXPECT_FALSE(bearer_->sendMessage(14, std::vector<uint8_t>(kMaxSendPayloadBytes + 1, 1)));
  EXPECT_TRUE(log.contains("Couldn't copy"));
  EXPECT_TRUE(bearer_->sendFarewell(kFarewellSessionEnded));
  const std::vector<Frame> frames = framesIn(fake_->written());
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].sequence, 0u);
  EXPECT_EQ(frames[0].payload.size(), kMaxSendPayloadBytes);
  EXPECT_EQ(frames[1].sequence, 1u);
  EXPECT_EQ(frames[1].type, kMessageFarewell);
  EXPECT_EQ(frames[1].payload, (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(fake_->disconnectsAfterWriting, 1);

  MessageBearer unattached;
  EXPECT_FALSE(unattached.sendMessage(14, {1}));
}

TEST_F(MessageBearerTest, DisconnectionIsForwardedAndLaterBytesIgnored) {
  fake_->receive(clientHandshake(12000, 2, 0, 1));
  const Error error(Error::kSystem, 0, "closed");
  fake_->drop(&error);
  fake_->receive(frameOf(14, 1, {1}));
  EXPECT_EQ(delegate_.events, (std::vector<std::string>{"connect", "will-disconnect:0", "disconnect"}));
}

TEST_F(MessageBearerTest, DelegateMayDeleteTheBearerWhileFramesAreDelivered) {
  std::vector<uint8_t> stream = clientHandshake(12000, 2, 0, 1);
  for (uint32_t i = 1; i <= 3; ++i) {
    const std::vector<uint8_t> m = frameOf(14, i, {static_cast<uint8_t>(i)});
    stream.insert(stream.end(), m.begin(), m.end());
  }
  delegate_.onMessage = [this](MessageBearer*) { bearer_.reset(); };
  FakeDataBearer* fake = fake_;
  fake->receive(stream);  // must not touch the deleted bearer (checked by ASan)
  EXPECT_EQ(delegate_.events, (std::vector<std::string>{"connect", "message:14:1"}));
}

// A frame whose header (and so its CRC) is right but whose trailer is not:
// the decoder takes in all of it before it can tell.
std::vector<uint8_t> falseFrame(size_t payloadBytes) {
  std::vector<uint8_t> frame = frameOf(14, 0, std::vector<uint8_t>(payloadBytes, 0x20));
  frame.back() ^= 0xFF;
  return frame;
}

TEST_F(MessageBearerTest, AFalseFrameBeforeTheHandshakeClosesAtOnce) {
  LogCapture log;
  // A wrong header CRC costs no rescan of a payload: only skipped.
  std::vector<uint8_t> badCrc = frameOf(14, 0, {1, 2});
  badCrc[20] ^= 0x01;
  fake_->receive(badCrc);
  EXPECT_EQ(fake_->disconnects, 0);

  std::vector<uint8_t> stream = falseFrame(100);
  const std::vector<uint8_t> handshake = clientHandshake(12000, 2, 0, 1);
  stream.insert(stream.end(), handshake.begin(), handshake.end());
  fake_->receive(stream);
  EXPECT_EQ(fake_->disconnects, 1);
  EXPECT_TRUE(log.contains("closed: a false frame before the handshake"));
  // Nothing after it is looked at, not even the handshake in the same read.
  fake_->receive(handshake);
  EXPECT_TRUE(delegate_.events.empty());
  EXPECT_TRUE(bearer_->decoder()->stopped());
}

TEST_F(MessageBearerTest, FalseFramesAfterTheHandshakeCloseOncePastTheLimitWithinTheWindow) {
  int64_t now = 1000;
  bearer_->setClockForTesting([&] { return now; });
  bearer_->attach(fake_ = new FakeDataBearer);
  fake_->connect();
  fake_->receive(clientHandshake(12000, 2, 0, 1));
  ASSERT_EQ(delegate_.events, std::vector<std::string>{"connect"});

  // Large false frames: each one makes the decoder scan 256 KiB again.
  const std::vector<uint8_t> big = falseFrame(kMaxSendPayloadBytes);
  const size_t perWindow = MessageBearer::kMaxFalseCandidateBytes / big.size();
  // Just under the limit in each window, over many windows: stays open.
  for (int window = 0; window < 3; ++window) {
    for (size_t i = 0; i < perWindow; ++i) fake_->receive(big);
    now += MessageBearer::kFalseCandidateWindowMs;
  }
  EXPECT_EQ(fake_->disconnects, 0);
  fake_->receive(frameOf(14, 1, {7}));
  EXPECT_EQ(delegate_.events.back(), "message:14:1");

  LogCapture log;
  for (size_t i = 0; i <= perWindow && fake_->disconnects == 0; ++i) fake_->receive(big);
  EXPECT_EQ(fake_->disconnects, 1);
  EXPECT_TRUE(log.contains("closed: too many false frame starts"));
  fake_->receive(frameOf(14, 2, {8}));
  EXPECT_EQ(delegate_.events.back(), "message:14:1");
}

}  // namespace
}  // namespace transport
