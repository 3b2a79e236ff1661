#pragma once
// The page of a template as the viewer's browser shows it, rendered without a screen: the
// one offscreen renderer of the program (plmtool's snapshot and thumbnail, the gallery's
// renderer processes). Each template is unpacked and rewritten in a private temporary
// folder, removed afterwards on every path (Ctrl-C, SIGTERM and a crash included), then
// loaded at the browser's design size with the viewer's browser set-up and lock-down, and
// taken once its pictures are decoded and drawn and it has stopped changing.
// Needs a QApplication.
#include "platform/Exceptions.h"
#include "preview/TemplateRules.h"

#include <QImage>

#include <cstdint>

#include <memory>
#include <string>

class QWebEngineView;

namespace plm {

class TTempFolder;

// A browser kept for page after page: its engine starts once, not once a template.
class TPageRenderer {
public:
  TPageRenderer();
  ~TPageRenderer();
  TPageRenderer(const TPageRenderer &) = delete;
  TPageRenderer &operator=(const TPageRenderer &) = delete;

  // The browser's picture of the template's page. Raises what the preview raises, and
  // EPageNotShown when the page does not load, stops loading after timeoutMs or loses
  // its renderer. A navigation that the page starts by itself and the lock-down refuses
  // (a refresh, a form that sends itself, a script moving the page) is not a failure:
  // the page stays and is what the picture shows.
  QImage RenderTemplate(const std::string &templatePath, int timeoutMs = 30000);

  // Lets the page run scripts (for the tests that check that the lock-down holds even so).
  void EnableScriptsForTests();

private:
  QImage RenderPage(const std::string &pagePath, const std::string &folder, int timeoutMs);
  // Loads the page; gives what the view showed before it. Raises EPageNotShown.
  QImage LoadPage(const std::string &pagePath, const std::string &folder, int timeoutMs);
  // Waits until the loaded page's pictures are decoded and its picture has stayed the same;
  // gives that picture. Raises EPageNotShown.
  QImage SettlePage(const QImage &before);
  QImage Grab();

  std::unique_ptr<QWebEngineView> fView;
  struct Browser;
  std::unique_ptr<Browser> fBrowser;
  class TFrameCounter;
  std::unique_ptr<TFrameCounter> fFrames;
  // The view's picture after the last page, and the frames counted then: what it still
  // shows while no frame came since.
  QImage fLastShot;
  uint64_t fLastShotFrames = 0;
  std::unique_ptr<TTempFolder> fScratch; // the templates' folders, made at the first
  uint64_t fTemplates = 0;
};

class EPageNotShown : public Exception {
public:
  using Exception::Exception;
};

// One template's page with a renderer of its own.
QImage RenderTemplatePage(const std::string &templatePath);

// The thumbnail of a page: scaled down to fit size x size with its proportions kept (a
// smaller page stays as it is), as 32-bit colour. The thumbnail verb and the gallery's
// cache share it.
QImage ThumbnailPicture(const QImage &page, int size = kThumbnailSize);

} // namespace plm
