#include "app/UMain.h"

#include "app/PreviewGuard.h"
#include "app/TemplatePreview.h"
#include "app/UAbout.h"
#include "app/Uglobalvar.h"
#include "cabinet/CabSTComps.h"
#include "components/DiskCaps.h"
#include "imaging/DCImageInfo.h"
#include "platform/AppPaths.h"
#include "platform/Exceptions.h"
#include "platform/FileSys.h"
#include "platform/IniFile.h"
#include "platform/LineList.h"
#include "platform/Paths.h"
#include "platform/Strings.h"
#include "platform/TempDir.h"
#include "platform/Volumes.h"
#include "platform/gui/Cursors.h"
#include "platform/gui/ErrorReport.h"
#include "platform/gui/Fonts.h"
#include "platform/gui/Hints.h"
#include "platform/gui/KeyPreview.h"

#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QShowEvent>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

#include <cerrno>
#include <cstring>

using namespace plm;

namespace {

const char *const kIniGeneral = "General";
const char *const kIniUsual = "ListUsualFolder";
constexpr int kMaxHintPause = 3600 * 1000;

// An entry of the usual-folders list: the folder's bytes when the item holds them.
std::string UsualFolderAt(const QComboBox *combo, int i) {
  const QVariant data = combo->itemData(i);
  return data.isValid() ? data.toByteArray().toStdString() : FromDisplay(combo->itemText(i));
}

bool SameTarget(const QUrl &a, const QUrl &b) {
  if (a.isLocalFile() && b.isLocalFile())
    return QFileInfo(a.toLocalFile()).absoluteFilePath() ==
           QFileInfo(b.toLocalFile()).absoluteFilePath();
  return a.adjusted(QUrl::StripTrailingSlash) == b.adjusted(QUrl::StripTrailingSlash);
}

// The page shows only what the template holds: no scripts, no plug-ins, nothing fetched
// on the page's behalf.
void LockDown(QWebEngineSettings *s) {
  s->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
  s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
  s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
  s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
  s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
  s->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
  s->setAttribute(QWebEngineSettings::HyperlinkAuditingEnabled, false);
  s->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
  s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
  s->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
  s->setAttribute(QWebEngineSettings::WebGLEnabled, false);
  s->setAttribute(QWebEngineSettings::Accelerated2dCanvasEnabled, false);
}

} // namespace

void InitViewerResources() {
  static const bool once = [] {
    Q_INIT_RESOURCE(plmlooker);
    // The windows are laid out for a narrow 8-point sans serif; the nearest here.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Liberation Sans"),
                                QStringLiteral("DejaVu Sans Condensed"),
                                QStringLiteral("DejaVu Sans")});
    return true;
  }();
  (void)once;
}

TF_Main::TF_Main(QWidget *owner) : QDialog(owner) {
  InitViewerResources();
  setupUi(this);
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  FormLayout->setMenuBar(MainMenu);
  resize(1023, 764);
  if (const QScreen *s = QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - rect().center());

  QPalette menu = Listimages->palette();
  menu.setColor(QPalette::Base, menu.color(QPalette::Window));
  Listimages->setPalette(menu);
  LabTrademark->setAttribute(Qt::WA_TranslucentBackground);
  // The scale changes by its arrows only.
  if (auto *edit = coefsize->findChild<QLineEdit *>()) edit->setReadOnly(true);

  UnPas21 = new QObject(this);
  UnPas21->setObjectName(QStringLiteral("UnPas21"));
  UnPas21->setProperty("StopSiDejaLance", true);
  DiskCaps1 = new TDiskCaps(this);
  DiskCaps1->setObjectName(QStringLiteral("DiskCaps1"));
  CabReader = new TSTCabReader(this);
  CabReader->setObjectName(QStringLiteral("CabReader"));
  STCabWriter1 = new TSTCabWriter(this);
  STCabWriter1->setObjectName(QStringLiteral("STCabWriter1"));

  // A private, off-the-record profile: nothing of a page is kept on disk, and its
  // guard sees every request.
  fProfile = new QWebEngineProfile(this);
  PreviewGuard = new TPreviewGuard(this);
  fProfile->setUrlRequestInterceptor(PreviewGuard);
  auto *page = new QWebEnginePage(fProfile, WebBrowser);
  LockDown(page->settings());
  WebBrowser->setPage(page);
  connect(page, &QWebEnginePage::loadingChanged, this, &TF_Main::LoadingChanged);

  FileListBox->OnClick = [this](QObject *) { GuardCall([this] { FileListBoxClick(); }, this); };
  FileListBox->OnChange = [this](QObject *) { GuardCall([this] { FileListBoxChange(); }, this); };
  connect(Exit1, &QAction::triggered, this, Guarded([this](bool) { Exit1Click(); }, this));
  connect(Aboutbox, &QAction::triggered, this, Guarded([this](bool) { AboutboxClick(); }, this));
  connect(FileListBox, &QWidget::customContextMenuRequested, this, [this](const QPoint &p) {
    Popuplistfile->popup(FileListBox->viewport()->mapToGlobal(p));
  });
  connect(CB_UsualFolder, &QWidget::customContextMenuRequested, this,
          [this](const QPoint &p) { PPMn_UsualFolder->popup(CB_UsualFolder->mapToGlobal(p)); });
  new TKeyPreview(this, [this](int &key, Qt::KeyboardModifiers shift) {
    GuardCall([&] { FormKeyDown(key, shift); }, this);
  });
}

TF_Main::~TF_Main() {
  // The page must go before the profile it was made with.
  if (QWebEnginePage *page = WebBrowser->page()) {
    WebBrowser->setPage(nullptr);
    delete page;
  }
  delete fProfile;
}

void TF_Main::showEvent(QShowEvent *e) {
  QDialog::showEvent(e);
  if (!e->spontaneous()) GuardCall([this] { FormShow(); }, this);
}

void TF_Main::done(int r) {
  if (!fClosed) {
    bool allow = true;
    GuardCall([&] { allow = FormCloseQuery(); }, this);
    if (!allow) return;
    fClosed = true;
  }
  QDialog::done(r);
}

void TF_Main::FormShow() {
  // Until the window is shown the folder tree has chosen nothing: it starts at home.
  if (fShellPath.empty()) setShellTreePath(HomeDir());
  Majdata();
}

void TF_Main::Majdata() {
  ClickSeen = false;
  SetHintHidePause(int(std::min<long long>(HintHidePause() * 2LL, kMaxHintPause)));
  CB_UsualFolder->clear();
  PreviewBusy = false;

  const std::string iniName = SettingsFileName();
  if (!FileExists(iniName)) return;
  const TIniFile ini(iniName);
  LastFolder = ini.ReadString(kIniGeneral, "LastFolder", ShellTreePath());
  SavePath = ini.ReadString(kIniGeneral, "SavePath", "");
  if (ShellTreePath() != LastFolder) setShellTreePath(LastFolder);

  // key=value lines, a key met again replacing its earlier line; then only the values.
  std::vector<std::pair<std::string, std::string>> lines;
  for (const auto &key : ini.ReadSection(kIniUsual)) {
    const std::string value = ini.ReadString(kIniUsual, key, "");
    if (value.empty()) continue;
    auto it = std::find_if(lines.begin(), lines.end(),
                           [&](const auto &l) { return SameText(l.first, key); });
    if (it != lines.end())
      it->second = value;
    else
      lines.emplace_back(key, value);
  }
  for (const auto &l : lines) {
    const std::string folder = TrimRight(l.second);
    if (DirectoryExists(folder))
      CB_UsualFolder->addItem(ToDisplay(folder), QByteArray::fromStdString(folder));
  }
}

bool TF_Main::FormCloseQuery() {
  cleartempdir();
  try {
    const std::string iniName = SettingsFileName();
    if (!FileExists(iniName)) {
      ForceDirectories(ExtractFilePath(iniName), 0700);
      if (const int e = WriteFileBytes(iniName, ""))
        throw EFOpenError("Impossible de créer le fichier \"" + iniName + "\". " +
                          std::strerror(e));
    }
    TIniFile ini(iniName);
    ini.WriteString(kIniGeneral, "LastFolder", LastFolder);
    if (!SavePath.empty()) ini.WriteString(kIniGeneral, "SavePath", SavePath);
    if (ini.SectionExists(kIniUsual)) ini.EraseSection(kIniUsual);
    for (int i = 0; i < CB_UsualFolder->count(); ++i) {
      const std::string folder = UsualFolderAt(CB_UsualFolder, i);
      if (DirectoryExists(folder)) ini.WriteString(kIniUsual, "Folder" + std::to_string(i), folder);
    }
  } catch (const EAbort &) {
  } catch (const std::exception &e) {
    // The settings are lost, not the user's way out: report and close all the same.
    ShowException(e, this);
  }
  return true;
}

void TF_Main::cleartempdir() {
  Labimageinfo->clear();
  const std::string folder = PreviewFolder();
  if (IsSymLink(folder)) {
    // Not ours to walk into: only the link goes.
    DeleteFile(folder);
    return;
  }
  if (!DirectoryExists(folder)) return;
  for (const auto &name : ListDirectory(folder))
    DeleteEntryNoFollow(AddBackslash(folder) + name);
  const QString here = QFileInfo(QString::fromStdString(GetCurrentDir())).canonicalFilePath();
  if (!here.isEmpty() && here == QFileInfo(QString::fromStdString(folder)).canonicalFilePath())
    SetCurrentDir(TempPath);
  if (!RemoveDir(folder)) {
    PreviewBusy = false;
    SetScreenCursor(TScreenCursor::crDefault);
  }
}

void TF_Main::Exit1Click() { close(); }

void TF_Main::FormKeyDown(int &key, Qt::KeyboardModifiers) {
  if (key == Qt::Key_Escape) {
    key = 0;
    close();
  }
}

void TF_Main::AboutboxClick() {
  TFAbout about(this);
  about.exec();
}

void TF_Main::FileListBoxClick() {
  ClickSeen = true;
  selectedfile();
}

void TF_Main::FileListBoxChange() {
  if (!ClickSeen) selectedfile();
  ClickSeen = false;
}

void TF_Main::selectedfile() {
  const int index = FileListBox->ItemIndex();
  if (FileListBox->count() == 0 || index < 0) {
    Navigate("");
    return;
  }
  Snapshot_btn->setEnabled(false);
  if (PreviewBusy) return;
  cleartempdir();

  PreviewBusy = true;
  TTemplatePreview preview(PreviewFolder());
  SetScreenCursor(TScreenCursor::crHourGlass);
  try {
    preview.Extract(AddBackslash(FileListBox->Directory()) + FileListBox->ItemText(index));

    const TemplateFields fields = preview.ReadFields();
    LabCollection->setText(ToDisplay(fields.Collection));
    LabDisplay->setText(ToDisplay(fields.Display));
    LabTrademark->setText(ToDisplay(fields.TradeMark));

    preview.LoadPage();
    const std::string font = preview.FontName();
    LabFont->setText(ToDisplay(font));
    QPalette pal = LabFont->palette();
    pal.setColor(QPalette::WindowText,
                 IsFontInstalled(font) ? QColor(0, 128, 0) : QColor(255, 0, 0));
    LabFont->setPalette(pal);

    preview.RewritePage();

    Listimages->clear();
    for (const auto &name : preview.Pictures()) {
      auto *item = new QListWidgetItem(ToDisplay(name), Listimages);
      item->setData(Qt::UserRole, QByteArray::fromStdString(name));
    }
    if (Listimages->count() > 0) {
      Listimages->setCurrentRow(0);
      selectimage();
    }

    preview.SavePage();
    SetScreenCursor(TScreenCursor::crAppStart);
    Navigate(preview.PagePath());
  } catch (...) {
    // The report follows; the preview is idle again so the next selection works.
    PreviewBusy = false;
    SetScreenCursor(TScreenCursor::crDefault);
    throw;
  }
}

void TF_Main::resetright() {
  Snapshot_btn->setEnabled(false);
  LabCollection->clear();
  LabDisplay->clear();
  LabTrademark->clear();
  LabFont->clear();
  Listimages->clear();
  Labimageinfo->clear();
}

void TF_Main::WebBrowserDownloadComplete() {
  SetScreenCursor(TScreenCursor::crDefault);
  PreviewBusy = false;
  const int type = DiskCaps1->DriveType();
  Snapshot_btn->setEnabled(
      fShowingTemplate && FileListBox->count() > 0 &&
      (type == DRIVE_REMOVABLE || type == DRIVE_FIXED || type == DRIVE_REMOTE));
  emit DownloadComplete();
}

void TF_Main::selectimage() {
  Labimageinfo->clear();
  const QListWidgetItem *item = Listimages->currentItem();
  if (Listimages->count() == 0 || !item) return;
  TDCImageInfo info;
  info.ReadInfo(AddBackslash(PreviewFolder()) +
                item->data(Qt::UserRole).toByteArray().toStdString());
  Labimageinfo->setText(ToDisplay(ImageInfoText(info, "\n")));
}

void TF_Main::setShellTreePath(const std::string &path) {
  // The tree only ever selects folders that exist.
  if (!DirectoryExists(path)) return;
  fShellPath = path;
  ShellTreeChange();
}

void TF_Main::ShellTreeChange() {
  const std::string p = fShellPath;
  if (!DirectoryExists(p)) return;
  FileListBox->setDirectory(p);
  Navigate("");
  ClickSeen = false;
  DiskCaps1->setDrive(MountPointOf(p));
  resetright();
  LastFolder = p;
  const int sel = CB_UsualFolder->currentIndex();
  if (sel < 0 || UsualFolderAt(CB_UsualFolder, sel) != p) CB_UsualFolder->setCurrentIndex(-1);
}

void TF_Main::Navigate(const std::string &path) {
  fShowingTemplate = !path.empty();
  PreviewGuard->setAllowedFolder(fShowingTemplate ? QString::fromStdString(PreviewFolder())
                                                  : QString());
  fPendingUrl = fShowingTemplate ? QUrl::fromLocalFile(QString::fromStdString(path))
                                 : QUrl(QStringLiteral("about:blank"));
  WebBrowser->load(fPendingUrl);
}

void TF_Main::LoadingChanged(const QWebEngineLoadingInfo &info) {
  if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) return;
  // A navigation that a newer one replaced ends unheard.
  if (fPendingUrl.isEmpty() || !SameTarget(info.url(), fPendingUrl)) return;
  fPendingUrl = QUrl();
  GuardCall([this] { WebBrowserDownloadComplete(); }, this);
}
