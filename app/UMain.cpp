#include "app/UMain.h"

#include "app/UAbout.h"
#include "app/U_ViewPic.h"
#include "app/Uglobalvar.h"
#include "cabinet/CabSTComps.h"
#include "components/DiskCaps.h"
#include "components/UnPas2.h"
#include "imaging/DCImageInfo.h"
#include "platform/AppPaths.h"
#include "platform/DisplayText.h"
#include "platform/Exceptions.h"
#include "platform/FileCopy.h"
#include "platform/FileSys.h"
#include "platform/GraphicsStart.h"
#include "platform/IniFile.h"
#include "platform/InstalledFonts.h"
#include "platform/Launcher.h"
#include "platform/LineList.h"
#include "platform/LocalChannel.h"
#include "platform/Paths.h"
#include "platform/Strings.h"
#include "platform/TempDir.h"
#include "platform/Volumes.h"
#include "platform/gui/Accessibility.h"
#include "platform/gui/Cursors.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/ErrorReport.h"
#include "platform/gui/Hints.h"
#include "platform/gui/KeyPreview.h"
#include "preview/PreviewGuard.h"
#include "preview/PreviewPage.h"
#include "preview/Snapshot.h"
#include "preview/TemplateBrowser.h"
#include "preview/TemplatePreview.h"
#include "shelltree/ShellTree.h"

#include <QApplication>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScreen>
#include <QShowEvent>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>

#include <cerrno>
#include <cstring>

using namespace plm;

namespace {

const char *const kIniGeneral = "General";
const char *const kIniUsual = "ListUsualFolder";
constexpr int kMaxHintPause = 3600 * 1000;
// How long a later start waits for the running viewer to take its path.
constexpr int kHandOverTimeout = 5000;

// An entry of the usual-folders list: the folder's bytes when the item holds them.
std::string UsualFolderAt(const QComboBox *combo, int i) {
  const QVariant data = combo->itemData(i);
  return data.isValid() ? data.toByteArray().toStdString() : FromDisplay(combo->itemText(i));
}

} // namespace

void InitViewerResources() {
  static const bool once = [] {
    Q_INIT_RESOURCE(plmlooker);
    InstallAccessibility();
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

  UnPas21 = new TUnPas2(this);
  UnPas21->setObjectName(QStringLiteral("UnPas21"));
  UnPas21->setStopSiDejaLance(true);
  UnPas21->OnDejaLance = [this](QObject *) { GuardCall([this] { UnPas21DejaLance(); }, this); };
  UnPas21->OnPasDejaLance = [this](QObject *) { GuardCall([this] { UnPas21PasDejaLance(); }, this); };
  DiskCaps1 = new TDiskCaps(this);
  DiskCaps1->setObjectName(QStringLiteral("DiskCaps1"));
  CabReader = std::make_unique<TSTCabReader>();
  STCabWriter1 = std::make_unique<TSTCabWriter>();
  UnPas21->Loaded();
  // A later start has handed over and is asked to end, or it has no graphics and is to
  // start again: it never starts the browser engine.
  if ((UnPas21->DejaLance() && UnPas21->StopSiDejaLance()) || StartedWithoutGraphics()) return;

  fBrowser = SetUpTemplateBrowser(WebBrowser, this);
  PreviewGuard = fBrowser.Guard;
  TPreviewPage *page = fBrowser.Page;
  connect(page, &QWebEnginePage::loadingChanged, this, &TF_Main::LoadingChanged);
  connect(page, &QWebEnginePage::renderProcessTerminated, this,
          [this](QWebEnginePage::RenderProcessTerminationStatus status, int) {
            if (status != QWebEnginePage::NormalTerminationStatus)
              GuardCall([this] { WebBrowserRenderProcessFailed(); }, this);
          });
  InstallCopyOnlyMenu(WebBrowser);
  // Said in the browser area when the page could not be shown; the next page hides it.
  // A sibling laid over the browser, not its child: the browser's accessibility tree does
  // not list widgets placed inside it, so a screen reader would never reach the text.
  PageFailedLabel = new QLabel(QString::fromUtf8("La page de ce modèle n'a pas pu être affichée."),
                               WebBrowser->parentWidget());
  PageFailedLabel->setObjectName(QStringLiteral("PageFailedLabel"));
  PageFailedLabel->setAccessibleName(PageFailedLabel->text());
  PageFailedLabel->setAlignment(Qt::AlignCenter);
  PageFailedLabel->setWordWrap(true);
  PageFailedLabel->setAutoFillBackground(true);
  PageFailedLabel->hide();
  WebBrowser->installEventFilter(this);

  FileListBox->OnClick = [this](QObject *) { GuardCall([this] { FileListBoxClick(); }, this); };
  FileListBox->OnChange = [this](QObject *) { GuardCall([this] { FileListBoxChange(); }, this); };
  connect(Exit1, &QAction::triggered, this, Guarded([this](bool) { Exit1Click(); }, this));
  connect(Aboutbox, &QAction::triggered, this, Guarded([this](bool) { AboutboxClick(); }, this));
  connect(FileListBox, &QWidget::customContextMenuRequested, this, [this](const QPoint &p) {
    Popuplistfile->popup(FileListBox->viewport()->mapToGlobal(p));
  });
  fKeyPreview = new TKeyPreview(this, [this](int &key, Qt::KeyboardModifiers shift) {
    GuardCall([&] { FormKeyDown(key, shift); }, this);
  });

  // The file list's popup commands; a right-click selects before the menu opens.
  FileListBox->viewport()->installEventFilter(this);
  connect(Popuplistfile, &QMenu::aboutToShow, this,
          Guarded([this] { PopuplistfilePopup(); }, this));
  connect(Removefile1, &QAction::triggered, this,
          Guarded([this](bool) { Removefile1Click(); }, this));
  connect(Installplm1, &QAction::triggered, this,
          Guarded([this](bool) { Installplm1Click(); }, this));
  // The snapshot.
  connect(Snapshot_btn, &QAbstractButton::clicked, this,
          Guarded([this](bool) { Snapshot_btnClick(); }, this));
  connect(TrackBar1, &QAbstractSlider::valueChanged, this,
          Guarded([this](int) { TrackBar1Change(); }, this));
  connect(coefsize, &QSpinBox::valueChanged, this,
          Guarded([this](int) { coefsizeChange(); }, this));
  // The pictures list.
  Listimages->installEventFilter(this);
  Listimages->viewport()->installEventFilter(this);
  connect(Listimages, &QListWidget::currentRowChanged, this,
          Guarded([this](int) { ListimagesClick(); }, this));
  // A path that waited for the preview to end goes next.
  connect(this, &TF_Main::DownloadComplete, this, &TF_Main::openpendingpath, Qt::QueuedConnection);

  // The folder tree: folders only, from the desktop down, with the shell's own menu.
  ShellTree->setShowVirtualFolders(false);
  ShellTree->setShowSharedOverlay(true);
  ShellTree->setShowLinkOverlay(true);
  ShellTree->setRootUsePIDL(true);
  ShellTree->setRootPIDL(PIDL_DESKTOP);
  ShellTree->setOptions(TF_FOLDERS);
  ShellTree->UpdAutoThread = true;
  ShellTree->UpdAuto = true;
  ShellTree->UpdAutoRec = false;
  ShellTree->setShowIcons(true);
  ShellTree->setFileMaskUse(false);
  ShellTree->PopupMenuMode = pmm_System;
  ShellTree->ShowMessages = true;
  ShellTree->RightClickSelect = false;
  ShellTree->OnChange = [this](QObject *, TShellnode *) {
    GuardCall([this] { ShellTreeChange(); }, this);
  };
  // The usual folders: a list to pick from, managed through its popup menu.
  CB_UsualFolder->OnChange = [this](QObject *) {
    GuardCall([this] { CB_UsualFolder_bckChange(); }, this);
  };
  CB_UsualFolder->OnDropDown = [this](QObject *) {
    GuardCall([this] { CB_UsualFolder_bckDropDown(); }, this);
  };
  CB_UsualFolder->OnDropUp = [this](QObject *) {
    GuardCall([this] { CB_UsualFolderDropUp(); }, this);
  };
  connect(CB_UsualFolder, &QWidget::customContextMenuRequested, this,
          [this](const QPoint &p) { PPMn_UsualFolder->popup(CB_UsualFolder->mapToGlobal(p)); });
  connect(PPMn_UsualFolder, &QMenu::aboutToShow, this,
          Guarded([this] { PPMn_UsualFolderPopup(); }, this));
  connect(Addfolder, &QAction::triggered, this, Guarded([this](bool) { AddfolderClick(); }, this));
  connect(Removefolder, &QAction::triggered, this,
          Guarded([this](bool) { RemovefolderClick(); }, this));

  InstallExportCommand(*this);
  // The design values are in place: the tree builds itself and selects its root.
  CB_UsualFolder->Loaded();
  GuardCall([this] { ShellTree->Loaded(); }, this);
}

bool TF_Main::eventFilter(QObject *watched, QEvent *event) {
  if (watched == WebBrowser && event->type() == QEvent::Resize) {
    PageFailedLabel->setGeometry(WebBrowser->geometry());
  } else if (watched == FileListBox->viewport() && event->type() == QEvent::MouseButtonPress) {
    const auto *me = static_cast<QMouseEvent *>(event);
    if (me->button() == Qt::RightButton) {
      const QPoint pos = me->position().toPoint();
      GuardCall([&] { FileListBoxMouseDown(Qt::RightButton, pos); }, this);
      // The list's own handling would select the item again and report a user click.
      return true;
    }
  } else if (watched == Listimages && event->type() == QEvent::KeyPress) {
    const auto *ke = static_cast<QKeyEvent *>(event);
    int key = ke->key();
    GuardCall([&] { ListimagesKeyDown(key, ke->modifiers()); }, this);
    if (key == 0) return true;
  } else if (watched == Listimages->viewport() && event->type() == QEvent::MouseButtonDblClick &&
             static_cast<const QMouseEvent *>(event)->button() == Qt::LeftButton) {
    // The picture window runs modally: start it once the double click has been handled.
    QMetaObject::invokeMethod(
        this, [this] { GuardCall([this] { ListimagesDblClick(); }, this); }, Qt::QueuedConnection);
  }
  return QDialog::eventFilter(watched, event);
}

TF_Main::~TF_Main() {
  // The key preview goes first: taking the browser down sends key presses to its
  // windows while they are being destroyed, which nothing of ours may look at.
  delete fKeyPreview;
  TearDownTemplateBrowser(WebBrowser, fBrowser);
}

void TF_Main::showEvent(QShowEvent *e) {
  QDialog::showEvent(e);
  if (!e->spontaneous()) GuardCall([this] { FormShow(); }, this);
}

bool TF_Main::event(QEvent *e) {
  // A path that waited for another window of the viewer to close goes next.
  if (e->type() == QEvent::WindowUnblocked)
    QMetaObject::invokeMethod(this, &TF_Main::openpendingpath, Qt::QueuedConnection);
  return QDialog::event(e);
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
  Majdata();
  // A file or folder named on the command line wins over the last folder.
  if (!StartPath.empty()) openpath(std::exchange(StartPath, std::string()));
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
    TIniFile ini(CreateSettingsFile());
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
                 IsFontFamilyInstalled(ToDisplayUtf8(font)) ? QColor(0, 128, 0) : QColor(255, 0, 0));
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

void TF_Main::WebBrowserRenderProcessFailed() {
  // The page took its renderer down with it: the preview ends as if it had loaded, with
  // nothing to take a snapshot of, and says so where the page would be.
  fPendingUrl = QUrl();
  fShowingTemplate = false;
  SetScreenCursor(TScreenCursor::crDefault);
  PreviewBusy = false;
  Snapshot_btn->setEnabled(false);
  PageFailedLabel->setGeometry(WebBrowser->geometry());
  PageFailedLabel->show();
  PageFailedLabel->raise();
  emit PageFailed();
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

void TF_Main::ListimagesClick() { selectimage(); }

void TF_Main::ListimagesKeyDown(int &, Qt::KeyboardModifiers) { selectimage(); }

void TF_Main::ListimagesDblClick() {
  const QListWidgetItem *item = Listimages->currentItem();
  if (Listimages->currentRow() < 0 || !item) return;
  const std::string name = item->data(Qt::UserRole).toByteArray().toStdString();
  const std::string folder = AddBackslash(PreviewFolder());
  TDCImageInfo info;
  info.ReadInfo(folder + name);

  auto window = std::make_unique<TF_ViewPic>(this);
  window->setWindowTitle(ToDisplay(name));
  window->SetClientSize(info.Width > 128 ? info.Width : 128, info.Height > 128 ? info.Height : 128);
  const std::string view = ViewingCopyName(name, info.ImageType);
  if (view.empty()) return;
  // A picture stored under a misleading extension is shown through a copy named after
  // its real format. The copy never replaces anything already there (links included);
  // when it cannot be made, the window opens empty.
  if (view != name && !FileExists(folder + view)) CopyFileBytes(folder + name, folder + view, true);
  window->AdvImage1->SetImageName(folder + view);
  window->SourceFile = folder + view;
  window->exec();
}

void TF_Main::Snapshot_btnClick() {
  const int index = FileListBox->ItemIndex();
  if (index < 0) return;
  const QSize browser = WebBrowser->size();
  // The browser's own rendering, not the screen: whatever covers the window stays out.
  const QImage picture = SnapshotPicture(WebBrowser->grab().toImage(), browser, coefsize->value());
  SaveSnapshot(picture, SnapshotQuality(TrackBar1->value()),
               SnapshotPath(FileListBox->Directory(), FileListBox->ItemText(index)));
}

void TF_Main::TrackBar1Change() { Qualvalue->setText(QString::number(TrackBar1->value())); }

void TF_Main::coefsizeChange() {
  imagesize->setText(QString::fromStdString(ImageSizeText(WebBrowser->size(), coefsize->value())));
}

void TF_Main::FileListBoxMouseDown(Qt::MouseButton button, const QPoint &pos) {
  if (button != Qt::RightButton) return;
  PopupOnEmptyArea = false;
  const int i = FileListBox->ItemAtPos(pos);
  if (i >= 0) {
    FileListBox->setItemIndex(i);
    ClickSeen = true;
    selectedfile();
    PopupOnEmptyArea = false;
  } else {
    PopupOnEmptyArea = true;
  }
}

void TF_Main::PopuplistfilePopup() {
  const auto items = Popuplistfile->actions();
  if (PopupOnEmptyArea) {
    for (QAction *a : items)
      a->setEnabled(false);
  } else {
    for (QAction *a : items)
      a->setEnabled(true);
    if (!MailClientRegistered) Installplm1->setEnabled(false);
    const int type = DiskCaps1->DriveType();
    Removefile1->setEnabled(type == DRIVE_REMOVABLE || type == DRIVE_FIXED || type == DRIVE_REMOTE);
    // Opened from the keyboard with no file selected: there is nothing to act on.
    if (FileListBox->ItemIndex() < 0)
      for (QAction *a : items)
        a->setEnabled(false);
  }
  PopupOnEmptyArea = false;
}

void TF_Main::Installplm1Click() {
  const std::string path = FileListBox->FileName();
  if (!path.empty()) ShellOpenFile(path);
}

void TF_Main::Removefile1Click() {
  const std::string path = FileListBox->FileName();
  MessageRequest question;
  question.parent = this;
  question.text = ToDisplay("Voulez-vous vraiment effacer '" + ExtractFileName(path) + "'?");
  question.type = TMsgDlgType::mtWarning;
  question.buttons = mbYes | mbCancel;
  question.defaultButton = mbYes;
  question.escapeButton = mbCancel;
  if (MessageDlg(question) != mrYes) return;

  const int idx = FileListBox->ItemIndex();
  try {
    if (FileExists(path) && !DeleteFile(path)) RaiseLastOSError();
    FileListBox->Update();
    const int count = FileListBox->count();
    if (count > 0) FileListBox->setItemIndex(idx < count ? idx : idx - 1);
    resetright();
    selectedfile();
  } catch (const std::exception &) {
    ShowMessage(this, QString::fromUtf8("Quelque chose empèche l'effacement du fichier.\r\n"
                                        "Vérifiez s'il n'est pas utilisé par une autre "
                                        "application ou sur un CD"));
  }
}

std::string TF_Main::ShellTreePath() const { return ShellTree->Path(); }

void TF_Main::setShellTreePath(const std::string &path) { ShellTree->setPath(path); }

std::string TF_Main::ProbeDriveOf(const std::string &folder) {
  // A network path has no volume here: the probe gets its server part, which is no
  // drive, so deleting and snapshots stay off.
  const std::string root = ExtractFileDrive(folder);
  if (root.size() > 1) return root;
  return MountPointOf(folder);
}

void TF_Main::ShellTreeChange() {
  const std::string p = ShellTree->Path();
  if (!DirectoryExists(p)) return;
  FileListBox->setDirectory(p);
  Navigate("");
  ClickSeen = false;
  DiskCaps1->setDrive(ProbeDriveOf(p));
  resetright();
  LastFolder = p;
  const int sel = CB_UsualFolder->currentIndex();
  if (sel < 0 || UsualFolderAt(CB_UsualFolder, sel) != p) CB_UsualFolder->setCurrentIndex(-1);
}

void TF_Main::CB_UsualFolder_bckChange() {
  const int sel = CB_UsualFolder->currentIndex();
  const std::string folder = sel < 0 ? std::string() : UsualFolderAt(CB_UsualFolder, sel);
  if (!folder.empty() && DirectoryExists(folder)) {
    ShellTree->setPath(folder);
    return;
  }
  // A folder that has gone is dropped from the list, and only that one.
  if (sel >= 0) CB_UsualFolder->removeItem(sel);
  CB_UsualFolder->setCurrentIndex(-1);
}

void TF_Main::CB_UsualFolder_bckDropDown() {
  SavedComboWidth = CB_UsualFolder->width();
  // Wide enough to read long paths in the open list.
  CB_UsualFolder->resize(936, CB_UsualFolder->height());
}

void TF_Main::CB_UsualFolderDropUp() {
  CB_UsualFolder->resize(SavedComboWidth, CB_UsualFolder->height());
}

void TF_Main::PPMn_UsualFolderPopup() {
  Addfolder->setEnabled(!ShellTree->Path().empty());
  Removefolder->setEnabled(!CB_UsualFolder->currentText().isEmpty());
}

void TF_Main::AddfolderClick() {
  const std::string folder = ShellTree->Path();
  if (folder.empty()) return;
  CB_UsualFolder->addItem(ToDisplay(folder), QByteArray::fromStdString(folder));
}

void TF_Main::RemovefolderClick() {
  const int sel = CB_UsualFolder->currentIndex();
  if (sel >= 0) CB_UsualFolder->removeItem(sel);
  CB_UsualFolder->setCurrentIndex(-1);
}

void TF_Main::Navigate(const std::string &path) {
  PageFailedLabel->hide();
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

void TF_Main::openpath(const std::string &given) {
  const QWidget *modal = QApplication::activeModalWidget();
  if ((modal && modal != this) || PreviewBusy) {
    fPendingPath = given;
    return;
  }
  fPendingPath.clear();
  std::string path = ExpandFileName(given);
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  if (DirectoryExists(path)) {
    setShellTreePath(path);
    return;
  }
  MessageRequest refusal;
  refusal.parent = this;
  refusal.type = TMsgDlgType::mtError;
  const std::string name = ExtractFileName(path);
  if (!FileExists(path)) {
    refusal.text = ToDisplay("Le fichier ou le dossier \"" + path + "\" n'existe pas.");
    MessageDlg(refusal);
    return;
  }
  if (name.empty() || name[0] == '.' || !TFileListBox::MatchesMask(name, FileListBox->Mask())) {
    refusal.text = ToDisplay("Le fichier \"" + path + "\" n'est pas un modèle de lettre (" +
                             FileListBox->Mask() + ").");
    MessageDlg(refusal);
    return;
  }
  const std::string folder = path.substr(0, path.size() - name.size());
  setShellTreePath(folder.size() > 1 ? folder.substr(0, folder.size() - 1) : folder);
  for (int i = 0; i < FileListBox->count(); ++i)
    if (FileListBox->ItemText(i) == name) {
      FileListBox->setItemIndex(i);
      ClickSeen = true;
      selectedfile();
      return;
    }
}

void TF_Main::openpendingpath() {
  if (!fPendingPath.empty()) GuardCall([this] { openpath(std::exchange(fPendingPath, {})); }, this);
}

void TF_Main::UnPas21DejaLance() {
  // A later start given a path: the running viewer takes it before this start ends.
  if (StartPath.empty() || !UnPas21->StopSiDejaLance()) return;
  if (SendToListener(UnPas21->MutexName(), StartPath, kHandOverTimeout)) return;
  MessageRequest failure;
  failure.parent = this;
  failure.type = TMsgDlgType::mtError;
  failure.text = ToDisplay("Le visualisateur déjà ouvert n'a pas pu recevoir \"" + StartPath + "\".");
  MessageDlg(failure);
}

void TF_Main::UnPas21PasDejaLance() {
  fPathListener = new TLocalListener(this);
  fPathListener->OnMessage = [this](const std::string &path) {
    GuardCall([&] { openpath(path); }, this);
  };
  // Without its socket, later starts still bring this window forward; only their paths
  // cannot come.
  fPathListener->Listen(UnPas21->MutexName());
}
