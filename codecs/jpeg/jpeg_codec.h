#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>

#include "codecs/jpeg/arithmetic.h"
#include "codecs/jpeg/huffman.h"
#include "codecs/jpeg/jpeg_bit_reader.h"
#include "codecs/jpeg/mcu_writers.h"
#include "core/byte_reader.h"
#include "core/decoder.h"

namespace pv {

// Where JpegCodec::Decode writes, and what it may look at while it works.
struct JpegOutput {
  uint8_t* pixels = nullptr;
  uint32_t bytesPerPixel = 4;  // 1 for one-component frames, else 4
  size_t stride = 0;           // bytes from row to row
  uint32_t rows = 0;           // rows the buffer holds
  bool eighthScale = false;    // one pixel per block: its DC level
  ProgressSink* progress = nullptr;
  const CancelFlag* cancel = nullptr;
};

// Receives the APPn and COM segments that ReadHeader passes on its way to
// the first scan: the marker and exactly the segment's payload.
using JpegSegmentVisitor = std::function<void(uint8_t marker, ByteReader payload)>;

// The JPEG engine: turns a JPEG stream held in memory into 8-bit samples.
// Baseline, extended and progressive DCT processes with Huffman or
// arithmetic coding; 1 to 4 components. Whole MCUs are written, so the
// output covers PaddedWidth x PaddedHeight (an eighth of each in
// eighth-scale mode). Three-component frames come out converted to B, G, R,
// 255 pixels; four-component frames keep their samples for the caller's
// colour conversion (see Model).
class JpegCodec {
 public:
  JpegCodec();
  ~JpegCodec();
  // A copy of a codec whose header was read decodes on its own, so the
  // header is read once however often the image is decoded. (The scan
  // state, pointers into the codec included, is set up by each scan.)
  JpegCodec(const JpegCodec&) = default;
  JpegCodec& operator=(const JpegCodec&) = delete;

  // The stream stays the caller's; it is never copied.
  void SetInput(const uint8_t* data, size_t size);
  // Reads from the SOI through the frame header and the tables after it to
  // the first scan; `visit` sees the application and comment segments.
  Status ReadHeader(const JpegSegmentVisitor& visit = {});
  // Reads a stream of tables alone (SOI, tables, EOI), as containers keep
  // them apart from the streams that use them; the tables stay for the
  // streams given later, also in copies of the codec.
  Status ReadTables();
  // The colour model a container declares for the frame read last, over
  // the frame's own markers.
  void SetModel(ColourModel model) { model_ = model; }
  Status Decode(const JpegOutput& out);

  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }
  uint32_t PaddedWidth() const { return paddedWidth_; }
  uint32_t PaddedHeight() const { return paddedHeight_; }
  uint32_t ComponentCount() const { return componentCount_; }
  bool Progressive() const { return progressive_; }
  bool Arithmetic() const { return arithmetic_; }
  // The colour model of the frame, and after Decode of the samples written:
  // three-component frames are then RGB.
  ColourModel Model() const { return model_; }
  // True when a sequential frame of this size is reconstructed on a worker
  // thread while the calling thread decodes the entropy data.
  bool UsesPipeline(bool eighthScale) const;

 private:
  struct Component {
    uint32_t id = 0, index = 0, h = 1, v = 1, tq = 0, td = 0, ta = 0;
    uint32_t blocksPerMcu = 1, offset = 0;
    uint32_t blocksWide = 0, blocksHigh = 0;  // of the component alone
  };
  enum class ScanKind : uint8_t { Sequential, DcFirst, DcRefine, AcFirst, AcRefine };
  static constexpr int kMarkerError = 256;

  // The next frame marker, SOI, EOI or SOS; tables on the way are read,
  // application and comment segments handed to `visit`.
  int NextMarker(const JpegSegmentVisitor* visit = nullptr);
  bool ReadSegment(ByteReader* payload);
  bool ReadDqt(ByteReader& p);
  bool ReadDht(ByteReader& p);
  bool ReadDac(ByteReader& p);
  bool ReadScanHeader();
  bool ValidateProgressiveScan() const;
  bool StartScan();
  Status PrepareGeometry(const JpegOutput& out);

  // MCU rows per reconstruction task of the pipeline; 0: decode serially.
  uint32_t PipelineBand(bool eighthScale) const;
  // MCU rows per task when reconstruction may be split over the pool (an
  // image large enough to gain from it); 0: one thread.
  uint32_t ParallelBand(bool eighthScale) const;
  Status DecodeStreaming(const JpegOutput& out);
  // One scan into the coefficients of the whole image, blockCoefs apart per block.
  bool DecodeBuffered(const JpegOutput& out, int16_t* coefs, uint32_t blockCoefs);
  void DecodeMcu(int16_t* mcu);
  void DecodeBlock(int16_t* block, uint32_t scanIndex);
  void RestartCheck();
  void ReconstructMcu(int16_t* mcu) const;
  // Reconstructs and writes one MCU row; with `clear` the coefficients are
  // zeroed afterwards for reuse.
  void WriteMcuRow(int16_t* coefs, uint8_t* rowOut, bool clear) const;
  void FinishBand(uint8_t* rowOut, uint32_t rows) const;
  void ReportProgress(const JpegOutput& out, uint32_t done, uint32_t total) const;

  int32_t DecodeDcDifference(const jpeg::HuffmanTable& dc);
  void DecodeSequentialBlock(int16_t* block, uint32_t scanIndex);
  void DecodeDcFirst(int16_t* block, uint32_t scanIndex);
  void DecodeDcRefine(int16_t* block);
  void DecodeAcFirst(int16_t* block, uint32_t scanIndex);
  void DecodeAcRefine(int16_t* block, uint32_t scanIndex);

  ByteReader in_;
  uint32_t width_ = 0, height_ = 0, paddedWidth_ = 0, paddedHeight_ = 0;
  uint32_t hmax_ = 1, vmax_ = 1, componentCount_ = 0;
  ColourModel model_ = ColourModel::Undetermined;
  uint8_t adobeTransform_ = 255;
  Component components_[4];
  alignas(16) uint16_t quant_[4][64] = {};
  bool quantDefined_[4] = {};
  bool arithmetic_ = false, progressive_ = false, headerRead_ = false;

  // Scan state.
  uint32_t ns_ = 0, ss_ = 0, se_ = 63, ah_ = 0, al_ = 0;
  Component* scan_[4] = {};
  ScanKind scanKind_ = ScanKind::Sequential;
  uint32_t mcuBlocks_ = 0;                // blocks of one whole-frame MCU
  uint32_t mcusPerRow_ = 0, mcuRows_ = 0;
  jpeg::McuLayout layout_;
  jpeg::McuWriter writer_ = nullptr;
  bool writerConverts_ = false;

  jpeg::HuffmanTable dcTables_[4], acTables_[4];
  jpeg::BitReader bits_;
  int16_t predictions_[4] = {};
  uint32_t eobrun_ = 0;
  uint32_t restartInterval_ = 0, restartsToGo_ = 0;

  // Arithmetic conditioning from DAC segments, per table number.
  uint8_t dcLower_[16] = {}, dcUpper_[16] = {}, acKx_[16] = {};
  jpeg::ArithmeticDecoder arith_;
};

}  // namespace pv
