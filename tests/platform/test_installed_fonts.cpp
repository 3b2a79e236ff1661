// Whether a page's font is installed: the one rule that the viewer's label, the catalogue,
// the gallery's filter and the command line all ask.
#include "platform/InstalledFonts.h"

#include <gtest/gtest.h>

namespace {

struct FontCase {
  const char *family;
  bool installed;
};
void PrintTo(const FontCase &c, std::ostream *os) { *os << '"' << c.family << '"'; }

class InstalledFont : public ::testing::TestWithParam<FontCase> {};

TEST_P(InstalledFont, IsFoundWithBlanksTrimmedWithoutRegardToCase) {
  EXPECT_EQ(plm::IsFontFamilyInstalled(GetParam().family), GetParam().installed);
}

INSTANTIATE_TEST_SUITE_P(Families, InstalledFont,
                         ::testing::Values(FontCase{"DejaVu Sans", true},
                                           FontCase{"dejavu SANS", true},
                                           FontCase{"Liberation Sans ", true},
                                           FontCase{"\t Liberation Sans", true},
                                           FontCase{"Liberation", false},
                                           FontCase{"DejaVu  Sans", false},
                                           FontCase{"No Such Font Family", false},
                                           FontCase{" ", false}, FontCase{"", false}));

} // namespace
