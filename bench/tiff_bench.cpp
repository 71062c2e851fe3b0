// TIFF: our decoder against libtiff on the same bytes in memory. libtiff is
// timed two ways, decoding the strips or tiles alone and producing RGBA
// pixels; the faster of the two is the reference.
#include <tiffio.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "codecs/tiff/tiff_decoder.h"
#include "core/decoder.h"
#include "core/format_registry.h"
#include "core/pixel_convert.h"

namespace {

pv::Ref<pv::ImageBuffer> DecodeOurs(const std::vector<uint8_t>& file) {
  pv::Ref<pv::ByteSource> source(new pv::MemorySource(file.data(), static_cast<uint32_t>(file.size())));
  pv::Ref<pv::ImageDecoder> decoder(pv::CreateTiffDecoder(*source, *pv::FindFormatEntry(L"tif")));
  pv::Ref<pv::ImageBuffer> buffer;
  if (pv::Failed(decoder->Open(0)) || pv::Failed(pv::CreateBufferFor(*decoder, false, false, &buffer)) ||
      pv::Failed(decoder->Decode(*buffer, false, nullptr, nullptr)))
    return {};
  return buffer;
}

// libtiff reads from memory through these.
struct Cursor {
  const std::vector<uint8_t>* file;
  toff_t pos;
};
tsize_t Read(thandle_t h, tdata_t out, tsize_t n) {
  auto* c = static_cast<Cursor*>(h);
  const toff_t size = c->file->size();
  const tsize_t got = c->pos >= size ? 0 : static_cast<tsize_t>(std::min<toff_t>(n, size - c->pos));
  std::memcpy(out, c->file->data() + c->pos, got);
  c->pos += got;
  return got;
}
tsize_t Write(thandle_t, tdata_t, tsize_t) { return 0; }
toff_t Seek(thandle_t h, toff_t off, int whence) {
  auto* c = static_cast<Cursor*>(h);
  c->pos = whence == SEEK_SET ? off : whence == SEEK_CUR ? c->pos + off : c->file->size() + off;
  return c->pos;
}
int Close(thandle_t) { return 0; }
toff_t Size(thandle_t h) { return static_cast<Cursor*>(h)->file->size(); }

TIFF* Open(Cursor* cursor) {
  return TIFFClientOpen("memory", "r", cursor, Read, Write, Seek, Close, Size, nullptr, nullptr);
}

// Every strip or tile decoded into one buffer, as the file stores the samples.
size_t LibtiffStrips(const std::vector<uint8_t>& file) {
  Cursor cursor{&file, 0};
  TIFF* tif = Open(&cursor);
  if (!tif) return 0;
  const bool tiled = TIFFIsTiled(tif);
  const tmsize_t pieceSize = tiled ? TIFFTileSize(tif) : TIFFStripSize(tif);
  const uint32_t pieces = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  std::vector<uint8_t> out(static_cast<size_t>(pieceSize) * pieces);
  size_t total = 0;
  for (uint32_t i = 0; i < pieces; ++i) {
    const tmsize_t n = tiled ? TIFFReadEncodedTile(tif, i, out.data() + i * pieceSize, pieceSize)
                             : TIFFReadEncodedStrip(tif, i, out.data() + i * pieceSize, pieceSize);
    if (n > 0) total += static_cast<size_t>(n);
  }
  TIFFClose(tif);
  return total;
}

// Top-down B, G, R, A rows from libtiff's RGBA interface.
std::vector<uint8_t> LibtiffRgba(const std::vector<uint8_t>& file) {
  Cursor cursor{&file, 0};
  TIFF* tif = Open(&cursor);
  if (!tif) return {};
  uint32_t w = 0, h = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  std::vector<uint32_t> abgr(size_t{w} * h);
  std::vector<uint8_t> out;
  if (TIFFReadRGBAImageOriented(tif, w, h, abgr.data(), ORIENTATION_TOPLEFT, 0)) {
    out.resize(abgr.size() * 4);
    for (size_t i = 0; i < abgr.size(); ++i) {
      out[4 * i] = static_cast<uint8_t>(TIFFGetB(abgr[i]));
      out[4 * i + 1] = static_cast<uint8_t>(TIFFGetG(abgr[i]));
      out[4 * i + 2] = static_cast<uint8_t>(TIFFGetR(abgr[i]));
      out[4 * i + 3] = static_cast<uint8_t>(TIFFGetA(abgr[i]));
    }
  }
  TIFFClose(tif);
  return out;
}

int Run(const std::vector<std::string>& inputs) {
  TIFFSetWarningHandler(nullptr);
  std::printf("file\tours_ms\tlibtiff_ms\tratio\tpsnr\n");
  for (const std::string& path : inputs) {
    const std::vector<uint8_t> file = pvbench::ReadFile(path);
    pv::Ref<pv::ImageBuffer> ours = DecodeOurs(file);
    const std::vector<uint8_t> reference = LibtiffRgba(file);
    if (!ours || reference.empty()) {
      std::fprintf(stderr, "%s: not decoded\n", path.c_str());
      continue;
    }
    const double psnr = pvbench::Psnr(pvbench::AsBgra(*ours), reference);
    const int runs = 11;
    const pvbench::Timing strips = pvbench::MeasurePair([&] { DecodeOurs(file); }, [&] { LibtiffStrips(file); }, runs);
    const pvbench::Timing rgba = pvbench::MeasurePair([&] { DecodeOurs(file); }, [&] { LibtiffRgba(file); }, runs);
    const pvbench::Timing& best = strips.referenceSeconds < rgba.referenceSeconds ? strips : rgba;
    pvbench::PrintRow(path, best, {pvbench::PsnrText(psnr)});
  }
  return 0;
}

const bool kRegistered = pvbench::RegisterSuite("tiff", "FILE.tif... (against libtiff)", Run);

}  // namespace
