#include "Templates.h"

#include "Pictures.h"
#include "cabinet/CabSTComps.h"

#include <QTemporaryDir>

#include <stdexcept>

namespace fixtures {

std::string TemplatePage(const std::string &background) {
  return "<HTML><HEAD><TITLE>Lettre</TITLE></HEAD>\r\n"
         "<BODY style=\"margin:0\" bgColor=" +
         background +
         ">\r\n"
         "<TABLE width=\"100%\"><TR>"
         "<TD id=PLUMORATEXTREGION style=\"FONT-FAMILY: DejaVu Sans; FONT-SIZE: 12pt\">"
         "Bonjour</TD></TR></TABLE>\r\n"
         "</BODY></HTML>\r\n";
}

std::string TemplateContent(const std::string &display) {
  return "[General]\r\nCollection=Essais\r\nDisplay=" + display +
         "\r\n[TradeMark]\r\nTradeMark=Maison\r\n";
}

TemplateEntry Text(const std::string &name, const std::string &text) {
  return {name, std::vector<uint8_t>(text.begin(), text.end())};
}

void WriteTemplate(const std::string &path, const std::vector<TemplateEntry> &entries) {
  QTemporaryDir scratch;
  if (!scratch.isValid()) throw std::runtime_error("no scratch folder");
  plm::TSTCabWriter writer;
  writer.setCompressionType(plm::cctMsZip); // the default, LZX, is not written by the library
  writer.StartCabinet(path);
  int n = 0;
  for (const auto &e : entries) {
    const std::string src = scratch.path().toStdString() + "/" + std::to_string(n++);
    WriteBytes(src, e.Bytes);
    writer.AddFile(src, e.Name);
  }
  writer.CloseCabinet(true);
}

void WriteSimpleTemplate(const std::string &path, const std::string &display,
                         const std::vector<TemplateEntry> &pictures) {
  std::vector<TemplateEntry> entries = {Text("content.ini", TemplateContent(display)),
                                        Text("Flavor.htm", TemplatePage())};
  entries.insert(entries.end(), pictures.begin(), pictures.end());
  WriteTemplate(path, entries);
}

} // namespace fixtures
