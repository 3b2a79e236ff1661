#pragma once
// Reads what the catalogue keeps of one template straight from its cabinet, in memory:
// "content.ini" and the page are decompressed into buffers, the pictures only as far as
// their headers go, and nothing is written to disk. The limits of the preview hold: a
// template whose file list goes beyond them is refused before anything is expanded.
#include "catalogue/TemplateRecord.h"
#include "platform/plmcab/fdi_fci.h"

#include <functional>
#include <string>
#include <string_view>

namespace plm {

// Whether a font family (UTF-8) is installed.
using FontCheck = std::function<bool(std::string_view family)>;

class TTemplateReader {
public:
  TTemplateReader();
  ~TTemplateReader();
  TTemplateReader(const TTemplateReader &) = delete;
  TTemplateReader &operator=(const TTemplateReader &) = delete;

  // Fills every field but path, size and time. Raises the cabinet reader's ESTCabinet for
  // an archive it cannot read (after filling what the whole files before the damage and
  // the file list give), ETemplateTooLarge for a template beyond the limits, and
  // ETemplateHasNoPage when the template holds no page. Records the fingerprint and the
  // problems of a template read whole.
  void Read(const std::string &templatePath, TemplateRecord &record, const FontCheck &fontCheck);

private:
  HFDI fContext = nullptr; // the cabinet library's decompression context
  ERF fError{};            // where the context reports its failures
};

// The codes of the problems a reading finds; stable, for scripts.
inline constexpr const char *kProblemDamaged = "damaged";
inline constexpr const char *kProblemNoPage = "no-page";
inline constexpr const char *kProblemMissingPicture = "missing-picture";
inline constexpr const char *kProblemMissingFont = "missing-font";
inline constexpr const char *kProblemOverLimits = "over-limits";
inline constexpr const char *kProblemNoDescription = "no-description";

// Reads the template with the reader and never raises: the fields, the fingerprint and
// the problems; a template that cannot be read whole gets its French failure reason
// and the problem that says why (damaged, beyond the limits, no page).
void ReadTemplateRecord(TTemplateReader &reader, const std::string &templatePath,
                        TemplateRecord &record, const FontCheck &fontCheck);

// The text between the page's first <TITLE> and </TITLE> (any case), blanks trimmed.
std::string PageTitle(std::string_view page);

} // namespace plm
