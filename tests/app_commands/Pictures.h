#pragma once
// Picture files for the tests, made byte by byte or with the project's own encoder.
#include <QColor>
#include <QImage>

#include <cstdint>
#include <string>
#include <vector>

namespace fixtures {

// An animated GIF (a loop extension, one frame per colour, each filling the picture).
std::vector<uint8_t> AnimatedGif(int width, int height, const std::vector<QColor> &frames,
                                 int delayCs = 5);
// A JPEG of a plain colour, through TJPEGImage.
std::vector<uint8_t> Jpeg(int width, int height, QColor colour = QColor(200, 30, 30));
// A PNG of a plain colour.
std::vector<uint8_t> Png(int width, int height, QColor colour = QColor(30, 200, 30));

void WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes);
void WriteText(const std::string &path, const std::string &text);
std::vector<uint8_t> ReadBytes(const std::string &path);

// The JPEG's quantisation tables, in file order (64 values each); SOF0 tells baseline.
struct JpegFacts {
  std::vector<std::vector<int>> Tables;
  bool Baseline = false;
  int Width = 0, Height = 0, Components = 0;
};
JpegFacts ReadJpegFacts(const std::vector<uint8_t> &bytes);
// The luminance table libjpeg makes for a quality (1..100), clamped for baseline.
std::vector<int> ExpectedLuminanceTable(int quality);

} // namespace fixtures
