// Files that declare an image far larger than their bytes could fill are
// refused at open, before any pixel buffer exists; and a prefetch only
// decodes what the free memory can take.
#include <gtest/gtest.h>

#include <cstdint>

#include "browse/image_cache.h"
#include "codecs/register_decoders.h"
#include "core/cpu.h"
#include "core/decoder.h"
#include "tests/test_support.h"

#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__)
#include <sys/resource.h>

#include <fstream>
#include <unistd.h>
#endif

namespace {

#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__)
// Caps the address space at what the process maps now plus 256 MiB, so that
// an allocation anywhere near a declared image's size fails and shows as the
// out-of-memory status instead of the refusal.
class AddressSpaceCap {
 public:
  AddressSpaceCap() {
    std::ifstream statm("/proc/self/statm");
    uint64_t pages = 0;
    if (!(statm >> pages) || getrlimit(RLIMIT_AS, &old_) != 0) return;
    rlimit capped = old_;
    capped.rlim_cur = pages * sysconf(_SC_PAGESIZE) + (uint64_t{256} << 20);
    set_ = setrlimit(RLIMIT_AS, &capped) == 0;
  }
  ~AddressSpaceCap() {
    if (set_) setrlimit(RLIMIT_AS, &old_);
  }
  bool Set() const { return set_; }

 private:
  rlimit old_{};
  bool set_ = false;
};
#endif

TEST(ResourceLimits, HugeDeclaredImagesFailFastAndPrefetchNeedsFreeMemory) {
  pv::ReadProcessorFeatures();
  pv::RegisterDecoders();
  // Each declares 16384 x 16384 pixels (1 GiB as 32-bit pixels) in at most a few KiB.
  const char* const files[] = {
      "png-16384-square-one-idat.png", "jpeg-16384-square-one-scan.jpg",  "tiff-16384-square-one-strip.tif",
      "psd-16384-square-raw.psd",      "psd-16384-square-packbits.psd",   "bmp-16384-square-24-bit.bmp",
      "bmp-16384-square-rle8-end.bmp", "gif-16384-square-frame.gif",      "gif-16384-square-screen-1-pixel-frame.gif",
      "dds-16384-square-32-bit.dds",   "dds-16384-square-dxt1.dds",       "tga-16384-square-rle.tga",
      "pcx-16384-square-rle.pcx",      "fits-16384-square-8-bit.fits",    "hdr-16384-square.hdr",
      "iff-16384-square-ilbm.iff",     "webp-16384-square-vp8l.webp",
  };
  const std::string dir = pvtest::OwnDataDir("limits");
#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__)
  const AddressSpaceCap cap;
  EXPECT_TRUE(cap.Set());
#endif
  for (const char* file : files) {
    SCOPED_TRACE(file);
    const std::wstring path = pvtest::Widen(dir + "/" + file);
    pv::Ref<pv::ImageDecoder> decoder;
    EXPECT_EQ(pv::OpenImage(path.c_str(), true, &decoder), pv::kStatusDamaged);
    pv::Ref<pv::ImageBuffer> image;
    EXPECT_EQ(pv::LoadImageFile(path.c_str(), pv::LoadOptions(), &image), pv::kStatusDamaged);
  }
  // A real file of that kind: a blank fax page at 600 dpi, 5100 x 6600 in 998 bytes.
  pv::Ref<pv::ImageBuffer> blank;
  EXPECT_EQ(pv::LoadImageFile(pvtest::Widen(dir + "/tiff-blank-fax-page-600-dpi.tif").c_str(), pv::LoadOptions(), &blank),
            pv::kStatusOk);

  constexpr uint64_t kMiB = uint64_t{1} << 20;
  const struct {
    uint64_t fileBytes, availableBytes;
    bool fits;
  } prefetches[] = {
      {kMiB, 64 * kMiB, true},
      {kMiB, 64 * kMiB - 1, false},
      {0, 0, true},
      {uint64_t{1} << 60, UINT64_MAX, false},  // 64 times the size is beyond any memory
      {UINT64_MAX, UINT64_MAX, false},
  };
  for (const auto& p : prefetches) {
    EXPECT_EQ(pv::PrefetchFitsMemory(p.fileBytes, p.availableBytes), p.fits) << p.fileBytes << " " << p.availableBytes;
  }
}

}  // namespace
