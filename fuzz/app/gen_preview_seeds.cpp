// Writes small templates as seeds for the preview fuzzer: one packed by the project's
// writer (MSZIP), stored ones with odd names and a next cabinet, and a little bomb.
#include "platform/FileSys.h"
#include "platform/LineList.h"
#include "samples/HostileCabinets.h"
#include "samples/SampleArt.h"

#include <string>

using plm::samples::CabEntry;

namespace {

const char kPage[] = "<HTML><BODY><TABLE><TR><TD id=PLUMORATEXTREGION style=\"FONT-FAMILY: "
                     "Arial; FONT-SIZE: 12pt\">\r\n<DIV>x</DIV></TD></TR></TABLE>"
                     "<IMG src=\"a.gif\"></BODY></HTML>\r\n";
const char kIni[] = "[General]\r\nCollection=Saisons\r\nDisplay=Printemps\r\n"
                    "[TradeMark]\r\nTradeMark=ACME\r\n";

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  const std::string dir = argv[1];
  if (!plm::ForceDirectories(dir)) return 1;
  const std::string gif = "GIF89a\x01\x00\x01\x00\x00\x00\x00;";
  int n = 0;
  auto save = [&](const std::string &bytes) {
    return plm::WriteFileBytes(dir + "/seed" + std::to_string(n++) + ".plm", bytes) == 0;
  };
  bool ok = save(plm::samples::StoredCabinet(
      {{"content.ini", kIni}, {"Flavor.htm", kPage}, {"a.gif", gif}}));
  ok = save(plm::samples::StoredCabinet({{"FLAVOR.HTM", "<P>\n<TD id=PLUMORATEXTREGION>t"},
                                         {"sub\\b.gif", gif},
                                         {"caf\xe9.gif", gif},
                                         {"n\xc3\xa9\xff.gif", gif, 0, 0xA0},
                                         {"..\\up.gif", gif}},
                                        "next.cab")) && ok;
  ok = save(plm::samples::ZeroBombCabinet({{"Flavor.htm", kPage}, {"z.bmp", "", 1 << 20}})) && ok;
  // The project's writer: MSZIP, as real templates are.
  const std::string stage = dir + "/.stage";
  plm::ForceDirectories(stage);
  plm::WriteFileBytes(stage + "/p", kPage);
  plm::WriteFileBytes(stage + "/i", kIni);
  plm::WriteFileBytes(stage + "/g", gif);
  plm::samples::PackTemplate(dir + "/seed" + std::to_string(n++) + ".plm",
                             {{stage + "/i", "content.ini"},
                              {stage + "/p", "Flavor.htm"},
                              {stage + "/g", "a.gif"}});
  for (const auto &f : plm::ListDirectory(stage))
    plm::DeleteFile(stage + "/" + f);
  plm::RemoveDir(stage);
  return ok ? 0 : 1;
}
