// The main window's "Exporter…" command: the selected template saved as a message
// template or as a page carrying its pictures, where the user chooses.
#include "app/UMain.h"

#include "app/FileListBox.h"
#include "app/Uglobalvar.h"
#include "export/TemplateExport.h"
#include "platform/DisplayText.h"
#include "platform/Exceptions.h"
#include "platform/Paths.h"
#include "platform/gui/Cursors.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/ErrorReport.h"
#include "preview/TemplatePreview.h"

#include <QAction>
#include <QMenu>

using namespace plm;

namespace {

void ExportSelectedTemplate(TF_Main &main) {
  const std::string source = main.FileListBox->FileName();
  if (source.empty()) return;
  SaveDialogRequest request;
  request.parent = &main;
  request.title = QString::fromUtf8("Exporter le modèle");
  request.fileName = ToDisplay(ChangeFileExt(ExtractFileName(source), ".eml"));
  request.initialDir = ToDisplay(SavePath);
  request.filter = QString::fromUtf8("Modèle de message (*.eml);;Page autonome (*.html)");
  request.defaultExt = QStringLiteral("eml");
  const std::optional<QString> chosen = ExecuteSaveDialog(request);
  if (!chosen) return;
  const std::string target = FromDisplay(*chosen);
  const std::optional<TExportFormat> format = ExportFormatOf(target);
  if (!format)
    throw Exception("Le fichier \"" + ExtractFileName(target) +
                    "\" n'a pas l'extension d'un type d'export : choisissez \".eml\" (modèle "
                    "de message) ou \".html\" (page autonome).");
  try {
    const TBusyCursor busy;
    ExportTemplate(source, target, *format);
  } catch (const ETemplateTooLarge &) {
    throw;
  } catch (const Exception &e) {
    throw Exception("Impossible d'exporter le modèle \"" + ExtractFileName(source) + "\".\n" +
                    e.message());
  }
  SavePath = ExtractFilePath(target);
}

} // namespace

void InstallExportCommand(TF_Main &main) {
  QAction *exportAction = main.Export1;
  // Enabled while a template is selected; a popup opened on the empty area disables its
  // items, so the state is taken again once it closes.
  const auto sync = [&main] { main.Export1->setEnabled(main.FileListBox->ItemIndex() >= 0); };
  QObject::connect(main.FileListBox, &QListWidget::itemSelectionChanged, &main, sync);
  QObject::connect(main.File1, &QMenu::aboutToShow, &main, sync);
  QObject::connect(main.Popuplistfile, &QMenu::aboutToHide, &main, sync);
  QObject::connect(exportAction, &QAction::triggered, &main,
                   Guarded([&main](bool) { ExportSelectedTemplate(main); }, &main));
  sync();
}
