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
#include <QTimer>

namespace {

// Typing pauses this long before the catalogue is asked: a burst of keys makes one search.
constexpr int kTypingPauseMs = 40;

QString Decoded(const std::string &bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

// What assistive technologies read after a template's name: its display name and
// collection, or why it could not be read.
QString DescriptionOf(const plm::TemplateRecord &r) {
  if (!r.failure.empty()) return QString::fromStdString(r.failure);
  return QString::fromStdString(r.display) + QStringLiteral(", ") + QString::fromStdString(r.collection);
}

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
  Status = new QLabel(&gallery);
  Status->setObjectName(QStringLiteral("SearchStatus"));
  Status->setAccessibleName(QString::fromUtf8("État de la recherche"));
  if (QBoxLayout *bar = gallery.FilterBar) {
    bar->addWidget(SearchEdit, 1);
    bar->addWidget(SubfoldersCheck);
    bar->addWidget(MissingFontCheck);
    bar->addWidget(Status);
  }

  fSearch = new TCatalogueSearch(databaseFile, this);
  fDelay = new QTimer(this);
  fDelay->setSingleShot(true);
  fDelay->setInterval(kTypingPauseMs);
  connect(fDelay, &QTimer::timeout, this, &TGallerySearch::Ask);
  connect(SearchEdit, &QLineEdit::textChanged, this, &TGallerySearch::Changed);
  connect(SubfoldersCheck, &QCheckBox::toggled, this, &TGallerySearch::Changed);
  connect(MissingFontCheck, &QCheckBox::toggled, this, &TGallerySearch::Changed);
  connect(fSearch, &TCatalogueSearch::Found, this, &TGallerySearch::Show);
  connect(fSearch, &TCatalogueSearch::Progress, this, &TGallerySearch::ShowProgress);
}

bool TGallerySearch::Active() const {
  return !SearchEdit->text().trimmed().isEmpty() || MissingFontCheck->isChecked();
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
    fDelay->start();
    return;
  }
  fDelay->stop();
  Status->clear();
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

void TGallerySearch::Show(quint64 request, const std::vector<plm::TemplateRecord> &found) {
  if (request == fDescribing) {
    fDescribing = 0;
    if (Active()) return;
    std::vector<std::pair<std::string, QString>> descriptions;
    descriptions.reserve(found.size());
    for (const auto &r : found) descriptions.emplace_back(r.path, DescriptionOf(r));
    fGallery.Model().SetDescriptions(descriptions);
    return;
  }
  if (!Active()) return;
  const std::string searched = plm::CatalogueFolder(fFolder);
  std::vector<TGalleryEntry> entries;
  entries.reserve(found.size());
  for (const auto &r : found) {
    TGalleryEntry e;
    e.Path = r.path;
    // The result's folder below the searched one; "." for the searched one itself.
    const size_t slash = r.path.rfind('/');
    const std::string folder = slash == 0 || slash == std::string::npos ? "/" : r.path.substr(0, slash);
    std::string relative = ".";
    const size_t skip = searched == "/" ? 1 : searched.size() + 1;
    if (folder != searched && folder.size() > skip) relative = folder.substr(skip);
    e.Detail = Decoded(relative);
    e.Description = DescriptionOf(r);
    entries.push_back(std::move(e));
  }
  Status->setText(found.empty() ? QString::fromUtf8("Aucun modèle trouvé")
                  : found.size() == 1
                      ? QString::fromUtf8("1 modèle trouvé")
                      : QString::fromUtf8("%1 modèles trouvés").arg(found.size()));
  fGallery.ShowTemplates(std::move(entries));
}
