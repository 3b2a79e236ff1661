#include "app/GalleryExport.h"

#include "app/UGallery.h"
#include "app/Uglobalvar.h"
#include "platform/DisplayText.h"
#include "platform/FileSys.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/ErrorReport.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

using namespace plm;

namespace {

// The window's figures are read from the batch this often: the interface thread does
// nothing else for it.
constexpr int kPollMs = 50;

TBatchChoiceHandler &ChoiceHandler() {
  static TBatchChoiceHandler handler;
  return handler;
}

// 1000 as "1 000".
QString Grouped(size_t n) {
  QString digits = QString::number(qulonglong(n));
  for (int at = digits.size() - 3; at > 0; at -= 3)
    digits.insert(at, QLatin1Char(' '));
  return digits;
}

} // namespace

TBatchChoiceHandler SetBatchChoiceHandler(TBatchChoiceHandler handler) {
  return std::exchange(ChoiceHandler(), std::move(handler));
}

std::optional<TBatchChoice> AskBatchExport(QWidget *parent, bool forFolder) {
  if (ChoiceHandler()) return ChoiceHandler()(forFolder);

  QDialog dialog(parent);
  dialog.setWindowTitle(forFolder ? QString::fromUtf8("Exporter le dossier")
                                  : QString::fromUtf8("Exporter la sélection"));
  auto *layout = new QVBoxLayout(&dialog);
  auto *kinds = new QButtonGroup(&dialog);
  const std::pair<TBatchKind, const char *> kindNames[] = {
      {TBatchKind::Messages, "Messages (.eml)"},
      {TBatchKind::Mailbox, "Boîte aux lettres (.mbox)"},
      {TBatchKind::Pages, "Pages web (.html)"}};
  for (const auto &[kind, name] : kindNames) {
    auto *button = new QRadioButton(QString::fromUtf8(name), &dialog);
    kinds->addButton(button, int(kind));
    layout->addWidget(button);
  }
  kinds->button(int(TBatchKind::Messages))->setChecked(true);
  QCheckBox *recursive = nullptr;
  if (forFolder) {
    recursive = new QCheckBox(QString::fromUtf8("Inclure les sous-dossiers"), &dialog);
    layout->addWidget(recursive);
  }
  auto *where = new QHBoxLayout;
  auto *target = new QLineEdit(ToDisplay(SavePath), &dialog);
  target->setAccessibleName(QString::fromUtf8("Destination"));
  auto *browse = new QPushButton(QString::fromUtf8("Parcourir…"), &dialog);
  where->addWidget(new QLabel(QString::fromUtf8("Destination :"), &dialog));
  where->addWidget(target, 1);
  where->addWidget(browse);
  layout->addLayout(where);
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  layout->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  QObject::connect(browse, &QPushButton::clicked, &dialog, [&] {
    if (kinds->checkedId() == int(TBatchKind::Mailbox)) {
      SaveDialogRequest request;
      request.parent = &dialog;
      request.title = QString::fromUtf8("Boîte aux lettres");
      request.fileName = QString::fromUtf8("Modèles.mbox");
      request.initialDir = ToDisplay(SavePath);
      request.filter = QString::fromUtf8("Boîte aux lettres (*.mbox)");
      request.defaultExt = QStringLiteral("mbox");
      if (const auto chosen = ExecuteSaveDialog(request)) target->setText(*chosen);
    } else {
      const QString chosen = QFileDialog::getExistingDirectory(
          &dialog, QString::fromUtf8("Dossier de destination"), ToDisplay(SavePath));
      if (!chosen.isEmpty()) target->setText(chosen);
    }
  });
  if (dialog.exec() != QDialog::Accepted || target->text().trimmed().isEmpty()) return std::nullopt;
  TBatchChoice choice;
  choice.kind = TBatchKind(kinds->checkedId());
  choice.out = FromDisplay(target->text().trimmed());
  // A folder given for a mailbox: the mailbox goes into it.
  if (choice.kind == TBatchKind::Mailbox && DirectoryExists(choice.out))
    choice.out = AddBackslash(choice.out) + "Modèles.mbox";
  choice.recursive = recursive && recursive->isChecked();
  return choice;
}

TBatchProgress::TBatchProgress(QWidget *parent, std::vector<std::string> inputs,
                               TBatchOptions options)
    : QDialog(parent) {
  setObjectName(QStringLiteral("BatchProgress"));
  setWindowTitle(QString::fromUtf8("Exportation"));
  setAttribute(Qt::WA_DeleteOnClose);
  resize(520, 160);
  auto *layout = new QVBoxLayout(this);
  Count = new QLabel(QString::fromUtf8("Exportation : 0 / …"), this);
  Current = new QLabel(this);
  Current->setTextFormat(Qt::PlainText);
  Summary = new QPlainTextEdit(this);
  Summary->setReadOnly(true);
  Summary->setAccessibleName(QString::fromUtf8("Bilan de l'exportation"));
  Summary->hide();
  layout->addWidget(Count);
  layout->addWidget(Current);
  layout->addWidget(Summary, 1);
  auto *buttons = new QHBoxLayout;
  buttons->addStretch(1);
  CopyButton = new QPushButton(QString::fromUtf8("Copier"), this);
  CopyButton->hide();
  CancelButton = new QPushButton(QString::fromUtf8("Annuler"), this);
  buttons->addWidget(CopyButton);
  buttons->addWidget(CancelButton);
  layout->addLayout(buttons);

  connect(CancelButton, &QPushButton::clicked, this, [this] {
    if (fFinished) {
      close();
    } else {
      fCancel = true;
      CancelButton->setEnabled(false);
    }
  });
  connect(CopyButton, &QPushButton::clicked, this,
          [this] { QApplication::clipboard()->setText(Summary->toPlainText()); });

  options.cancel = &fCancel;
  options.progress = [this](size_t done, size_t total, const std::string &path) {
    fDone = done;
    fTotal = total;
    const std::lock_guard lock(fMutex);
    fCurrentPath = path;
  };
  fThread = QThread::create([this, inputs = std::move(inputs), options = std::move(options)] {
    // The batch's threads give the processor to the window first.
    RunThreadInBackground();
    try {
      fResult = ExportBatch(inputs, options);
    } catch (const std::exception &e) {
      fError = e.what();
    }
  });
  connect(fThread, &QThread::finished, this, [this] { ShowSummary(); });
  fTimer = new QTimer(this);
  fTimer->setInterval(kPollMs);
  connect(fTimer, &QTimer::timeout, this, [this] { Poll(); });
  fTimer->start();
  fThread->start();
}

TBatchProgress::~TBatchProgress() {
  fCancel = true;
  fThread->wait();
  delete fThread;
}

void TBatchProgress::Poll() {
  Count->setText(QString::fromUtf8("Exportation : %1 / %2").arg(Grouped(fDone), Grouped(fTotal)));
  std::string path;
  {
    const std::lock_guard lock(fMutex);
    path = fCurrentPath;
  }
  Current->setText(ToDisplay(ExtractFileName(path)));
}

void TBatchProgress::ShowSummary() {
  fTimer->stop();
  Poll();
  fFinished = true;
  QString text;
  if (!fError.empty()) {
    text = QString::fromStdString(fError);
  } else {
    const TBatchResult &r = fResult;
    text = (r.cancelled ? QString::fromUtf8("Exportation annulée : %1 modèle(s) exporté(s) sur %2, "
                                            "%3 en échec.")
                        : QString::fromUtf8("Exportation terminée : %1 modèle(s) exporté(s) sur "
                                            "%2, %3 en échec."))
               .arg(Grouped(r.exported), Grouped(r.total), Grouped(r.failures.size()));
    for (const TBatchFailure &f : r.failures)
      text += QStringLiteral("\n") + ToDisplay(ExtractFileName(f.path)) + QStringLiteral(" : ") +
              QString::fromStdString(f.reason);
  }
  Summary->setPlainText(text);
  Summary->show();
  CopyButton->show();
  CancelButton->setText(QString::fromUtf8("Fermer"));
  CancelButton->setEnabled(true);
  resize(width(), std::max(height(), 320));
  emit BatchFinished();
}

void TBatchProgress::closeEvent(QCloseEvent *e) {
  // Closing while at work cancels; the window goes once every output is closed.
  if (!fFinished) {
    fCancel = true;
    CancelButton->setEnabled(false);
    e->ignore();
    return;
  }
  QDialog::closeEvent(e);
}

void InstallGalleryExport(TF_Gallery &gallery, std::function<std::string()> folder) {
  const auto start = [&gallery](std::vector<std::string> inputs, const TBatchChoice &choice) {
    TBatchOptions options;
    options.kind = choice.kind;
    options.out = choice.out;
    options.recursive = choice.recursive;
    SavePath = choice.kind == TBatchKind::Mailbox ? ExtractFilePath(choice.out) : choice.out;
    auto *window = new TBatchProgress(&gallery, std::move(inputs), std::move(options));
    window->show();
  };
  QObject::connect(gallery.ExportSelectionAction, &QAction::triggered, &gallery,
                   Guarded(
                       [&gallery, start](bool) {
                         std::vector<std::string> paths = gallery.SelectedPaths();
                         if (paths.empty()) return;
                         if (const auto choice = AskBatchExport(&gallery, false))
                           start(std::move(paths), *choice);
                       },
                       &gallery));
  QObject::connect(gallery.ExportFolderAction, &QAction::triggered, &gallery,
                   Guarded(
                       [&gallery, start, folder](bool) {
                         const std::string dir = folder();
                         if (dir.empty()) return;
                         if (const auto choice = AskBatchExport(&gallery, true))
                           start({dir}, *choice);
                       },
                       &gallery));
}
