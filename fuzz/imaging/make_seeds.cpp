// Writes the starting corpora of the imaging fuzz targets: GIF files of every feature the
// decoder reads, and picture headers of every kind the inspector knows.
#include "tests/imaging/GifFixtures.h"

#include <cstdio>
#include <string>
#include <sys/stat.h>

using fixtures::Encode;
using fixtures::WriteFile;

int main(int argc, char **argv) {
  if (argc != 3) return 2;
  const std::string gifDir = argv[1], infoDir = argv[2];
  mkdir(gifDir.c_str(), 0755);
  mkdir(infoDir.c_str(), 0755);
  int n = 0;
  auto save = [&](const std::vector<uint8_t> &b) {
    WriteFile(gifDir + "/seed" + std::to_string(n) + ".gif", b);
    WriteFile(infoDir + "/seed" + std::to_string(n) + ".gif", b);
    ++n;
  };
  for (int bits : {1, 2, 4, 8}) {
    fixtures::Gif g;
    g.width = 24;
    g.height = 9;
    g.colors = fixtures::Palette(1 << bits);
    for (int i = 0; i < 3; ++i) {
      fixtures::Frame f = fixtures::FullFrame(24 - i * 4, 9 - i * 2, i == 2 ? 4 : 1 << bits,
                                              uint32_t(bits * 10 + i), 3);
      f.interlace = i == 1;
      f.delay = 10 * i;
      if (i == 2) f.colors = fixtures::Palette(4);
      g.frames.push_back(f);
    }
    save(Encode(g));
  }
  // A still picture, as most templates hold.
  save(fixtures::OneFrameGif(16, 12, 2, fixtures::Pixels(16, 12, 2, 5, 4)));
  // Extensions of every kind, built by hand: plain text, comment, application, unknown.
  std::vector<uint8_t> b = {'G', 'I', 'F', '8', '9', 'a', 8, 0, 4, 0, 0x81, 0, 0};
  for (int i = 0; i < 4; ++i)
    b.insert(b.end(), {uint8_t(i * 80), uint8_t(255 - i * 80), 0});
  b.insert(b.end(),
           {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0});
  b.insert(b.end(), {0x21, 0xFE, 3, 'a', 'b', 'c', 0});
  b.insert(b.end(), {0x21, 0x01, 12, 0, 0, 0, 0, 8, 0, 4, 0, 4, 4, 1, 2, 2, 'H', 'i', 0});
  b.insert(b.end(), {0x21, 0x42, 1, 9, 0});
  b.insert(b.end(), {0x21, 0xF9, 4, 0, 50, 0, 0, 0});
  b.insert(b.end(), {0x2C, 0, 0, 0, 0, 8, 0, 4, 0, 0, 2, 3, 0x84, 0x8F, 0x09, 0, 0x3B});
  save(b);
  // Headers for the inspector.
  const std::vector<std::vector<uint8_t>> headers = {
      {0x89, 'P', 'N', 'G', 13,   10, 26, 10, 0,    0, 0, 13, 'I', 'H', 'D',
       'R',  0,   0,   2,   0x80, 0,  0,  1,  0xE0, 8, 2, 0,  0,   0},
      {'B', 'M', 54, 0,  0, 0, 0, 0,  0, 0, 54, 0, 0, 0,  40,
       0,   0,   0,  33, 0, 0, 0, 21, 0, 0, 0,  1, 0, 24, 0},
      {0x0A, 5, 1, 8, 0, 0, 0, 0, 99, 0, 49, 0},
      {'I', 'I', 0x2A, 0, 8, 0, 0, 0, 2, 0, 0, 1, 3, 0,  1, 0, 0,
       0,   64,  0,    0, 0, 1, 1, 3, 0, 1, 0, 0, 0, 32, 0, 0, 0},
      {'M', 'M', 0, 0x2A, 0, 0, 0, 8, 0, 1, 1, 2, 0, 3, 0, 0, 0, 1, 0, 8, 0, 0},
      {0xFF, 0xD8, 0xFF, 0xE0, 0,  4, 0, 0,    0xFF, 0xC0, 0,   11,
       8,    0,    10,   0,    20, 1, 1, 0x11, 0,    0xFF, 0xD9},
  };
  for (size_t i = 0; i < headers.size(); ++i)
    WriteFile(infoDir + "/header" + std::to_string(i), headers[i]);
  return 0;
}
