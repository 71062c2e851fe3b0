#pragma once
#include <cstdint>

namespace pv::jpeg {

// Dequantises one block of 64 coefficients (natural order) with its table,
// runs the integer inverse DCT (the AP-922 row tables and tangent column
// pass), level-shifts and clamps, and writes 8 rows of 8 samples to out.
// out may be the coefficients' own address: every input is read first.
// Products of coefficient and quantiser keep their low 16 bits.
void IdctBlock(const int16_t* coefs, const uint16_t* quant, uint8_t* out);

// The sample of a block in eighth-scale mode: its DC level alone.
uint8_t DcOnlySample(int16_t dc, uint16_t quant);

// The two forms behind IdctBlock, for tests that hold them against each other.
namespace scalar {
void IdctBlock(const int16_t* coefs, const uint16_t* quant, uint8_t* out);
}
namespace sse2 {
void IdctBlock(const int16_t* coefs, const uint16_t* quant, uint8_t* out);
}

}  // namespace pv::jpeg
