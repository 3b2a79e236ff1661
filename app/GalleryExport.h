#pragma once
// The gallery's exports of many templates: "Exporter la sélection…" and "Exporter le
// dossier…" ask the kind and the destination, then run the batch of export/ on a thread
// of its own behind a progress window ("Exportation : 120 / 1 000", the file at work,
// "Annuler"), which ends with a summary the user can copy.
#include "export/BatchExport.h"

#include <QDialog>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QThread;
class QTimer;
class TF_Gallery;

// What the export dialog answers.
struct TBatchChoice {
  plm::TBatchKind kind = plm::TBatchKind::Messages;
  std::string out;        // folder, or the mailbox file
  bool recursive = false; // for a folder: its subfolders too
};

// Asks the kind and destination; forFolder offers "Inclure les sous-dossiers". Nothing
// when the user gives up.
std::optional<TBatchChoice> AskBatchExport(QWidget *parent, bool forFolder);
// Tests answer in place of the dialog; an empty handler restores it.
using TBatchChoiceHandler = std::function<std::optional<TBatchChoice>(bool forFolder)>;
TBatchChoiceHandler SetBatchChoiceHandler(TBatchChoiceHandler handler);

// The progress window of one batch, then its summary. It deletes itself when closed.
class TBatchProgress : public QDialog {
  Q_OBJECT
public:
  TBatchProgress(QWidget *parent, std::vector<std::string> inputs, plm::TBatchOptions options);
  ~TBatchProgress() override;

  QLabel *Count = nullptr;          // "Exportation : 120 / 1 000"
  QLabel *Current = nullptr;        // the template at work
  QPushButton *CancelButton = nullptr;
  QPlainTextEdit *Summary = nullptr; // shown at the end
  QPushButton *CopyButton = nullptr;
  bool Finished() const { return fFinished; }

signals:
  void BatchFinished();

protected:
  void closeEvent(QCloseEvent *e) override;

private:
  void Poll();
  void ShowSummary();

  std::atomic<bool> fCancel{false};
  std::atomic<size_t> fDone{0}, fTotal{0};
  std::mutex fMutex;
  std::string fCurrentPath;
  plm::TBatchResult fResult;
  std::string fError; // when the output itself could not be made
  QThread *fThread = nullptr;
  QTimer *fTimer = nullptr;
  bool fFinished = false;
};

// Gives the gallery's two export actions their work. folder gives the gallery's folder.
void InstallGalleryExport(TF_Gallery &gallery, std::function<std::string()> folder);
