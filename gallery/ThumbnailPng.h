#pragma once
// A quick reader for the thumbnail cache's PNG entries, which a gallery of a big folder reads
// by the thousand: 8-bit RGB or RGBA pictures, not interlaced, as the cache writes them.
// It decodes about twice as fast as the general reader (libdeflate, and the rows turned
// into 32-bit pixels in one pass). Anything else is left to the general reader. Every byte
// is untrusted: the shared cache is written by other programs too.
#include <QImage>

#include <cstddef>

namespace plm {

enum class PngRead {
  Done,        // the picture, with its text keys
  Unsupported, // a valid PNG of another kind (palette, 16-bit, interlaced, ...) maybe
  Damaged,     // not a PNG, or one whose bytes do not add up
};

// Decodes the PNG in data[0, size) into picture (Format_RGB32 or Format_ARGB32, as the
// general reader gives them), its tEXt, zTXt and iTXt keys set as the picture's text.
// picture is left null unless Done.
PngRead ReadThumbnailPng(const char *data, size_t size, QImage &picture);

} // namespace plm
