#pragma once
#include <cstdint>
#include <vector>

#include "codecs/tiff/tiff_strips.h"
#include "core/decoder.h"
#include "metadata/tiff_structure.h"

namespace pv {

class FaxDecoder;
class JpegCodec;

// TIFF (.tif, .tiff): one decoder per page, the later pages chained behind
// the first. Strips or tiles, chunky or planar, uncompressed, PackBits,
// LZW, deflate, CCITT fax, JPEG (old and new style) and SGI LogLuv; 1 to
// 16-bit integer and 16 to 32-bit floating-point samples.
class TiffDecoder final : public ImageDecoder {
 public:
  TiffDecoder(ByteSource& source, const FormatEntry& entry) : ImageDecoder(source, entry) {}

 protected:
  Status ReadHeader(uint32_t options, ImageHeader& header) override;
  Status DecodePixels(ImageBuffer& buffer, bool usePreview, ProgressSink* progress,
                      const CancelFlag* cancel) override;

 private:
  // One strip or tile: where it lies in the image and in which plane, and
  // the size its data is stored at (edge tiles keep their whole size).
  struct Piece {
    uint32_t index = 0, plane = 0, x = 0, y = 0, width = 0, rows = 0;
    uint32_t stride = 0, storedRows = 0;
  };

  // Reads the directory at `offset` into this decoder and `header`; *next
  // gets the offset of the following directory (0: none).
  Status ReadPage(const TiffStructure& tiff, uint32_t offset, ImageHeader& header, uint32_t* next);
  Status ReadEntry(const TiffStructure& tiff, const TiffEntry& e);
  void ReadMetadata(const TiffStructure& tiff, const TiffEntry& e);
  Status ChooseFormat(ImageHeader& h);
  void SetResolution();

  // The piece's compressed bytes, clipped to the file; false when it has none.
  bool PieceData(const Piece& p, uint64_t unpacked, ByteReader* data) const;
  Status DecodePiece(ImageBuffer& buffer, const Piece& p, uint8_t* work, FaxDecoder* fax, const JpegCodec* tables);
  Status DecodeJpegPiece(ImageBuffer& buffer, const Piece& p, const ByteReader& data, const JpegCodec& tables);
  void WriteRows(ImageBuffer& buffer, const Piece& p, const uint8_t* rows, uint32_t count, uint64_t rowBytes);
  void FillPiece(ImageBuffer& buffer, const Piece& p, uint32_t firstRow);

  TiffStructure tiff_;
  uint32_t width_ = 0, height_ = 0;
  uint32_t compression_ = 1, photometric_ = 1, rowsPerStrip_ = 0, bitsPerSample_ = 1, samples_ = 1;
  uint32_t planar_ = 1, predictor_ = 1, sampleFormat_ = 1, extraSamples_ = 2;
  uint32_t subsampleH_ = 2, subsampleV_ = 2;
  uint32_t resolutionUnit_ = 2, xResolution_ = 0, yResolution_ = 0;
  uint32_t tileWidth_ = 0, tileLength_ = 0;
  uint32_t faxOptions_ = 0;
  bool reversed_ = false, tiled_ = false;
  bool hasOffsets_ = false, hasCounts_ = false, hasColorMap_ = false, hasTables_ = false;
  TiffEntry offsets_, counts_, colorMap_;
  uint64_t tablesAt_ = 0, tablesLength_ = 0;
  uint32_t jpegStreamAt_ = 0, jpegStreamLength_ = 0;
  ColourModel model_ = ColourModel::L;
  SampleLayout layout_;
};

// 0 when the source starts with "II" and 42 or "MM" and 42.
Status ProbeTiff(ByteSource& source);
ImageDecoder* CreateTiffDecoder(ByteSource& source, const FormatEntry& entry);
// Fills in the functions of the tif and tiff entries.
void RegisterTiffDecoder();

}  // namespace pv
