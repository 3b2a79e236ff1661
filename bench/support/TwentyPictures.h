#pragma once
// The large template several benchmarks measure with: about 300 KB, 20 pictures (JPEG,
// PNG and GIF in turn), all shown by its page.
#include "samples/SampleArt.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace plmbench {

// Writes the template's files into the folder stage (made if missing) and packs them into
// each of paths. tradeMark adds the trade mark section to content.ini.
inline void WriteTwentyPictureTemplate(const std::string &stage,
                                       const std::vector<std::string> &paths,
                                       bool tradeMark = true) {
  std::filesystem::create_directories(stage);
  std::vector<std::pair<std::string, std::string>> files;
  std::string images;
  const auto add = [&](const std::string &name, const std::string &bytes) {
    const std::string path = stage + "/" + name;
    plm::samples::WriteFile(path, bytes);
    files.emplace_back(path, name);
  };
  for (int i = 0; i < 20; ++i) {
    std::string name, bytes;
    if (i % 3 == 0) {
      name = "photo" + std::to_string(i) + ".jpg";
      bytes =
          plm::samples::EncodePicture(plm::samples::PaintPicture("noise", 170, 140, i), "jpeg", 80);
    } else if (i % 3 == 1) {
      name = "tile" + std::to_string(i) + ".png";
      bytes = plm::samples::EncodePicture(plm::samples::PaintPicture("noise", 72, 72, i), "png");
    } else {
      name = "flower" + std::to_string(i) + ".gif";
      bytes = plm::samples::EncodeGif({plm::samples::PaintPicture("noise", 90, 90, i)});
    }
    add(name, bytes);
    images += "<IMG src=\"" + name + "\">";
  }
  std::string ini = "[General]\r\nCollection=Banc d'essai\r\nDisplay=Vingt images\r\n";
  if (tradeMark) ini += "[TradeMark]\r\nTradeMark=Plumora\r\n";
  add("content.ini", ini);
  add("Flavor.htm", "<HTML><BODY><TABLE><TR><TD id=PLUMORATEXTREGION style=\"FONT-FAMILY: "
                    "Liberation Sans; FONT-SIZE: 12pt\">x</TD></TR><TR><TD>" +
                        images + "</TD></TR></TABLE></BODY></HTML>");
  for (const auto &path : paths)
    plm::samples::PackTemplate(path, files);
}

} // namespace plmbench
