#pragma once
// GIF files written and read by giflib, the reference the decoder is checked against.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace fixtures {

using Rgb = std::array<uint8_t, 3>;

struct Frame {
  int left = 0, top = 0, width = 0, height = 0;
  bool interlace = false;
  std::vector<Rgb> colors; // local table; empty = none (power-of-two size)
  int delay = -1;          // hundredths of a second; -1 = no graphic control extension
  int disposal = 0;        // disposal method of the graphic control extension (0-7)
  int transparent = -1;    // transparent colour index; -1 = none
  std::vector<uint8_t> pixels;
};

struct Gif {
  int width = 0, height = 0;
  std::vector<Rgb> colors; // global table; empty = none
  std::vector<Frame> frames;
};

// A table of n colours (n a power of two), distinct and deterministic.
std::vector<Rgb> Palette(int n);
// w x h pixels below colors, from a seeded generator; runs of equal pixels of average
// length runLength (1 = noise).
std::vector<uint8_t> Pixels(int w, int h, int colors, uint32_t seed, int runLength = 1);

// A frame filling a width x height picture, its pixels from Pixels(width, height, colors,
// seed, runLength).
Frame FullFrame(int width, int height, int colors, uint32_t seed, int runLength = 1);

// Encodes with giflib (GIF89a); the rows of interlaced frames go out in interlace order.
std::vector<uint8_t> Encode(const Gif &gif);
// A still picture: one frame filling it, a global table of colors entries (a power of
// two), no graphic control extension.
std::vector<uint8_t> OneFrameGif(int width, int height, int colors, std::vector<uint8_t> pixels);

struct Decoded {
  int width = 0, height = 0;
  int delay = -1;              // hundredths, -1 without a graphic control extension
  std::vector<uint8_t> pixels; // in row order
};
// Decodes with giflib's DGifSlurp; returns false when giflib reports an error.
bool Decode(const std::vector<uint8_t> &bytes, std::vector<Decoded> &frames);

// giflib's images composed on the logical screen as browsers show them, pixel by pixel:
// 0xAARRGGBB, 0 where nothing was drawn; one picture per shown frame (a frame ends with an
// image whose delay is above 0, or with the last image). False when giflib reports an error.
bool Compose(const std::vector<uint8_t> &bytes, int &width, int &height,
             std::vector<std::vector<uint32_t>> &shown);

std::vector<uint8_t> ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::vector<uint8_t> &bytes);

} // namespace fixtures
