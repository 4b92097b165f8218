#include "components/video/test_card.h"

#include <cstdlib>

namespace component {

namespace {

struct Bgr {
  uint8_t b, g, r;
};

constexpr Bgr kRed{0, 0, 230};
constexpr Bgr kGreen{0, 200, 0};
constexpr Bgr kBlue{230, 0, 0};
constexpr Bgr kYellow{0, 230, 230};
constexpr Bgr kWhite{255, 255, 255};
constexpr Bgr kGrey{128, 128, 128};
constexpr Bgr kBlack{0, 0, 0};

void put(VideoFrame* frame, int32_t x, int32_t y, Bgr color) {
  uint8_t* p = frame->data.data() + static_cast<size_t>(y) * frame->width * 3 + static_cast<size_t>(x) * 3;
  p[0] = color.b;
  p[1] = color.g;
  p[2] = color.r;
}

// The arrow: a head (triangle) over a shaft, both centred.
bool inArrow(int32_t x, int32_t y, int32_t w, int32_t h) {
  const double cx = w / 2.0;
  const double top = h * 0.3, headBottom = h * 0.5, bottom = h * 0.72;
  const double headHalf = w * 0.12, shaftHalf = w * 0.035;
  const double px = x + 0.5, py = y + 0.5;
  if (py >= top && py < headBottom) {
    const double half = headHalf * (py - top) / (headBottom - top);
    return std::abs(px - cx) <= half;
  }
  if (py >= headBottom && py < bottom) return std::abs(px - cx) <= shaftHalf;
  return false;
}

}  // namespace

const char* cardColorName(CardColor color) {
  switch (color) {
    case CardColor::kRed: return "red";
    case CardColor::kGreen: return "green";
    case CardColor::kBlue: return "blue";
    case CardColor::kYellow: return "yellow";
    case CardColor::kWhite: return "white";
    case CardColor::kGrey: return "grey";
    case CardColor::kBlack: return "black";
    default: return "other";
  }
}

VideoFrame makeTestCard(int32_t width, int32_t height, uint32_t phase) {
  VideoFrame card;
  card.width = width;
  card.height = height;
  card.pixel_format = kPixelFormat_24RGB;
  card.stride = width * 3;
  card.data.resize(static_cast<size_t>(width) * height * 3);
  const int32_t bw = width / 4, bh = height / 4;
  const int32_t markerSide = height / 16 > 0 ? height / 16 : 1;
  const int32_t markerX = bw + static_cast<int32_t>((phase * 7) % static_cast<uint32_t>(width - 2 * bw > 0 ? width - 2 * bw : 1));
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      Bgr color = kGrey;
      const bool left = x < bw, right = x >= width - bw, top = y < bh, bottom = y >= height - bh;
      if (top && left) color = kRed;
      else if (top && right) color = kGreen;
      else if (bottom && left) color = kBlue;
      else if (bottom && right) color = kYellow;
      else if (inArrow(x, y, width, height)) color = kWhite;
      else if (y >= height - markerSide && x >= markerX && x < markerX + markerSide) color = kBlack;
      put(&card, x, y, color);
    }
  }
  return card;
}

VideoFrame takeAsPhone(const VideoFrame& upright, uint32_t orientation) {
  // How the phone's picture lies: the card turned clockwise by this angle.
  // Code 1 pictures need a 270 degree turn to stand, so they lie at 90; code
  // 4 ones lie at 270; code 2 upside down. Written out here rather than taken
  // from the code under test, so a wrong table there cannot cancel itself.
  int angle = 0;
  if (orientation & 1) angle = 90;
  else if (orientation & 2) angle = 180;
  else if (orientation & 4) angle = 270;
  const int32_t w = upright.width, h = upright.height;
  VideoFrame out = upright;
  out.flags = orientation;
  if (angle == 90 || angle == 270) {
    out.width = h;
    out.height = w;
  }
  out.stride = out.width * 3;
  for (int32_t y = 0; y < out.height; ++y) {
    for (int32_t x = 0; x < out.width; ++x) {
      int32_t sx = x, sy = y;
      switch (angle) {
        case 90: sx = y; sy = h - 1 - x; break;
        case 180: sx = w - 1 - x; sy = h - 1 - y; break;
        case 270: sx = w - 1 - y; sy = x; break;
        default: break;
      }
      const uint8_t* s = upright.data.data() + (static_cast<size_t>(sy) * w + sx) * 3;
      uint8_t* d = out.data.data() + (static_cast<size_t>(y) * out.width + x) * 3;
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
    }
  }
  return out;
}

CardColor colorAt(const uint8_t* pixels, int32_t rowBytes, int32_t x, int32_t y) {
  const uint8_t* p = pixels + static_cast<ptrdiff_t>(y) * rowBytes + static_cast<ptrdiff_t>(x) * 3;
  const struct {
    Bgr bgr;
    CardColor color;
  } palette[] = {{kRed, CardColor::kRed},       {kGreen, CardColor::kGreen}, {kBlue, CardColor::kBlue},
                 {kYellow, CardColor::kYellow}, {kWhite, CardColor::kWhite}, {kGrey, CardColor::kGrey},
                 {kBlack, CardColor::kBlack}};
  for (const auto& entry : palette) {
    if (std::abs(p[0] - entry.bgr.b) < 48 && std::abs(p[1] - entry.bgr.g) < 48 && std::abs(p[2] - entry.bgr.r) < 48)
      return entry.color;
  }
  return CardColor::kOther;
}

CardReading readCard(const uint8_t* pixels, int32_t rowBytes, const FitRect& rect) {
  auto at = [&](double fx, double fy) {
    return colorAt(pixels, rowBytes, rect.x + static_cast<int32_t>(rect.width * fx),
                   rect.y + static_cast<int32_t>(rect.height * fy));
  };
  CardReading reading;
  reading.topLeft = at(0.125, 0.125);
  reading.topRight = at(0.875, 0.125);
  reading.bottomLeft = at(0.125, 0.875);
  reading.bottomRight = at(0.875, 0.875);
  reading.arrowHead = at(0.58, 0.45);  // off the shaft: only the head is white here
  return reading;
}

bool CardReading::upright() const {
  return topLeft == CardColor::kRed && topRight == CardColor::kGreen && bottomLeft == CardColor::kBlue &&
         bottomRight == CardColor::kYellow && arrowHead == CardColor::kWhite;
}

bool CardReading::mirrored() const {
  return topLeft == CardColor::kGreen && topRight == CardColor::kRed && bottomLeft == CardColor::kYellow &&
         bottomRight == CardColor::kBlue && arrowHead == CardColor::kWhite;
}

std::string CardReading::describe() const {
  return std::string("top left ") + cardColorName(topLeft) + ", top right " + cardColorName(topRight) +
         ", bottom left " + cardColorName(bottomLeft) + ", bottom right " + cardColorName(bottomRight) +
         ", arrow head " + cardColorName(arrowHead);
}

}  // namespace component
