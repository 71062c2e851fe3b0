#include "tests/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cstring>
#include <filesystem>
#include <random>

#include <gtest/gtest.h>
#include <fstream>
#include <sstream>

#include "codecs/register_decoders.h"
#include "core/cpu.h"
#include "core/decoder.h"
#include "core/endian.h"
#include "core/text.h"
#include "tools/image_writers.h"

namespace pvtest {

namespace fs = std::filesystem;

std::string CorpusDir(const char* format) {
  std::string dir = std::string(PV_CORPUS_DIR) + "/" + format;
  std::error_code ec;
  return fs::is_directory(fs::path(Widen(dir)), ec) ? dir : std::string();
}

std::string OwnDataDir(const char* format) { return std::string(PV_OWN_DATA_DIR) + "/" + format; }

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(fs::path(Widen(path)), std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

static std::vector<CorpusCase> ReadManifest(const std::string& dir) {
  std::vector<CorpusCase> cases;
  std::vector<uint8_t> bytes = ReadFileBytes(dir + "/MANIFEST.tsv");
  std::istringstream lines(std::string(bytes.begin(), bytes.end()));
  std::string line;
  std::getline(lines, line);  // header
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> cols;
    std::istringstream fields(line);
    for (std::string col; std::getline(fields, col, '\t');) cols.push_back(col);
    if (cols.size() < 5) continue;
    // file, origin, licence, exercises, expected, reference (its name, then how it was made)
    cases.push_back({cols[0], cols[4], cols.size() > 5 ? cols[5].substr(0, cols[5].find(' ')) : "", cols[3]});
  }
  return cases;
}

bool ReadPam(const std::string& path, Pam* out) {
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  std::string text(bytes.begin(), bytes.end());
  size_t end = text.find("ENDHDR\n");
  if (text.rfind("P7\n", 0) != 0 || end == std::string::npos) return false;
  std::istringstream header(text.substr(3, end - 3));
  std::string key;
  while (header >> key) {
    uint32_t* field = key == "WIDTH" ? &out->width : key == "HEIGHT" ? &out->height : key == "DEPTH" ? &out->depth
                      : key == "MAXVAL" ? &out->maxval : nullptr;
    if (field) header >> *field;
  }
  size_t start = end + 7;
  size_t need = size_t{out->width} * out->height * out->depth;
  if (out->maxval != 255 || bytes.size() < start + need) return false;
  out->data.assign(bytes.begin() + static_cast<long>(start), bytes.begin() + static_cast<long>(start + need));
  return true;
}

std::vector<uint8_t> PamAsRgba(const Pam& pam) {
  std::vector<uint8_t> rgba(size_t{pam.width} * pam.height * 4);
  for (size_t i = 0; i < size_t{pam.width} * pam.height; ++i) {
    const uint8_t* p = &pam.data[i * pam.depth];
    uint8_t* q = &rgba[i * 4];
    if (pam.depth >= 3) {
      q[0] = p[0], q[1] = p[1], q[2] = p[2];
      q[3] = pam.depth == 4 ? p[3] : 255;
    } else {
      q[0] = q[1] = q[2] = p[0];
      q[3] = pam.depth == 2 ? p[1] : 255;
    }
  }
  return rgba;
}

std::wstring Widen(const std::string& s) { return pv::Utf8ToWide(s); }

std::string ScratchDir(const char* name) {
  // One folder per test process: builds and work trees run their tests at
  // the same time, and a watched folder must see only its own test's changes.
#ifdef _WIN32
  const unsigned long process = GetCurrentProcessId();
#else
  const unsigned long process = static_cast<unsigned long>(getpid());
#endif
  struct Root {
    fs::path path;
    ~Root() {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  };
  static const Root root{fs::temp_directory_path() / ("pixvane-tests-" + std::to_string(process))};
  fs::path dir = root.path / name;
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir, ec);
  return pv::WideToUtf8(dir.wstring());
}

bool DecodeToRgba(const std::wstring& path, std::vector<uint8_t>* rgba, uint32_t* width, uint32_t* height,
                  pv::Status* status) {
  pv::ReadProcessorFeatures();
  pv::RegisterDecoders();
  pv::Ref<pv::ImageBuffer> image;
  *status = pv::LoadImageFile(path.c_str(), pv::LoadOptions(), &image);
  if (pv::Failed(*status)) return false;
  *width = image->Width();
  *height = image->Height();
  *status = pv::ToStraightRgba(*image, rgba);
  return pv::Succeeded(*status);
}

pv::Ref<pv::ImageBuffer> NewImage(pv::PixelFormat format, uint32_t width, uint32_t height) {
  pv::Ref<pv::ImageBuffer> b(pv::CreateImageBuffer(format, {width, height}, false));
  EXPECT_TRUE(b);
  return b;
}

pv::Ref<pv::ImageBuffer> SolidImage(uint32_t width, uint32_t height, uint32_t colour, uint8_t usesAlpha) {
  pv::Ref<pv::ImageBuffer> b = NewImage(pv::PixelFormat::Rgba8, width, height);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) PixelAt(*b, x, y) = colour;
  b->SetUsesAlpha(usesAlpha);
  return b;
}

uint32_t ChannelsOf(pv::PixelFormat f) {
  return f == pv::PixelFormat::Rgba8 || f == pv::PixelFormat::Rgba16 || f == pv::PixelFormat::RgbaF ? 4 : 1;
}

double SampleAt(const pv::ImageBuffer& b, uint32_t y, size_t i) {
  const uint8_t* row = b.Row(y);
  const uint32_t bytes = pv::BytesPerPixel(b.Format()) / ChannelsOf(b.Format());
  return bytes == 1 ? row[i] : bytes == 2 ? reinterpret_cast<const uint16_t*>(row)[i] : reinterpret_cast<const float*>(row)[i];
}

void SetSample(pv::ImageBuffer& b, uint32_t y, size_t i, double v) {
  uint8_t* row = b.Row(y);
  switch (pv::BytesPerPixel(b.Format()) / ChannelsOf(b.Format())) {
    case 1: row[i] = static_cast<uint8_t>(v); break;
    case 2: reinterpret_cast<uint16_t*>(row)[i] = static_cast<uint16_t>(v); break;
    default: reinterpret_cast<float*>(row)[i] = static_cast<float>(v); break;
  }
}

pv::Ref<pv::ImageBuffer> ImageOf(pv::PixelFormat f, uint32_t width, uint32_t height,
                                 const std::vector<double>& samples) {
  pv::Ref<pv::ImageBuffer> b = NewImage(f, width, height);
  const size_t perRow = size_t{width} * ChannelsOf(f);
  EXPECT_EQ(samples.size(), perRow * height);
  for (size_t i = 0; b && i < samples.size(); ++i)
    SetSample(*b, static_cast<uint32_t>(i / perRow), i % perRow, samples[i]);
  return b;
}

std::vector<double> SamplesOf(const pv::ImageBuffer& b) {
  std::vector<double> out;
  for (uint32_t y = 0; y < b.Height(); ++y)
    for (size_t i = 0; i < size_t{b.Width()} * ChannelsOf(b.Format()); ++i) out.push_back(SampleAt(b, y, i));
  return out;
}

pv::Ref<pv::ImageBuffer> RandomImage(pv::PixelFormat f, uint32_t width, uint32_t height, uint32_t seed) {
  pv::Ref<pv::ImageBuffer> b = NewImage(f, width, height);
  std::mt19937 rng(seed);
  const uint32_t bytes = pv::BytesPerPixel(f) / ChannelsOf(f);
  for (uint32_t y = 0; y < height; ++y) {
    for (size_t i = 0; i < size_t{width} * ChannelsOf(f); ++i)
      SetSample(*b, y, i, bytes == 4 ? (rng() % 10001) / 10000.0 : rng() % (bytes == 1 ? 256 : 65536));
  }
  return b;
}

bool SamePixels(const pv::ImageBuffer& a, const pv::ImageBuffer& b) {
  if (a.Dimensions() != b.Dimensions() || a.Format() != b.Format()) return false;
  for (uint32_t y = 0; y < a.Height(); ++y) {
    if (std::memcmp(a.Row(y), b.Row(y), size_t{a.Width()} * a.BytesPerPixel()) != 0) return false;
  }
  return true;
}

std::vector<bool> VectorSettings() {
  if (__builtin_cpu_supports("ssse3")) return {false, true};
  return {false};
}

std::vector<uint8_t> RandomBytes(uint32_t seed, size_t n) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

std::vector<pv::ImageBuffer*> DecodedBytes::Frames() const {
  std::vector<pv::ImageBuffer*> out;
  for (pv::ImageBuffer* b = buffer.get(); b; b = b->Frame().next) out.push_back(b);
  return out;
}

size_t DecodedBytes::DecoderCount() const {
  size_t n = 0;
  for (pv::ImageDecoder* d = decoder.get(); d; d = d->Next()) ++n;
  return n;
}

uint32_t DecodedBytes::Pixel(uint32_t x, uint32_t y) const { return pv::LoadU32LE(buffer->Row(y) + 4 * x); }

uint8_t DecodedBytes::Index(uint32_t x, uint32_t y) const { return buffer->Row(y)[x]; }

uint32_t DecodedBytes::Colour(uint32_t x, uint32_t y) const {
  switch (buffer->Format()) {
    case pv::PixelFormat::Indexed8: return buffer->Palette()[Index(x, y)];
    case pv::PixelFormat::Grey8: return 0xFF000000u | Index(x, y) * 0x010101u;
    case pv::PixelFormat::Grey16: return reinterpret_cast<const uint16_t*>(buffer->Row(y))[x];
    default: return Pixel(x, y);
  }
}

DecodedBytes DecodeWith(pv::CreateFunction create, const wchar_t* extension, const std::vector<uint8_t>& file,
                        const pv::CancelFlag* cancel, pv::ProgressSink* progress) {
  DecodedBytes d;
  d.file = file;
  pv::Ref<pv::ByteSource> source(new pv::MemorySource(d.file.data(), static_cast<uint32_t>(d.file.size())));
  d.decoder = pv::Ref<pv::ImageDecoder>(create(*source, *pv::FindFormatEntry(extension)));
  d.open = d.decoder->Open(0);
  if (pv::Failed(d.open)) return d;
  d.decode = pv::CreateBufferFor(*d.decoder, false, false, &d.buffer);
  if (pv::Failed(d.decode)) return d;
  std::memset(d.buffer->Pixels(), 0xA5, d.buffer->RowBytes() * d.buffer->Height());
  d.decode = d.decoder->Decode(*d.buffer, true, progress, cancel);
  return d;
}

void CheckEveryPrefix(pv::CreateFunction create, const wchar_t* extension, const std::vector<uint8_t>& whole,
                      bool damagedDecodes) {
  const DecodedBytes full = DecodeWith(create, extension, whole);
  ASSERT_EQ(full.decode, pv::kStatusOk);
  for (size_t n = 0; n < whole.size(); ++n) {
    SCOPED_TRACE("cut at " + std::to_string(n));
    const DecodedBytes d = DecodeWith(create, extension, std::vector<uint8_t>(whole.begin(), whole.begin() + long(n)));
    if (pv::Failed(d.open)) {
      EXPECT_TRUE(d.open == pv::kStatusDamaged || d.open == pv::kStatusUnknownFormat) << std::hex << d.open;
      continue;
    }
    EXPECT_TRUE(d.decode == pv::kStatusOk || (damagedDecodes && d.decode == pv::kStatusDamaged)) << std::hex << d.decode;
    ASSERT_TRUE(d.buffer);
    EXPECT_EQ(d.buffer->Dimensions(), full.buffer->Dimensions());
  }
}

void CheckPixelCases(pv::CreateFunction create, const wchar_t* extension, const std::vector<PixelCase>& cases) {
  for (const PixelCase& c : cases) {
    SCOPED_TRACE(c.name);
    DecodedBytes d = DecodeWith(create, extension, c.file);
    ASSERT_EQ(d.open, c.open) << std::hex << d.open;
    if (pv::Failed(c.open)) continue;
    ASSERT_EQ(d.decode, c.decode) << std::hex << d.decode;
    if (pv::Failed(c.decode)) continue;
    if (c.width) {
      ASSERT_EQ(d.buffer->Width(), c.width);
    }
    EXPECT_EQ(d.DecoderCount(), c.frames);
    EXPECT_EQ(d.Frames().size(), c.frames);
    if (c.usesAlpha >= 0) {
      EXPECT_EQ(d.buffer->UsesAlpha(), c.usesAlpha);
    }
    for (uint32_t i = 0; i < c.pixels.size(); ++i) EXPECT_EQ(d.Colour(i % c.width, i / c.width), c.pixels[i]) << i;
  }
}

void CheckProbe(pv::Status (*probe)(pv::ByteSource&), const std::vector<std::pair<std::vector<uint8_t>, pv::Status>>& cases) {
  for (const auto& [bytes, expected] : cases) {
    pv::MemorySource source(bytes.data(), static_cast<uint32_t>(bytes.size()));
    EXPECT_EQ(probe(source), expected) << bytes.size() << " bytes";
  }
}

size_t CheckCorpus(const std::string& dir, const CorpusChecks& checks) {
  size_t compared = 0;
  const std::vector<CorpusCase> cases = ReadManifest(dir);
  EXPECT_FALSE(cases.empty()) << dir;
  for (const CorpusCase& c : cases) {
    SCOPED_TRACE(c.file);
    std::vector<uint8_t> rgba;
    uint32_t width = 0, height = 0;
    pv::Status status = pv::kStatusOk;
    const bool decoded = DecodeToRgba(Widen(dir + "/" + c.file), &rgba, &width, &height, &status);
    if (c.expected == "decode") {
      EXPECT_TRUE(decoded) << std::hex << status;
    } else if (c.expected == "reject") {
      EXPECT_FALSE(decoded);
      EXPECT_TRUE(pv::Failed(status));
      if (checks.rejected) checks.rejected(c, status);
    } else {
      EXPECT_EQ(c.expected, "either");
    }
    if (c.reference.empty() || !decoded) continue;
    Pam pam;
    EXPECT_TRUE(ReadPam(dir + "/" + c.reference, &pam));
    EXPECT_EQ(pam.width, width);
    EXPECT_EQ(pam.height, height);
    if (pam.width != width || pam.height != height) continue;
    checks.compare(c, rgba, PamAsRgba(pam));
    ++compared;
  }
  return compared;
}

void CheckCorpusPixels(const char* format, const CorpusCompare& compare, size_t atLeast) {
  const std::string dir = CorpusDir(format);
  if (dir.empty()) GTEST_SKIP() << "no corpus at " PV_CORPUS_DIR "/" << format << ": every case skipped";
  CorpusChecks checks;
  checks.compare = compare ? compare : [](const CorpusCase&, const std::vector<uint8_t>& ours,
                                          const std::vector<uint8_t>& reference) { ExpectSamePixels(ours, reference); };
  EXPECT_GE(CheckCorpus(dir, checks), atLeast);
}

void ExpectSamePixels(const std::vector<uint8_t>& ours, const std::vector<uint8_t>& reference) {
  ASSERT_EQ(ours.size(), reference.size());
  for (size_t i = 0; i < ours.size(); i += 4) {
    if (ours[i + 3] == 0 && reference[i + 3] == 0) continue;
    ASSERT_TRUE(std::memcmp(&ours[i], &reference[i], 4) == 0) << "pixel " << i / 4;
  }
}

TiffTag TiffAscii(uint16_t tag, const std::string& text) {
  TiffTag t{tag, 2, std::vector<uint32_t>(text.begin(), text.end())};
  t.values.push_back(0);
  return t;
}

TiffBuilder::TiffBuilder(bool bigEndian) : big(bigEndian), bytes(8) {
  bytes[0] = bytes[1] = big ? 'M' : 'I';
  Put(2, 42, 2);
}

void TiffBuilder::Put(size_t at, uint32_t v, int n) {
  if (bytes.size() < at + n) bytes.resize(at + n);
  for (int i = 0; i < n; ++i) bytes[at + (big ? n - 1 - i : i)] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t TiffBuilder::Append(const std::vector<uint8_t>& data) {
  bytes.insert(bytes.end(), data.begin(), data.end());
  return static_cast<uint32_t>(bytes.size() - data.size());
}

uint32_t TiffBuilder::Directory(const std::vector<TiffTag>& tags, bool linked) {
  const uint32_t at = static_cast<uint32_t>(bytes.size());
  if (linked) Put(link, at, 4), link = at + 2 + 12 * tags.size();
  Put(at, static_cast<uint32_t>(tags.size()), 2);
  Put(at + 2 + 12 * tags.size(), 0, 4);
  for (size_t i = 0; i < tags.size(); ++i) {
    const TiffTag& t = tags[i];
    const size_t entry = at + 2 + 12 * i;
    const int size = t.type == 3 ? 2 : t.type == 4 || t.type == 5 || t.type == 10 ? 4 : 1;
    const bool pairs = t.type == 5 || t.type == 10;
    Put(entry, t.tag, 2), Put(entry + 2, t.type, 2);
    Put(entry + 4, t.count ? t.count : static_cast<uint32_t>(t.values.size() / (pairs ? 2 : 1)), 4);
    size_t value = entry + 8;
    if (t.values.size() * size > 4) Put(value, static_cast<uint32_t>(bytes.size()), 4), value = bytes.size();
    for (uint32_t v : t.values) Put(value, v, size), value += size;
  }
  return at;
}

}  // namespace pvtest
