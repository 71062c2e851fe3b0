#pragma once
// Shared fixtures of the tests: the sample corpus, reference decodes and
// the whole road of one file.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/decoder.h"
#include "core/status.h"

namespace pvtest {

// expected: "decode", "reject" or "either"; reference: the reference decode's file name, or empty
struct CorpusCase { std::string file; std::string expected; std::string reference; std::string exercises; };

// data: samples as stored (8-bit maxval only)
struct Pam { uint32_t width = 0, height = 0, depth = 0, maxval = 0; std::vector<uint8_t> data; };

// The corpus folder of one format, or "" when the corpus is absent.
std::string CorpusDir(const char* format);
// Our own committed samples (tests/data/<format>).
std::string OwnDataDir(const char* format);
bool ReadPam(const std::string& path, Pam* out);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
std::wstring Widen(const std::string& s);
// A fresh empty folder for files a test writes.
std::string ScratchDir(const char* name);

// Registers the decoders, opens and decodes a file (all frames) and converts
// the first frame to straight R, G, B, A rows.
bool DecodeToRgba(const std::wstring& path, std::vector<uint8_t>* rgba, uint32_t* width, uint32_t* height,
                  pv::Status* status);

// The reference's pixels as R, G, B, A (depth 3 gets alpha 255).
std::vector<uint8_t> PamAsRgba(const Pam& pam);

// Decodes every file of a corpus folder through the whole road and checks
// its outcome against the MANIFEST: "decode" must succeed, "reject" must fail
// (the status goes to `rejected` when given). For each decoded file with a
// reference decode of the same size, `compare` gets our R, G, B, A pixels and
// the reference's. Returns the number of references compared.
using CorpusCompare =
    std::function<void(const CorpusCase&, const std::vector<uint8_t>& ours, const std::vector<uint8_t>& reference)>;
struct CorpusChecks {
  std::function<void(const CorpusCase&, pv::Status)> rejected;
  CorpusCompare compare;
};
size_t CheckCorpus(const std::string& dir, const CorpusChecks& checks);
// CheckCorpus over one format's folder (skipped when it is absent), comparing
// at least `atLeast` references by `compare`, or pixel for pixel without one.
void CheckCorpusPixels(const char* format, const CorpusCompare& compare = {}, size_t atLeast = 1);
// Pixel-exact comparison; where both alphas are 0 the colour carries no meaning.
void ExpectSamePixels(const std::vector<uint8_t>& ours, const std::vector<uint8_t>& reference);

// A file decoded from memory by one decoder, with every frame. The bytes
// live in a block of their own exact size, so that a read past the end is
// an error under the address sanitizer.
struct DecodedBytes {
  std::vector<uint8_t> file;
  pv::Status open = pv::kStatusOk, decode = pv::kStatusOk;
  pv::Ref<pv::ImageDecoder> decoder;
  pv::Ref<pv::ImageBuffer> buffer;

  std::vector<pv::ImageBuffer*> Frames() const;
  size_t DecoderCount() const;
  uint32_t Pixel(uint32_t x, uint32_t y) const;  // an Rgba8 pixel as 0xAARRGGBB
  uint8_t Index(uint32_t x, uint32_t y) const;
  // Any 8-bit format as 0xAARRGGBB, a Grey16 sample as it is.
  uint32_t Colour(uint32_t x, uint32_t y) const;
};

// Creates the decoder for `extension`'s entry straight from the bytes (no
// probe), opens it and decodes into a buffer first filled with stale bytes
// (0xA5), so that pixels the decoder fails to write show up.
DecodedBytes DecodeWith(pv::CreateFunction create, const wchar_t* extension, const std::vector<uint8_t>& file,
                        const pv::CancelFlag* cancel = nullptr, pv::ProgressSink* progress = nullptr);

// Decodes every prefix of a file that decodes whole: each either fails to
// open as damaged or unknown, or opens and decodes (with kStatusDamaged too
// when `damagedDecodes`) into the whole file's dimensions.
void CheckEveryPrefix(pv::CreateFunction create, const wchar_t* extension, const std::vector<uint8_t>& whole,
                      bool damagedDecodes = false);

// The damaged-input and pixel driver of every decoder test: a file, its
// open status and, when it opens, its decode status; on success its first
// frame's width (0: not checked), pixels (Colour, top row first), uses-alpha
// flag (-1: not checked) and frame count.
struct PixelCase {
  const char* name;
  std::vector<uint8_t> file;
  pv::Status open;
  uint32_t width = 0;
  std::vector<uint32_t> pixels = {};
  int usesAlpha = -1;
  size_t frames = 1;
  pv::Status decode = pv::kStatusOk;
};
void CheckPixelCases(pv::CreateFunction create, const wchar_t* extension, const std::vector<PixelCase>& cases);
// The probe's status for each file.
void CheckProbe(pv::Status (*probe)(pv::ByteSource&), const std::vector<std::pair<std::vector<uint8_t>, pv::Status>>& cases);

// A TIFF structure built in file order: blocks of data and directories,
// each directory followed by the values that do not fit in its entries.
struct TiffTag {
  uint16_t tag, type;            // type 1 BYTE, 2 ASCII, 3 SHORT, 4 LONG, 5 and 10 RATIONAL
  std::vector<uint32_t> values;  // RATIONAL: numerator, denominator pairs
  uint32_t count = 0;            // written instead of the value count when not 0
};
TiffTag TiffAscii(uint16_t tag, const std::string& text);
struct TiffBuilder {
  explicit TiffBuilder(bool big = false);
  uint32_t Append(const std::vector<uint8_t>& data);  // gives the data's offset
  // A linked directory is the next of the last linked one (the header's first).
  uint32_t Directory(const std::vector<TiffTag>& tags, bool linked = true);
  void Put(size_t at, uint32_t v, int bytes);
  bool big;
  size_t link = 4;
  std::vector<uint8_t> bytes;
};

// Sets a process-wide value (a processor flag or count) for one scope.
template <class T>
struct ScopedValue {
  ScopedValue(T& to, T value) : target(to), saved(to) { target = value; }
  ~ScopedValue() { target = saved; }
  T& target;
  const T saved;
};

// A new heap buffer of undefined contents (a test failure when there is none).
pv::Ref<pv::ImageBuffer> NewImage(pv::PixelFormat format, uint32_t width, uint32_t height);
// An Rgba8 image of one colour (0xAARRGGBB).
pv::Ref<pv::ImageBuffer> SolidImage(uint32_t width, uint32_t height, uint32_t colour, uint8_t usesAlpha = 0);
// One pixel of an Rgba8 buffer as 0xAARRGGBB.
inline uint32_t& PixelAt(pv::ImageBuffer& b, uint32_t x, uint32_t y) { return reinterpret_cast<uint32_t*>(b.Row(y))[x]; }
inline uint32_t PixelAt(const pv::ImageBuffer& b, uint32_t x, uint32_t y) {
  return reinterpret_cast<const uint32_t*>(b.Row(y))[x];
}

// Samples per pixel: 4 in the Rgba formats (B, G, R, A), else 1.
uint32_t ChannelsOf(pv::PixelFormat f);
// Sample i of row y (of width × channels) as a number, whatever the format.
double SampleAt(const pv::ImageBuffer& b, uint32_t y, size_t i);
void SetSample(pv::ImageBuffer& b, uint32_t y, size_t i, double v);
// A new image of these samples, row by row; and all the samples of one.
pv::Ref<pv::ImageBuffer> ImageOf(pv::PixelFormat f, uint32_t width, uint32_t height,
                                 const std::vector<double>& samples);
std::vector<double> SamplesOf(const pv::ImageBuffer& b);
// Samples spread over the whole range of the format (0 to 1 for floats).
pv::Ref<pv::ImageBuffer> RandomImage(pv::PixelFormat f, uint32_t width, uint32_t height, uint32_t seed);
// The same format, size and pixels.
bool SamePixels(const pv::ImageBuffer& a, const pv::ImageBuffer& b);

// Vector paths off, and on where this processor has them.
std::vector<bool> VectorSettings();
std::vector<uint8_t> RandomBytes(uint32_t seed, size_t n);

// Records every progress call; given a flag, sets it at call `cancelAt`.
class ProgressLog : public pv::ProgressSink {
 public:
  explicit ProgressLog(pv::CancelFlag* cancel = nullptr, size_t cancelAt = 0) : cancel_(cancel), cancelAt_(cancelAt) {}
  void Progress(int32_t done, int32_t total) override {
    calls.emplace_back(done, total);
    if (cancel_ && calls.size() == cancelAt_) cancel_->store(1);
  }
  std::vector<std::pair<int32_t, int32_t>> calls;

 private:
  pv::CancelFlag* cancel_;
  size_t cancelAt_;
};

}  // namespace pvtest
