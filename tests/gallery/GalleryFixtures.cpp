#include "GalleryFixtures.h"

#include "platform/FileCopy.h"
#include "samples/HostileCabinets.h"

#include <QProcess>

#include <stdexcept>

namespace gallerytest {

std::string Page(const std::string &head, const std::string &body) {
  return "<HTML><HEAD>" + head + "</HEAD>\r\n<BODY style=\"margin:0\" bgColor=#c03020>\r\n"
         "<TABLE width=\"100%\"><TR><TD id=PLUMORATEXTREGION "
         "style=\"FONT-FAMILY: DejaVu Sans\">Bonjour</TD></TR></TABLE>\r\n" +
         body + "</BODY></HTML>\r\n";
}

std::string WriteTemplate(const std::string &path, const std::string &page) {
  const std::string cab = plm::samples::StoredCabinet({
      {"content.ini", "[General]\r\nCollection=Essais\r\nDisplay=Essai\r\n"},
      {"Flavor.htm", page},
      {"other.htm", "<HTML><BODY bgColor=#20c030>autre</BODY></HTML>"},
  });
  if (plm::WriteFileBytes(path, cab) != 0) throw std::runtime_error("cannot write " + path);
  return path;
}

std::string WriteBomb(const std::string &path) {
  const std::string cab = plm::samples::ZeroBombCabinet(
      {{"Flavor.htm", Page()}, {"zeros.bin", "", 300ull << 20}});
  if (plm::WriteFileBytes(path, cab) != 0) throw std::runtime_error("cannot write " + path);
  return path;
}

bool ShowsPage(const QImage &picture) {
  if (picture.isNull()) return false;
  const QColor c = picture.pixelColor(picture.width() / 2, picture.height() / 2);
  return std::abs(c.red() - kPageColour.red()) < 8 && std::abs(c.green() - kPageColour.green()) < 8 &&
         std::abs(c.blue() - kPageColour.blue()) < 8;
}

ToolRun RunPlmtool(const std::vector<std::string> &args, const std::vector<std::string> &env) {
  QProcess p;
  QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
  e.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
  e.remove("QT_QPA_PLATFORM"); // the tool needs no screen of its own
  for (const auto &kv : env) {
    const size_t eq = kv.find('=');
    e.insert(QString::fromStdString(kv.substr(0, eq)), QString::fromStdString(kv.substr(eq + 1)));
  }
  p.setProcessEnvironment(e);
  QStringList list;
  for (const auto &a : args)
    list << QString::fromLocal8Bit(a.c_str());
  p.start(QString(PLM_BIN_DIR) + "/plmtool", list);
  ToolRun r;
  if (!p.waitForFinished(120000)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.Code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.Out = p.readAllStandardOutput().toStdString();
  r.Err = p.readAllStandardError().toStdString();
  return r;
}

} // namespace gallerytest
