#include "preview/TemplateRules.h"

#include "cabinet/CabSTComps.h"
#include "platform/Strings.h"

#include <new>

namespace plm {

namespace {

std::string Megabytes(uint64_t bytes) { return std::to_string(bytes >> 20) + " Mo"; }

} // namespace

bool IsPageFileName(std::string_view name) { return SameText(name, kPageFileName); }
bool IsDescriptionFileName(std::string_view name) { return SameText(name, kDescriptionFileName); }

ETemplateTooLarge::ETemplateTooLarge(const std::string &templateName, const std::string &why)
    : Exception("Le modèle \"" + templateName + "\" est refusé : " + why), Why(why) {}

ETemplateHasNoPage::ETemplateHasNoPage()
    : Exception(std::string("Le modèle n'a pas de page (") + kPageFileName + ").") {}

const std::string &TTemplateBudget::Add(uint64_t storedSize, bool isPage) {
  if (!fRefusal.empty()) return fRefusal;
  fBytes += storedSize;
  if (++fFiles > kMaxTemplateFiles)
    fRefusal = "il contient plus de " + std::to_string(kMaxTemplateFiles) + " fichiers.";
  else if (fBytes > kMaxTemplateBytes)
    fRefusal = "ses fichiers dépassent " + Megabytes(kMaxTemplateBytes) + " une fois décompressés.";
  else if (isPage && storedSize > kMaxPageBytes)
    fRefusal = PageTooLargeRefusal();
  return fRefusal;
}

std::string PageTooLargeRefusal() { return "sa page dépasse " + Megabytes(kMaxPageBytes) + "."; }

std::string TemplateFailureReason(const std::exception &e) {
  if (const auto *cab = dynamic_cast<const ESTCabinet *>(&e)) {
    switch (cab->ErrorCode) {
    case FDIERROR_CABINET_NOT_FOUND: return "Le fichier du modèle n'a pas pu être ouvert.";
    case FDIERROR_NOT_A_CABINET:
      return "Ce fichier n'est pas un modèle : ce n'est pas une archive cabinet.";
    case FDIERROR_ALLOC_FAIL: return "La mémoire a manqué pour décompresser ce modèle.";
    case FDIERROR_TARGET_FILE:
      return "Les fichiers du modèle n'ont pas pu être écrits dans le dossier temporaire.";
    case FDIERROR_BAD_COMPR_TYPE:
      return "L'archive du modèle utilise une compression qui n'est pas prise en charge.";
    default: return "L'archive du modèle est endommagée ou incomplète.";
    }
  }
  if (dynamic_cast<const std::bad_alloc *>(&e))
    return "La mémoire a manqué pour afficher ce modèle.";
  if (dynamic_cast<const Exception *>(&e)) return e.what(); // the program's own messages
  return "Ce modèle ne peut pas être affiché.";
}

} // namespace plm
