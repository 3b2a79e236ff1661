#include "app/GallerySearch.h"

#include "app/CatalogueSearch.h"
#include "app/GalleryModel.h"
#include "app/UGallery.h"
#include "catalogue/Catalogue.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <string_view>
#include <unordered_map>

#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/Trash.h"
#include "platform/gui/Dialogs.h"

namespace {

// Changes of the folder's files pause this long before the catalogue is asked again: a
// burst of them makes one search. What the user types or ticks is asked at once; a newer
// request stops the search under way.
constexpr int kChangesPauseMs = 40;

QString Decoded(std::string_view bytes) {
  return QFile::decodeName(QByteArray(bytes.data(), qsizetype(bytes.size())));
}

// What assistive technologies read after a template's name: its display name and
// collection, or why it could not be read.
QString DescriptionOf(const plm::TemplateRecord &r) {
  if (!r.failure.empty()) return QString::fromStdString(r.failure);
  return QString::fromStdString(r.display + ", " + r.collection);
}

// The texts of a search's answer that many of its templates share, each made once and
// shared by all: the relative folder of those in the same folder (they come one after
// the other, by path), the duplicated copy's line of a group's members.
class TSharedTexts {
public:
  // The result's folder below the searched one; "." for the searched one itself.
  const QString &Detail(const std::string &searched, const std::string &path) {
    const size_t slash = path.rfind('/');
    const std::string_view folder = slash == 0 || slash == std::string::npos
                                        ? std::string_view("/")
                                        : std::string_view(path).substr(0, slash);
    if (folder == fFolder) return fDetail; // never empty: "/" at least
    fFolder.assign(folder);
    const size_t skip = searched == "/" ? 1 : searched.size() + 1;
    fDetail = folder != searched && folder.size() > skip ? Decoded(folder.substr(skip))
                                                         : QStringLiteral(".");
    return fDetail;
  }

  // The template's problems and the copy it duplicates, in French, one a line.
  QString Health(const plm::TemplateRecord &r) {
    if (r.problems.empty() && r.duplicateOf.empty()) return {};
    QString copy;
    if (!r.duplicateOf.empty()) {
      auto [it, added] = fCopies.try_emplace(r.duplicateOf);
      if (added)
        it->second =
            QString::fromUtf8("Doublon de %1").arg(Decoded(plm::ExtractFileName(r.duplicateOf)));
      copy = it->second;
    }
    if (r.problems.empty()) return copy;
    QStringList lines;
    for (const auto &p : r.problems) lines << QString::fromStdString(p.text);
    if (!copy.isEmpty()) lines << copy;
    return lines.join(QLatin1Char('\n'));
  }

private:
  std::string fFolder; // the folder fDetail is of
  QString fDetail;
  std::unordered_map<std::string, QString> fCopies;
};

} // namespace

TGallerySearch::TGallerySearch(TF_Gallery &gallery, const std::string &databaseFile)
    : QObject(&gallery), fGallery(gallery) {
  SearchEdit = new QLineEdit(&gallery);
  SearchEdit->setObjectName(QStringLiteral("SearchEdit"));
  SearchEdit->setPlaceholderText(QString::fromUtf8("Rechercher"));
  SearchEdit->setAccessibleName(QString::fromUtf8("Rechercher"));
  SearchEdit->setAccessibleDescription(
      QString::fromUtf8("Nom, collection, description, police ou titre des modèles"));
  SearchEdit->setClearButtonEnabled(true);
  SubfoldersCheck = new QCheckBox(QString::fromUtf8("Inclure les &sous-dossiers"), &gallery);
  SubfoldersCheck->setObjectName(QStringLiteral("SubfoldersCheck"));
  SubfoldersCheck->setAccessibleName(QString::fromUtf8("Inclure les sous-dossiers"));
  MissingFontCheck =
      new QCheckBox(QString::fromUtf8("&Police non installée seulement"), &gallery);
  MissingFontCheck->setObjectName(QStringLiteral("MissingFontCheck"));
  MissingFontCheck->setAccessibleName(QString::fromUtf8("Police non installée seulement"));
  DuplicatesCheck = new QCheckBox(QString::fromUtf8("&Doublons seulement"), &gallery);
  DuplicatesCheck->setObjectName(QStringLiteral("DuplicatesCheck"));
  DuplicatesCheck->setAccessibleName(QString::fromUtf8("Doublons seulement"));
  ProblemsCheck = new QCheckBox(QString::fromUtf8("&Modèles à problèmes seulement"), &gallery);
  ProblemsCheck->setObjectName(QStringLiteral("ProblemsCheck"));
  ProblemsCheck->setAccessibleName(QString::fromUtf8("Modèles à problèmes seulement"));
  TrashButton = new QPushButton(QString::fromUtf8("Mettre les doublons à la &corbeille…"), &gallery);
  TrashButton->setObjectName(QStringLiteral("TrashDuplicatesButton"));
  TrashButton->setAccessibleName(QString::fromUtf8("Mettre les doublons à la corbeille…"));
  TrashButton->setVisible(false);
  Status = new QLabel(&gallery);
  Status->setObjectName(QStringLiteral("SearchStatus"));
  Status->setAccessibleName(QString::fromUtf8("État de la recherche"));
  if (QBoxLayout *bar = gallery.FilterBar) {
    // Two lines, so that the gallery stays as narrow as it could be before: the search
    // and its filters, then the collection's health.
    auto *lines = new QVBoxLayout;
    auto *search = new QHBoxLayout;
    auto *health = new QHBoxLayout;
    search->addWidget(SearchEdit, 1);
    search->addWidget(SubfoldersCheck);
    search->addWidget(MissingFontCheck);
    search->addWidget(Status);
    health->addWidget(DuplicatesCheck);
    health->addWidget(ProblemsCheck);
    health->addWidget(TrashButton);
    health->addStretch(1);
    lines->addLayout(search);
    lines->addLayout(health);
    bar->addLayout(lines, 1);
  }

  fSearch = new TCatalogueSearch(databaseFile, this);
  fDelay = new QTimer(this);
  fDelay->setSingleShot(true);
  fDelay->setInterval(kChangesPauseMs);
  connect(fDelay, &QTimer::timeout, this, &TGallerySearch::Ask);
  connect(SearchEdit, &QLineEdit::textChanged, this, &TGallerySearch::Changed);
  connect(SubfoldersCheck, &QCheckBox::toggled, this, &TGallerySearch::Changed);
  connect(MissingFontCheck, &QCheckBox::toggled, this, &TGallerySearch::Changed);
  connect(DuplicatesCheck, &QCheckBox::toggled, this, &TGallerySearch::Changed);
  connect(ProblemsCheck, &QCheckBox::toggled, this, &TGallerySearch::Changed);
  connect(TrashButton, &QPushButton::clicked, this, &TGallerySearch::TrashDuplicates);
  connect(fSearch, &TCatalogueSearch::Found, this, &TGallerySearch::Show);
  connect(fSearch, &TCatalogueSearch::Progress, this, &TGallerySearch::ShowProgress);
}

TGallerySearch::~TGallerySearch() {
  if (!fTrash) return;
  fCancelTrash = true;
  fTrash->wait();
  delete fTrash;
}

bool TGallerySearch::Active() const {
  return !SearchEdit->text().trimmed().isEmpty() || MissingFontCheck->isChecked() ||
         DuplicatesCheck->isChecked() || ProblemsCheck->isChecked();
}

void TGallerySearch::SetFolder(const std::string &folder) {
  if (folder == fFolder) return;
  fFolder = folder;
  if (Active()) Ask();
}

bool TGallerySearch::Covers(const std::string &folder) const {
  const std::string searched = plm::CatalogueFolder(fFolder);
  const std::string f = plm::CatalogueFolder(folder);
  if (f == searched) return true;
  if (!SubfoldersCheck->isChecked()) return false;
  return f.compare(0, searched.size(), searched) == 0 &&
         (searched == "/" || (f.size() > searched.size() && f[searched.size()] == '/'));
}

void TGallerySearch::Invalidate() {
  fSearch->Invalidate();
  if (Active()) fDelay->start();
}

void TGallerySearch::Changed() {
  if (Active()) {
    fWasActive = true;
    fDelay->stop();
    Ask();
    return;
  }
  fDelay->stop();
  Status->clear();
  fShown.reset();
  TrashButton->setVisible(false);
  if (fWasActive) {
    fWasActive = false;
    emit Cleared();
  }
}

void TGallerySearch::Ask() {
  if (!Active() || fFolder.empty()) return;
  fDescribing = 0;
  plm::CatalogueQuery q;
  q.text = SearchEdit->text().toStdString();
  q.folder = fFolder;
  q.recursive = SubfoldersCheck->isChecked();
  q.missingFontOnly = MissingFontCheck->isChecked();
  q.duplicatesOnly = DuplicatesCheck->isChecked();
  q.problemsOnly = ProblemsCheck->isChecked();
  fSearch->Find(q);
}

void TGallerySearch::ShowProgress(int done, int total) {
  if (!Active()) return;
  Status->setText(total > 0 && done < total
                      ? QString::fromUtf8("Catalogue : %1 / %2").arg(done).arg(total)
                      : QString());
}

void TGallerySearch::Describe() {
  if (Active() || fFolder.empty()) return;
  plm::CatalogueQuery q; // no words: every template of the folder
  q.folder = fFolder;
  fDescribing = fSearch->Find(q);
}

void TGallerySearch::Show(quint64 request, const TCatalogueSearch::Answer &answer) {
  const std::vector<plm::TemplateRecord> &found = *answer;
  TSharedTexts texts;
  if (request == fDescribing) {
    fDescribing = 0;
    if (Active()) return;
    std::vector<std::pair<std::string, QString>> descriptions, health;
    descriptions.reserve(found.size());
    for (const auto &r : found) {
      descriptions.emplace_back(r.path, DescriptionOf(r));
      health.emplace_back(r.path, texts.Health(r));
    }
    fGallery.Model().SetDescriptions(descriptions);
    fGallery.Model().SetHealth(health);
    return;
  }
  if (!Active()) return;
  const std::string searched = plm::CatalogueFolder(fFolder);
  std::vector<TGalleryEntry> entries;
  entries.reserve(found.size());
  for (const auto &r : found)
    entries.push_back({r.path, texts.Detail(searched, r.path), DescriptionOf(r), texts.Health(r)});
  fShown = answer;
  TrashButton->setVisible(DuplicatesCheck->isChecked());
  TrashButton->setEnabled(!found.empty() && !fTrash);
  Status->setText(found.empty() ? QString::fromUtf8("Aucun modèle trouvé")
                  : found.size() == 1
                      ? QString::fromUtf8("1 modèle trouvé")
                      : QString::fromUtf8("%1 modèles trouvés").arg(found.size()));
  fGallery.ShowTemplates(std::move(entries));
}

void TGallerySearch::TrashDuplicates() {
  if (!fShown) return;
  // The groups shown, as shown: group by group, each in file-list order.
  std::vector<plm::DuplicateGroup> groups;
  size_t files = 0;
  for (const auto &r : *fShown) {
    if (r.fingerprint.empty() || r.duplicateOf.empty()) continue;
    if (groups.empty() || groups.back().fingerprint != r.fingerprint)
      groups.push_back({r.fingerprint, r.contentBytes, {}, {}});
    groups.back().paths.push_back(r.path);
    groups.back().stamps.push_back({r.size, r.mtimeNs});
  }
  std::erase_if(groups, [](const plm::DuplicateGroup &g) { return g.paths.size() < 2; });
  for (const auto &g : groups) files += g.paths.size() - 1;
  if (files == 0) return;
  plm::MessageRequest ask;
  ask.parent = &fGallery;
  ask.type = plm::TMsgDlgType::mtConfirmation;
  const QString fileCount = files == 1 ? QString::fromUtf8("1 fichier")
                                       : QString::fromUtf8("%1 fichiers").arg(files);
  const QString groupCount = groups.size() == 1
                                 ? QString::fromUtf8("1 groupe")
                                 : QString::fromUtf8("%1 groupes").arg(groups.size());
  ask.text = QString::fromUtf8("Mettre à la corbeille %1, doublons de %2 ? Le premier modèle de "
                               "chaque groupe est gardé.")
                 .arg(fileCount, groupCount);
  ask.buttons = plm::mbYes | plm::mbNo;
  ask.defaultButton = plm::mbNo;
  ask.escapeButton = plm::mbNo;
  if (plm::MessageDlg(ask) != plm::mrYes || fTrash) return;

  // Each file is read again before it goes: on thousands, seconds. The window stays with
  // the user meanwhile; the status line counts the files looked at.
  TrashButton->setEnabled(false);
  fTrashCursor.emplace(plm::TScreenCursor::crAppStart);
  Status->setText(QString::fromUtf8("Corbeille : 0 / %1").arg(files));
  fCancelTrash = false;
  fTrash = QThread::create([this, groups = std::move(groups)] {
    plm::RunThreadInBackground();
    const auto progress = [this](size_t done, size_t total) {
      QMetaObject::invokeMethod(
          this,
          [this, done, total] {
            Status->setText(QString::fromUtf8("Corbeille : %1 / %2").arg(done).arg(total));
          },
          Qt::QueuedConnection);
    };
    plm::TrashReport report = plm::TrashDuplicates(groups, plm::MoveToTrash, progress, &fCancelTrash);
    QMetaObject::invokeMethod(
        this, [this, report = std::move(report)] { TrashDone(report); }, Qt::QueuedConnection);
  });
  fTrash->start();
}

void TGallerySearch::TrashDone(const plm::TrashReport &report) {
  fTrash->wait();
  delete std::exchange(fTrash, nullptr);
  fTrashCursor.reset();
  TrashButton->setEnabled(fShown && !fShown->empty());
  Status->setText(report.trashed.size() == 1
                      ? QString::fromUtf8("1 fichier mis à la corbeille")
                      : QString::fromUtf8("%1 fichiers mis à la corbeille").arg(report.trashed.size()));
  if (!report.leftAlone.empty()) {
    QString text = QString::fromUtf8("Ces fichiers n'ont pas été mis à la corbeille :");
    for (const auto &[path, why] : report.leftAlone)
      text += QLatin1Char('\n') + Decoded(path) + QStringLiteral(" : ") + QString::fromStdString(why);
    plm::MessageRequest tell;
    tell.parent = &fGallery;
    tell.type = plm::TMsgDlgType::mtWarning;
    tell.text = text;
    plm::MessageDlg(tell);
  }
  // The folder monitor tells the main window; the grid asks again at once.
  Invalidate();
  emit TrashFinished();
}
