#pragma once
#include <cstdint>

#include "core/decoder.h"

namespace pv {

// Windows and OS/2 bitmaps (.bmp, .dib, .rle): uncompressed 1, 4, 8, 16, 24
// and 32 bits, RLE4 and RLE8, and 16- or 32-bit bit fields. Palette images
// come out as Indexed8, all others as Rgba8.
class BmpDecoder final : public ImageDecoder {
 public:
  BmpDecoder(ByteSource& source, const FormatEntry& entry) : ImageDecoder(source, entry) {}

 protected:
  Status ReadHeader(uint32_t options, ImageHeader& header) override;
  Status DecodePixels(ImageBuffer& buffer, bool usePreview, ProgressSink* progress,
                      const CancelFlag* cancel) override;

 private:
  enum class Coding : uint8_t { Plain, Rle8, Rle4, BitFields };

  Status SetUncompressed(uint32_t bits, uint32_t headerSize);
  Status SetBitFields(const ByteReader& r, uint64_t info, uint32_t headerSize, uint32_t bits, ImageHeader& header);
  // Entries the palette gives: the bytes up to the pixel data, clipped to the file.
  uint32_t PaletteEntries(const ByteReader& r, uint32_t bits) const;
  void WritePalette(const ByteReader& r, uint32_t* palette) const;
  const uint8_t* SourceRow(const ByteReader& r, uint32_t fileRow, uint64_t want, uint64_t* got) const;
  bool HasAlpha(const ByteReader& r) const;
  Status DecodeRows(const ByteReader& r, ImageBuffer& buffer, uint32_t alphaMask, ProgressSink* progress,
                    const CancelFlag* cancel);
  Status DecodeRle(const ByteReader& r, ImageBuffer& buffer, ProgressSink* progress, const CancelFlag* cancel);
  uint8_t* BufferRow(ImageBuffer& buffer, uint32_t fileRow) const;

  Coding coding_ = Coding::Plain;
  uint64_t paletteOffset_ = 0;
  uint64_t pixelOffset_ = 0;
  uint32_t masks_[4] = {};  // blue, green, red, alpha
  uint8_t paletteEntrySize_ = 4;
  bool topDown_ = false;
  // 32-bit pixels without an alpha mask: the pixels say whether byte 3 is alpha.
  bool inspectAlpha_ = false;
};

// 0 when the source starts like a bitmap (after an optional OS/2 array header).
Status ProbeBmp(ByteSource& source);
ImageDecoder* CreateBmpDecoder(ByteSource& source, const FormatEntry& entry);
// Fills in the functions of the bmp, dib and rle entries.
void RegisterBmpDecoder();

}  // namespace pv
