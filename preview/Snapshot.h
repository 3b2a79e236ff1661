#pragma once
// The JPEG snapshot of a rendered template page, without any window: the sizes that the
// scale gives, the file name beside the template, the quality steps, the crop and scale
// of the browser's picture and the encoding. The main window's button and plmtool's
// snapshot command share it.
#include <QImage>
#include <QSize>

#include <cstdint>
#include <string>
#include <vector>

namespace plm {

// A snapshot leaves out the browser's right-most 22 and bottom 3 pixels.
constexpr int SnapshotTrimRight = 22;
constexpr int SnapshotTrimBottom = 3;
// The browser's size in the main window's design.
constexpr int BrowserDesignWidth = 699;
constexpr int BrowserDesignHeight = 568;
constexpr int SnapshotMinScale = 10, SnapshotMaxScale = 100;
constexpr int SnapshotMinStep = 1, SnapshotMaxStep = 10;

// The size of the file a snapshot at percent makes of a browser of the given size:
// trunc(percent × (width − 22) / 100) × trunc(percent × (height − 3) / 100).
QSize SnapshotSize(QSize browser, int percent);
// The size label's text: the browser's full size scaled, "349 x 284" at 50 %.
std::string ImageSizeText(QSize browser, int percent);
// The encoder's quality for a quality step: 10 × step (10 to 100).
int SnapshotQuality(int step);
// The template's name up to its first "." followed by "_snap.jpg".
std::string SnapshotFileName(const std::string &templateName);
// SnapshotFileName placed in folder.
std::string SnapshotPath(const std::string &folder, const std::string &templateName);
// The browser's picture cropped to the snapshot area and scaled to SnapshotSize with
// nearest-pixel sampling, as 24-bit colour. A picture with a device pixel ratio is read
// in device pixels. Raises EInvalidGraphicOperation when the area is empty.
QImage SnapshotPicture(const QImage &grab, QSize browser, int percent);
// The picture as a baseline colour JPEG at quality (1 to 100).
std::vector<uint8_t> EncodeSnapshot(const QImage &picture, int quality);
// Encodes and writes the picture to path, replacing an existing file only once the new
// one is complete. A failed write raises EFOpenError and leaves the old file alone.
void SaveSnapshot(const QImage &picture, int quality, const std::string &path);

} // namespace plm
