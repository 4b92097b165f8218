// A test card whose corners and arrow make orientation and mirroring
// visible (and checkable by a program): red top left, green top right,
// blue bottom left, yellow bottom right, a white arrow pointing up in the
// middle, grey elsewhere. Used by tests, benchmarks, the simulated phone
// and the camera viewer.
#ifndef COMPONENTS_VIDEO_TEST_CARD_H_
#define COMPONENTS_VIDEO_TEST_CARD_H_

#include <cstdint>
#include <string>
#include <vector>

#include "components/video/video_frame.h"
#include "components/video/video_geometry.h"

namespace component {

enum class CardColor { kRed, kGreen, kBlue, kYellow, kWhite, kGrey, kBlack, kOther };
const char* cardColorName(CardColor color);

// The upright card as 24-bit pixels; `phase` moves a small marker along
// the bottom edge so successive pictures differ.
VideoFrame makeTestCard(int32_t width, int32_t height, uint32_t phase = 0);

// The picture a phone held in `orientation` (flags bits 0-3) takes of the
// card: turning it as the orientation code says gives the card back.
VideoFrame takeAsPhone(const VideoFrame& upright, uint32_t orientation);

// The nearest card colour of one pixel (tolerant of JPEG and scaling).
CardColor colorAt(const uint8_t* pixels, int32_t rowBytes, int32_t x, int32_t y);

// The colours in the middle of the four corner blocks of a card drawn into
// `rect`, and at the arrow's head.
struct CardReading {
  CardColor topLeft = CardColor::kOther;
  CardColor topRight = CardColor::kOther;
  CardColor bottomLeft = CardColor::kOther;
  CardColor bottomRight = CardColor::kOther;
  CardColor arrowHead = CardColor::kOther;
  bool upright() const;
  bool mirrored() const;  // upright but left and right swapped
  std::string describe() const;
};
CardReading readCard(const uint8_t* pixels, int32_t rowBytes, const FitRect& rect);

}  // namespace component

#endif  // COMPONENTS_VIDEO_TEST_CARD_H_
