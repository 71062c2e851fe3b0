#include <gtest/gtest.h>
#include <webp/decode.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "codecs/webp/webp_decoder.h"
#include "tests/test_support.h"
#include "tests/webp_test_files.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace pvtest::webp;

pvtest::DecodedBytes Decode(const Bytes& file) { return pvtest::DecodeWith(pv::CreateWebpDecoder, L"webp", file); }

// A frame as width, height, left, top, delay, disposal, blend, canvas width, background, loop.
using Fields = std::vector<uint32_t>;

TEST(WebpAnimation, FramesTheirFieldsAndClipping) {
  const Bytes lossy = Encoded(false, 4, 4, 0xFF808080), red = Encoded(true, 4, 4, 0xFFFF0000);
  const struct { const char* what; Bytes file; const wchar_t* compression; std::vector<Fields> frames; } cases[] = {
      {"mixed, clipped, one frame outside, transparent background",
       Riff({Vp8x(0x12, 8, 8), Anim(0x00FF0000, 0), Anmf(0, 0, 4, 4, 100, 0, lossy), Anmf(4, 2, 4, 4, 50, 3, red),
             Anmf(6, 6, 4, 4, 70, 1, red), Anmf(10, 0, 4, 4, 80, 0, red)}),
       L"Mixed VP8", {{4, 4, 0, 0, 100, 0, 1, 8, 0, 1}, {4, 4, 4, 2, 50, 1, 0, 8, 0, 1}, {2, 2, 6, 6, 70, 1, 1, 8, 0, 1}}},
      {"lossless, background taken, played once",
       Riff({Vp8x(0x02, 4, 4), Anim(0x80112233, 1), Anmf(0, 0, 4, 4, 20, 2, red)}), L"Lossless VP8",
       {{4, 4, 0, 0, 20, 0, 0, 4, 0x80112233, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const pvtest::DecodedBytes d = Decode(c.file);
    ASSERT_EQ(d.decode, pv::kStatusOk);
    EXPECT_STREQ(d.decoder->GetText(pv::kPropCompression), c.compression);
    std::vector<Fields> frames;
    for (const pv::ImageBuffer* b : d.Frames()) {
      const pv::FrameInfo& f = b->Frame();
      frames.push_back({b->Width(), b->Height(), f.left, f.top, f.delay, f.disposal, f.blend, f.canvasWidth,
                        f.background, f.loop});
    }
    EXPECT_EQ(frames, c.frames);
    EXPECT_EQ(pvtest::PixelAt(*d.Frames().back(), frames.back()[0] - 1, 0), 0xFFFF0000u);
  }
}

// PSNR of our decode against libwebp's own of `same` (the same picture), in dB.
double Psnr(const Bytes& file, const Bytes& same) {
  const pvtest::DecodedBytes d = Decode(file);
  int w = 0, h = 0;
  uint8_t* ref = WebPDecodeRGBA(same.data(), same.size(), &w, &h);
  if (pv::Failed(d.decode) || !ref || d.buffer->Width() != static_cast<uint32_t>(w)) {
    WebPFree(ref);
    return 0;
  }
  double sum = 0;
  for (int i = 0; i < w * h; ++i) {
    const uint32_t p = d.Pixel(static_cast<uint32_t>(i % w), static_cast<uint32_t>(i / w));
    const uint8_t ours[4] = {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p), uint8_t(p >> 24)};
    for (int k = 0; k < 4; ++k) sum += (ours[k] - ref[4 * i + k]) * (ours[k] - ref[4 * i + k]);
  }
  WebPFree(ref);
  return sum ? 10 * std::log10(255.0 * 255.0 * 4 * w * h / sum) : 99;
}

TEST(WebpLossy, AtLeast38DbAgainstLibwebp) {
  const Bytes alphaFirst = Encoded(false, 6, 5, 0x8040C020);
  ASSERT_EQ(alphaFirst[0], 'A');
  // The same ALPH chunk stored after the bitstream.
  const long alphaEnd = 8 + ((alphaFirst[4] + 1) & ~1);
  Bytes alphaLast(alphaFirst.begin() + alphaEnd, alphaFirst.end());
  alphaLast.insert(alphaLast.end(), alphaFirst.begin(), alphaFirst.begin() + alphaEnd);
  std::vector<Bytes> files = {Riff({Encoded(false, 33, 17, 0xFF3070A0)}), Riff({Vp8x(0x10, 6, 5), alphaFirst}),
                              Riff({Vp8x(0x10, 6, 5), alphaLast})};
  const std::string dir = pvtest::CorpusDir("webp");
  for (const char* name : {"gen-lossy.webp", "gen-lossy-alpha.webp", "irs-lossy_alpha.webp", "irs-simple-gray.webp"})
    if (!dir.empty()) files.push_back(pvtest::ReadFileBytes(dir + "/" + name));
  // libwebp itself reads no alpha stored after the bitstream: that file is held against the usual order.
  for (size_t i = 0; i < files.size(); ++i) EXPECT_GE(Psnr(files[i], files[i == 2 ? 1 : i]), 38.0) << i;
}

TEST(WebpDamaged, ExtentsAndHeadersGiveStatus) {
  const Bytes red = Encoded(true, 4, 4, 0xFFFF0000), lossy = Encoded(false, 4, 4, 0xFF808080);
  Bytes hugeChunk = Riff({red});
  hugeChunk[16] = 0xF0, hugeChunk[17] = hugeChunk[18] = hugeChunk[19] = 0xFF;
  Bytes badStart = Riff({lossy});
  badStart[23] = 0;
  Bytes notRiff = Riff({red});
  notRiff[0] = 'X';
  const Bytes junk = Riff({Chunk("JUNK", Bytes(30)), red});
  pvtest::CheckPixelCases(pv::CreateWebpDecoder, L"webp", {
      {"first chunk neither VP8, VP8L nor VP8X", junk, pv::kStatusDamaged},
      {"not RIFF", notRiff, pv::kStatusUnknownFormat},
      {"chunk size past the end", hugeChunk, pv::kStatusDamaged},
      {"VP8 start code wrong", badStart, pv::kStatusDamaged},
      {"still canvas not the image size", Riff({Vp8x(0, 5, 4), red}), pv::kStatusDamaged},
      {"ANMF too short", Riff({Vp8x(2, 4, 4), Anim(0, 0), Chunk("ANMF", Bytes(10))}), pv::kStatusDamaged},
      {"frame size not the bitstream's", Riff({Vp8x(2, 8, 8), Anim(0, 0), Anmf(0, 0, 5, 4, 0, 0, red)}),
       pv::kStatusDamaged},
      {"ANMF without bitstream", Riff({Vp8x(2, 8, 8), Anim(0, 0), Anmf(0, 0, 4, 4, 0, 0, {})}), pv::kStatusDamaged},
      {"huge canvas", Riff({Vp8x(2, 1 << 24, 1 << 24), Anim(0, 0), Anmf(0, 0, 4, 4, 0, 0, red)}),
       pv::kStatusUnsupported},
  });
  pvtest::CheckProbe(pv::ProbeWebp, {{junk, pv::kStatusDamaged}});
  // Every prefix of an animation: refused, or decoded with the frames it holds.
  const Bytes anim = Riff({Vp8x(2, 8, 8), Anim(0, 0), Anmf(0, 0, 4, 4, 0, 0, red), Anmf(4, 4, 4, 4, 0, 0, lossy)});
  const size_t firstFrameEnd = 12 + 18 + 14 + 8 + 16 + red.size();
  for (size_t n = 0; n < anim.size(); ++n) {
    const pvtest::DecodedBytes d = Decode(Bytes(anim.begin(), anim.begin() + static_cast<long>(n)));
    EXPECT_EQ(pv::Succeeded(d.open) && pv::Succeeded(d.decode), n >= firstFrameEnd) << n;
    EXPECT_EQ(d.buffer ? d.Frames().size() : 1u, 1u) << n;
  }
}

TEST(WebpCorpus, OutcomesAndReferences) { pvtest::CheckCorpusPixels("webp", {}, 17); }

}  // namespace
