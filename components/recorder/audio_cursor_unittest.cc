#include "components/recorder/audio_cursor.h"

#include <gtest/gtest.h>

#include <vector>

namespace component {
namespace {

// Writes samples whose value is their position (mod 30000), so a read
// shows exactly where it came from.
void fill(SampleRing* ring, uint64_t from, uint64_t to) {
  std::vector<int16_t> samples;
  for (uint64_t p = from; p < to; ++p) samples.push_back(static_cast<int16_t>(p % 30000));
  ASSERT_EQ(SampleRing::kDone, ring->Write(samples.data(), samples.size(), from));
}

TEST(AudioCursorTest, LocksOneHundredMillisecondsBehindAndFollows) {
  SampleRing ring;
  AudioCursor cursor;
  int16_t out[480];
  // Nothing yet, then less than 100 ms: silence, unlocked.
  EXPECT_FALSE(cursor.read(ring, out, 480, 1000));
  fill(&ring, 0, 4000);
  EXPECT_FALSE(cursor.read(ring, out, 480, 1000));
  EXPECT_FALSE(cursor.locked());
  EXPECT_EQ(0, out[0]);

  fill(&ring, 4000, 10000);
  ASSERT_TRUE(cursor.read(ring, out, 480, 2000));
  EXPECT_TRUE(cursor.locked());
  // Locked at the newest position minus 100 ms.
  EXPECT_EQ(10000 - 4800, out[0]);
  EXPECT_EQ(10000 - 4800 + 479, out[479]);

  // The next request, 10 ms later on the recorder's clock, continues
  // seamlessly; a request that skips ahead moves the same distance.
  fill(&ring, 10000, 10480);
  ASSERT_TRUE(cursor.read(ring, out, 480, 2480));
  EXPECT_EQ(10000 - 4800 + 480, out[0]);
  fill(&ring, 10480, 11440);
  ASSERT_TRUE(cursor.read(ring, out, 480, 3440));
  EXPECT_EQ(10000 - 4800 + 1440, out[0]);
}

TEST(AudioCursorTest, ResynchronisesWhenTheDirectionDriftsOrRestarts) {
  SampleRing ring;
  AudioCursor cursor;
  int16_t out[480];
  fill(&ring, 0, 4800);
  ASSERT_TRUE(cursor.read(ring, out, 480, 0));
  EXPECT_EQ(0, out[0]);

  // The phone's audio runs ahead by 250 ms: more than 200 ms between the
  // cursor and the newest data lets go (silence) ...
  fill(&ring, 4800, 4800 + 12000);
  EXPECT_FALSE(cursor.read(ring, out, 480, 480));
  EXPECT_FALSE(cursor.locked());
  EXPECT_EQ(0, out[100]);
  // ... and the next read locks again 100 ms behind the newest sample.
  ASSERT_TRUE(cursor.read(ring, out, 480, 960));
  EXPECT_EQ(16800 - 4800, out[0]);

  // The recorder's clock going back resets the cursor.
  EXPECT_FALSE(cursor.read(ring, out, 480, 100));
  EXPECT_FALSE(cursor.locked());
  EXPECT_EQ(0u, cursor.base());

  // A reader that overtook the writer (the phone paused) lets go and waits.
  SampleRing paused;
  AudioCursor follower;
  fill(&paused, 0, 4800);
  ASSERT_TRUE(follower.read(paused, out, 480, 0));
  ASSERT_TRUE(follower.read(paused, out, 480, 480));
  EXPECT_FALSE(follower.read(paused, out, 480, 48000));
  EXPECT_FALSE(follower.locked());
  // An emptied ring (the stream was set up again) starts from scratch.
  paused.Setup();
  EXPECT_FALSE(follower.read(paused, out, 480, 48480));
  EXPECT_EQ(0u, follower.base());
}

}  // namespace
}  // namespace component
