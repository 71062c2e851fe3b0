#include "metadata/resolution_text.h"

#include <gtest/gtest.h>

#include <iterator>

namespace {

TEST(ResolutionText, ReadsAndConvertsTheUnits) {
  using pv::ResolutionUnit;
  struct Case { const wchar_t* text; ResolutionUnit wanted; bool ok; uint32_t x, y; } cases[] = {
      {L"72 x 96 ppi", ResolutionUnit::PerInch, true, 72, 96},
      {L"  300x300PPI", ResolutionUnit::AsWritten, true, 300, 300},
      {L"72 x 72 ppi", ResolutionUnit::PerMetre, true, 2835, 2835},  // × 39.37008, rounded
      {L"2835 x 2835 ppm", ResolutionUnit::PerInch, true, 72, 72},
      {L"2800 x 2800 ppm", ResolutionUnit::PerMetre, true, 2800, 2800},
      {L"150 ppi", ResolutionUnit::PerInch, true, 150, 150},      // no Y: as X
      {L"150 x 0 ppi", ResolutionUnit::PerInch, true, 150, 150},  // zero Y: as X
      {L"0 x 72 ppi", ResolutionUnit::PerInch, false, 0, 0}, {L"72 x 72 dpi", ResolutionUnit::PerInch, false, 0, 0},
      {L"72 x 72 ppix", ResolutionUnit::PerInch, false, 0, 0}, {L"x 72 ppi", ResolutionUnit::PerInch, false, 0, 0},
      {L"99999999999 ppi", ResolutionUnit::PerInch, false, 0, 0},
      {L"", ResolutionUnit::PerInch, false, 0, 0},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    uint32_t x = 0, y = 0;
    EXPECT_EQ(pv::ParseResolution(c.text, c.wanted, &x, &y), c.ok) << "case " << i;
    if (!c.ok) continue;
    EXPECT_EQ(x, c.x) << "case " << i;
    EXPECT_EQ(y, c.y) << "case " << i;
  }
  uint32_t x = 0, y = 0;
  EXPECT_FALSE(pv::ParseResolution(nullptr, ResolutionUnit::PerInch, &x, &y));
}

}  // namespace
