#pragma once
// Pictures and templates made from code: the sample templates of the build, the test
// fixtures and the benchmark's data all come from here, so no binary is committed.
#include <QImage>

#include <string>
#include <utility>
#include <vector>

namespace plm::samples {

// A GIF89a file of the frames (all of the first frame's size, one shared palette taken
// from the first frame). delayCs is the frame delay in hundredths of a second; more
// than one frame loops forever.
std::string EncodeGif(const std::vector<QImage> &frames, int delayCs = 10);
// The picture in the format named by format ("jpeg", "png", "bmp", "gif").
std::string EncodePicture(const QImage &image, const std::string &format, int jpegQuality = 85);

// A picture of the named kind ("photo", "flower", "border", "star", "balloons", "wave",
// "noise"); seed varies it. Unknown kinds give a plain gradient.
QImage PaintPicture(const std::string &kind, int width, int height, unsigned seed = 1);
// The frames of a small animation (snow falling on a fir tree).
std::vector<QImage> PaintAnimation(int width, int height, int frames);

// Writes bytes to a file; false on failure.
bool WriteFile(const std::string &path, const std::string &bytes);

// Packs files into a one-cabinet archive (MSZIP): pairs of (source path, stored name).
// Raises the cabinet writer's error on failure.
void PackTemplate(const std::string &cabPath,
                  const std::vector<std::pair<std::string, std::string>> &files);

} // namespace plm::samples
