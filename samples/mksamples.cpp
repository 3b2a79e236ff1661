// mksamples SOURCE_DIR OUT_DIR: builds the sample templates. Each folder of SOURCE_DIR
// becomes OUT_DIR/<folder>.plm holding the folder's files under their own names, plus
// the pictures that its pictures.txt describes, painted here. A folder holding a file
// "damaged" gives an archive that is cut short and scrambled.
#include "samples/SampleArt.h"

#include "platform/FileSys.h"
#include "platform/LineList.h"
#include "platform/Paths.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <sstream>

using namespace plm;

namespace {

std::string Picture(const std::string &format, const std::string &kind, int w, int h, int frames,
                    unsigned seed) {
  if (format == "agif") return samples::EncodeGif(samples::PaintAnimation(w, h, frames), 12);
  return samples::EncodePicture(samples::PaintPicture(kind, w, h, seed), format);
}

void Damage(const std::string &path) {
  std::string bytes;
  if (!ReadFileBytes(path, bytes)) throw std::runtime_error("cannot read " + path);
  bytes.resize(bytes.size() * 3 / 5);
  for (size_t i = 80; i < bytes.size(); i += 7)
    bytes[i] = char(bytes[i] ^ 0x5A);
  if (WriteFileBytes(path, bytes)) throw std::runtime_error("cannot write " + path);
}

void BuildOne(const std::string &src, const std::string &name, const std::string &out) {
  const std::string stage = JoinPath({out, ".stage", name});
  ForceDirectories(stage);
  std::vector<std::pair<std::string, std::string>> files;
  bool damaged = false;
  std::vector<std::string> entries = ListDirectory(src);
  std::sort(entries.begin(), entries.end());
  for (const auto &e : entries) {
    if (e == "damaged") damaged = true;
    if (e == "pictures.txt" || e == "damaged") continue;
    files.emplace_back(JoinPath({src, e}), e);
  }
  if (FileExists(JoinPath({src, "pictures.txt"}))) {
    TLineList lines;
    lines.LoadFromFile(JoinPath({src, "pictures.txt"}));
    unsigned seed = 1;
    for (const auto &l : lines.Lines()) {
      if (l.empty() || l[0] == '#') continue;
      std::istringstream in(l);
      std::string stored, format, kind, size;
      int frames = 1;
      in >> stored >> format >> kind >> size >> frames;
      int w = 0, h = 0;
      if (std::sscanf(size.c_str(), "%dx%d", &w, &h) != 2 || w <= 0 || h <= 0)
        throw std::runtime_error("bad picture line: " + l);
      std::string rel = stored;
      std::replace(rel.begin(), rel.end(), '\\', '/');
      const std::string path = JoinPath({stage, rel});
      ForceDirectories(ExtractFilePath(path));
      const std::string bytes = Picture(format, kind, w, h, frames, seed++);
      if (bytes.empty() || !samples::WriteFile(path, bytes))
        throw std::runtime_error("cannot make " + path);
      files.emplace_back(path, stored);
    }
  }
  const std::string cab = JoinPath({out, name + ".plm"});
  DeleteFile(cab);
  samples::PackTemplate(cab, files);
  if (damaged) Damage(cab);
}

} // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  if (argc != 3) {
    std::fputs("usage: mksamples SOURCE_DIR OUT_DIR\n", stderr);
    return 2;
  }
  const std::string src = argv[1], out = argv[2];
  try {
    ForceDirectories(out);
    std::vector<std::string> names = ListDirectory(src);
    std::sort(names.begin(), names.end());
    for (const auto &n : names)
      if (DirectoryExists(JoinPath({src, n}))) BuildOne(JoinPath({src, n}), n, out);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "mksamples: %s\n", e.what());
    return 1;
  }
  return 0;
}
