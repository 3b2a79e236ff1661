// How much memory the preview's page step takes: every allocation of this program is
// counted, so the peak while a page is read, checked, rewritten and saved can be compared
// with the page's size.
#include "preview/TemplatePreview.h"

#include "platform/LineList.h"
#include "platform/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<size_t> gInUse{0}, gPeak{0};
constexpr size_t kHeader = alignof(std::max_align_t);

void *Counted(size_t n) {
  auto *p = static_cast<unsigned char *>(std::malloc(n + kHeader));
  if (!p) throw std::bad_alloc();
  *reinterpret_cast<size_t *>(p) = n;
  const size_t now = gInUse += n;
  size_t peak = gPeak.load();
  while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
  }
  return p + kHeader;
}

void Uncounted(void *q) {
  if (!q) return;
  auto *p = static_cast<unsigned char *>(q) - kHeader;
  gInUse -= *reinterpret_cast<size_t *>(p);
  std::free(p);
}

} // namespace

void *operator new(size_t n) { return Counted(n); }
void *operator new[](size_t n) { return Counted(n); }
void operator delete(void *p) noexcept { Uncounted(p); }
void operator delete[](void *p) noexcept { Uncounted(p); }
void operator delete(void *p, size_t) noexcept { Uncounted(p); }
void operator delete[](void *p, size_t) noexcept { Uncounted(p); }

namespace {

// The peak of memory in use above what was in use before, while the page step runs.
size_t PageStepPeak(const std::string &folder) {
  gPeak = gInUse.load();
  const size_t base = gInUse.load();
  plm::TTemplatePreview p(folder);
  p.LoadPage();
  const std::string font = p.FontName();
  p.RewritePage();
  p.SavePage();
  return gPeak.load() - base;
}

} // namespace

TEST(PreviewMemory, APageIsReadAndRewrittenInAboutTwiceItsSize) {
  plm::TTempFolder t("plm-memory-");
  constexpr size_t kSize = 16u << 20;
  const std::string page = t.Path() + "/Flavor.htm";
  {
    // A page of CR LF lines keeps its size.
    std::string lines;
    while (lines.size() + 60 < kSize)
      lines += "<P style=\"FONT-FAMILY: Arial\">Texte de la lettre</P>\r\n";
    lines.resize(kSize, ' ');
    ASSERT_EQ(plm::WriteFileBytes(page, lines), 0);
  }
  EXPECT_LE(PageStepPeak(t.Path()), 2 * kSize + (1u << 20));
  // One made of line feeds only doubles when each becomes CR LF: the worst case.
  ASSERT_EQ(plm::WriteFileBytes(page, std::string(kSize, '\n')), 0);
  EXPECT_LE(PageStepPeak(t.Path()), 2 * kSize + (1u << 20));
}
