// The provider's context menu: real commands on the chosen items, in French. Nothing it
// does is irreversible: deleting goes to the trash, renaming never replaces an item.
// GIO first: its headers use a field named "signals", which Qt turns into a keyword.
#include <gio/gio.h>

#include "platform/DisplayText.h"
#include "platform/Launcher.h"
#include "platform/shell/ShellFolder.h"
#include "platform/shell/ShellUI.h"

#include <QClipboard>
#include <QDateTime>
#include <QGuiApplication>
#include <QLocale>
#include <QMimeDatabase>

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <sys/stat.h>

namespace plm::shellimpl {

namespace {

// Command offsets; the numeric verb of a command is its offset.
enum TCommand : UINT {
  cmdOpen,
  cmdExplore,
  cmdNewFolder,
  cmdRename,
  cmdTrash,
  cmdCopyPath,
  cmdProperties,
  cmdCount
};

struct TCommandInfo {
  const char *Verb;
  const char *Caption;
  const char *Help;
};
constexpr TCommandInfo kCommands[cmdCount] = {
    {"open", "&Ouvrir", "Ouvre l'élément avec l'application par défaut"},
    {"explore", "Ouvrir dans le &gestionnaire de fichiers",
     "Montre l'élément dans le gestionnaire de fichiers"},
    {"newfolder", "&Nouveau dossier", "Crée un dossier dans ce dossier"},
    {"rename", "&Renommer", "Change le nom de l'élément"},
    {"delete", "Mettre à la &corbeille", "Déplace l'élément dans la corbeille"},
    {"copypath", "&Copier le chemin", "Copie le chemin de l'élément dans le presse-papiers"},
    {"properties", "&Propriétés", "Montre les propriétés de l'élément"},
};

bool IsEntry(const TItem &it) { return it.Kind == TItemKind::Dir || it.Kind == TItemKind::File; }
bool IsFolderItem(const TItem &it) {
  return it.Kind == TItemKind::Dir || it.Kind == TItemKind::Home || it.Kind == TItemKind::Volume;
}

bool Exists(const std::string &p) {
  struct stat st;
  return !p.empty() && ::lstat(p.c_str(), &st) == 0;
}

std::string Quoted(const std::string &name) { return "« " + ToDisplay(name).toStdString() + " »"; }

std::string PermissionText(mode_t m) {
  std::string s = "---------";
  const char rwx[] = "rwx";
  for (int i = 0; i < 9; ++i)
    if (m & (0400 >> i)) s[i] = rwx[i % 3];
  char octal[8];
  std::snprintf(octal, sizeof octal, "%03o", unsigned(m & 0777));
  return s + " (" + octal + ")";
}

class TContextMenu final : public TComObject<IContextMenu3> {
public:
  TContextMenu(ComPtr<TFolder> folder, std::vector<TItem> items)
      : fFolder(std::move(folder)), fItems(std::move(items)) {}

  HRESULT QueryInterface(const IID &iid, void **out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IContextMenu || iid == IID_IContextMenu2 ||
        iid == IID_IContextMenu3) {
      AddRef();
      *out = static_cast<IContextMenu3 *>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }

  HRESULT QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                           UINT uFlags) override {
    if (!hmenu || idCmdLast < idCmdFirst) return E_INVALIDARG;
    fFirstId = idCmdFirst;
    UINT pos = indexMenu, used = 0;
    bool separatorDue = false;
    auto add = [&](TCommand c) {
      if (!Offered(c) || idCmdFirst + c > idCmdLast) return;
      if ((uFlags & CMF_DEFAULTONLY) && c != cmdOpen) return;
      if (separatorDue && pos > indexMenu) InsertMenuA(hmenu, pos++, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
      separatorDue = false;
      InsertMenuA(hmenu, pos++, MF_BYPOSITION | MF_STRING | (Available(c) ? 0 : MF_GRAYED),
                  idCmdFirst + c, kCommands[c].Caption);
      if (c == cmdOpen) SetMenuDefaultItem(hmenu, idCmdFirst + c, 0);
      used = std::max(used, UINT(c) + 1);
    };
    add(cmdOpen);
    add(cmdExplore);
    separatorDue = true;
    add(cmdNewFolder);
    add(cmdRename);
    add(cmdTrash);
    separatorDue = true;
    add(cmdCopyPath);
    separatorDue = true;
    add(cmdProperties);
    return MAKE_SCODE16(static_cast<uint16_t>(used));
  }

  HRESULT InvokeCommand(const CMINVOKECOMMANDINFO *pici) override {
    if (!pici || pici->cbSize < sizeof(CMINVOKECOMMANDINFO)) return E_INVALIDARG;
    UINT c = cmdCount;
    if (IS_INTRESOURCE(pici->lpVerb)) {
      c = static_cast<UINT>(reinterpret_cast<uintptr_t>(pici->lpVerb));
    } else {
      for (UINT i = 0; i < cmdCount; ++i)
        if (std::strcmp(pici->lpVerb, kCommands[i].Verb) == 0) c = i;
    }
    if (c >= cmdCount || !Offered(TCommand(c)) || !Available(TCommand(c))) return E_INVALIDARG;
    switch (c) {
    case cmdOpen: return Open(false);
    case cmdExplore: return Open(true);
    case cmdNewFolder: return NewFolder(pici->hwnd);
    case cmdRename: return Rename(pici->hwnd);
    case cmdTrash: return Trash(pici->hwnd);
    case cmdCopyPath: return CopyPath();
    default: return Properties(pici->hwnd);
    }
  }

  HRESULT GetCommandString(uintptr_t idCmd, UINT uType, UINT *, char *pszName,
                           UINT cchMax) override {
    if (idCmd >= cmdCount || !pszName || cchMax == 0) return E_INVALIDARG;
    const char *text = uType == GCS_VERBA      ? kCommands[idCmd].Verb
                       : uType == GCS_HELPTEXTA ? kCommands[idCmd].Help
                                                : nullptr;
    if (!text) return E_INVALIDARG;
    const size_t n = std::min<size_t>(std::strlen(text), cchMax - 1);
    std::memcpy(pszName, text, n);
    pszName[n] = 0;
    return S_OK;
  }

  HRESULT HandleMenuMsg(UINT uMsg, WPARAM wParam, LPARAM lParam) override {
    LRESULT ignored;
    return HandleMenuMsg2(uMsg, wParam, lParam, &ignored);
  }

  // The menu is about to open: commands whose items changed since the menu was filled
  // (a folder made read-only, an item deleted) are grayed now.
  HRESULT HandleMenuMsg2(UINT uMsg, WPARAM wParam, LPARAM, LRESULT *plResult) override {
    if (plResult) *plResult = 0;
    if (uMsg != WM_INITMENUPOPUP) return E_NOTIMPL; // no owner-drawn items here
    auto *menu = reinterpret_cast<HMENU>(wParam);
    if (!menu) return E_INVALIDARG;
    const UINT first = fFirstId;
    for (TShellMenuItem &it : menu->Items) {
      if (it.Flags & MF_SEPARATOR || it.Id < first || it.Id >= first + cmdCount) continue;
      const bool ok = Available(TCommand(it.Id - first));
      it.Flags = ok ? it.Flags & ~MF_GRAYED : it.Flags | MF_GRAYED;
    }
    return S_OK;
  }

  UINT fFirstId = 1; // the first command id of the last QueryContextMenu

private:
  std::string PathOf(const TItem &it) const { return fFolder->ChildPath(it); }
  bool Single() const { return fItems.size() == 1; }

  bool Offered(TCommand c) const {
    for (const TItem &it : fItems)
      if (PathOf(it).empty()) return false; // the drives folder has no commands
    switch (c) {
    case cmdNewFolder: return Single() && IsFolderItem(fItems[0]);
    case cmdRename: return Single() && IsEntry(fItems[0]);
    case cmdTrash:
      for (const TItem &it : fItems)
        if (!IsEntry(it)) return false;
      return true;
    default: return true;
    }
  }

  bool Available(TCommand c) const {
    for (const TItem &it : fItems)
      if (!Exists(PathOf(it))) return false;
    switch (c) {
    case cmdNewFolder: return ::access(PathOf(fItems[0]).c_str(), W_OK) == 0;
    case cmdRename:
    case cmdTrash: return ::access(fFolder->Path().c_str(), W_OK) == 0;
    case cmdProperties: return Single();
    default: return true;
    }
  }

  HRESULT Open(bool explore) {
    bool ok = true;
    for (const TItem &it : fItems) {
      std::string p = PathOf(it);
      if (explore && it.Kind == TItemKind::File) p = fFolder->Path();
      ok = ShellOpenFile(p) && ok;
    }
    return ok ? S_OK : E_FAIL;
  }

  static void Error(HWND owner, const std::string &text) {
    if (TShellUI *ui = ShellUI()) ui->ShowError(owner, text);
  }

  HRESULT NewFolder(HWND owner) {
    TShellUI *ui = ShellUI();
    if (!ui) return E_FAIL;
    const std::string parent = PathOf(fItems[0]);
    std::string proposal = "Nouveau dossier";
    for (int n = 2; Exists(JoinChild(parent, proposal)); ++n)
      proposal = "Nouveau dossier (" + std::to_string(n) + ")";
    const auto name = ui->AskName(owner, "Nouveau dossier", "Nom du nouveau dossier :", proposal);
    if (!name) return E_CANCELLED;
    if (name->empty() || *name == "." || *name == ".." || name->find('/') != std::string::npos) {
      Error(owner, "Impossible de créer le dossier " + Quoted(*name) + " : ce nom n'est pas valable.");
      return E_INVALIDARG;
    }
    if (::mkdir(JoinChild(parent, *name).c_str(), 0777) != 0) {
      const int err = errno;
      Error(owner, "Impossible de créer le dossier " + Quoted(*name) + " : " +
                       (err == EEXIST ? std::string("un élément de ce nom existe déjà.")
                                      : std::string(std::strerror(err))));
      return err == EEXIST ? E_ALREADY_EXISTS : E_FAIL;
    }
    return S_OK;
  }

  HRESULT Rename(HWND owner) {
    TShellUI *ui = ShellUI();
    if (!ui) return E_FAIL;
    const TItem &item = fItems[0];
    const auto name = ui->AskName(owner, "Renommer", "Nouveau nom :", item.Name);
    if (!name) return E_CANCELLED;
    TItem renamed;
    return SUCCEEDED(fFolder->RenameItem(owner, item, *name, renamed)) ? S_OK : E_FAIL;
  }

  HRESULT Trash(HWND owner) {
    bool ok = true;
    for (const TItem &it : fItems) {
      const std::string p = PathOf(it);
      GFile *file = g_file_new_for_path(p.c_str());
      GError *error = nullptr;
      if (!g_file_trash(file, nullptr, &error)) {
        ok = false;
        if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_NOT_SUPPORTED))
          Error(owner, "Le volume de " + Quoted(it.Name) +
                           " n'a pas de corbeille : l'élément n'a pas été supprimé.");
        else
          Error(owner, "Impossible de mettre " + Quoted(it.Name) + " à la corbeille : " +
                           (error ? error->message : "erreur inconnue."));
        if (error) g_error_free(error);
      }
      g_object_unref(file);
    }
    return ok ? S_OK : E_FAIL;
  }

  HRESULT CopyPath() {
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance())) return E_FAIL;
    QStringList paths;
    for (const TItem &it : fItems) paths << ToDisplay(PathOf(it));
    QGuiApplication::clipboard()->setText(paths.join('\n'));
    return S_OK;
  }

  HRESULT Properties(HWND owner) {
    TShellUI *ui = ShellUI();
    if (!ui) return E_FAIL;
    const TItem &it = fItems[0];
    const std::string path = PathOf(it);
    struct stat st, lst;
    if (::stat(path.c_str(), &st) != 0 && ::lstat(path.c_str(), &st) != 0) return E_FAIL;
    const bool link = ::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode);
    const QLocale fr(QLocale::French, QLocale::France);
    TItemProperties p;
    p.Name = ToDisplay(fFolder->NormalName(it)).toStdString();
    if (S_ISDIR(st.st_mode)) {
      p.Type = link ? "Lien vers un dossier" : "Dossier";
      int count = 0;
      if (DIR *d = ::opendir(path.c_str())) {
        while (const dirent *e = ::readdir(d))
          if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) ++count;
        ::closedir(d);
        p.Size = fr.toString(count).toStdString() + (count > 1 ? " éléments" : " élément");
      } else {
        p.Size = "contenu illisible";
      }
    } else {
      static const QMimeDatabase db;
      const QString comment =
          db.mimeTypeForFile(ToDisplay(it.Name), QMimeDatabase::MatchExtension).comment();
      p.Type = (link ? "Lien : " : "") + comment.toStdString();
      p.Size = fr.toString(qint64(st.st_size)).toStdString() +
               (st.st_size > 1 ? " octets" : " octet");
    }
    const std::string parent = it.Kind == TItemKind::Volume ? path : fFolder->Path();
    p.Location = ToDisplay(parent).toStdString();
    p.Modified = fr.toString(QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec),
                             QStringLiteral("dd/MM/yyyy HH:mm:ss"))
                     .toStdString();
    p.Permissions = PermissionText(st.st_mode);
    ui->ShowProperties(owner, p);
    return S_OK;
  }

  ComPtr<TFolder> fFolder;
  std::vector<TItem> fItems;
};

} // namespace

HRESULT NewContextMenu(const ComPtr<TFolder> &folder, const std::vector<TItem> &items,
                       const IID &riid, void **ppv) {
  auto *menu = new TContextMenu(folder, items);
  const HRESULT hr = menu->QueryInterface(riid, ppv);
  menu->Release();
  return hr;
}

} // namespace plm::shellimpl
