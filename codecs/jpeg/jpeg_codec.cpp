#include "codecs/jpeg/jpeg_codec.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>

#include "codecs/jpeg/idct.h"
#include "codecs/jpeg/jpeg_markers.h"
#include "codecs/jpeg/zigzag.h"
#include "core/checked_math.h"
#include "core/image_buffer.h"
#include "core/row_helpers.h"
#include "core/task_group.h"

namespace pv {

namespace {

using namespace jpeg;

// Coefficient memory, 16-byte aligned, zero-filled. calloc leaves the
// zeroing of fresh pages to the system instead of writing them twice.
struct CoefficientBuffer {
  struct Free {
    void operator()(void* p) const { std::free(p); }
  };
  std::unique_ptr<void, Free> storage;
  int16_t* data = nullptr;
  size_t bytes = 0;
  bool Allocate(uint64_t blocks) {
    if (blocks > (uint64_t{1} << 28)) return false;
    bytes = static_cast<size_t>(blocks * 64 + 8) * sizeof(int16_t);
    storage.reset(std::calloc(bytes, 1));
    if (!storage) return false;
    const uintptr_t address = reinterpret_cast<uintptr_t>(storage.get());
    data = static_cast<int16_t*>(storage.get()) + ((16 - (address & 15)) & 15) / 2;
    return true;
  }
};

// In place to B, G, R, 255 for frames coded as R, G, B.
void RgbToBgra(uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i, p += 4) {
    std::swap(p[0], p[2]);
    p[3] = 255;
  }
}

int16_t Wrap16(int32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }

// Gives a block its memory a megabyte at a time (from its far end when
// backwards), until the group that runs this is cancelled.
void PopulateInSteps(void* block, size_t bytes, bool backwards, const TaskGroup& group) {
  constexpr uintptr_t kStep = uintptr_t{1} << 20;
  const uintptr_t first = reinterpret_cast<uintptr_t>(block), last = first + bytes;
  for (uintptr_t done = 0; done < bytes && !group.IsCancelled();) {
    // Steps end on megabyte boundaries, so no page falls between two steps.
    uintptr_t begin, end;
    if (backwards) {
      end = last - done;
      begin = std::max(first, (end - 1) & ~(kStep - 1));
    } else {
      begin = first + done;
      end = std::min(last, (begin + kStep) & ~(kStep - 1));
    }
    PopulateBlock(reinterpret_cast<void*>(begin), end - begin);
    done += end - begin;
  }
}

}  // namespace

JpegCodec::JpegCodec() = default;
JpegCodec::~JpegCodec() = default;

void JpegCodec::SetInput(const uint8_t* data, size_t size) { in_ = ByteReader(data, size); }

bool JpegCodec::ReadSegment(ByteReader* payload) {
  uint16_t length = 0;
  // The length counts its own two bytes.
  return in_.U16BE(length) && length >= 2 && in_.TakeSub(length - 2u, payload);
}

bool JpegCodec::ReadDqt(ByteReader& p) {
  while (!p.AtEnd()) {
    uint8_t pqtq = 0;
    p.U8(pqtq);
    const uint32_t tq = pqtq & 15;
    if (tq >= 4) return false;
    const bool wide = (pqtq >> 4) != 0;
    for (int i = 0; i < 64; ++i) {
      uint16_t v = 0;
      uint8_t b = 0;
      if (wide ? !p.U16BE(v) : !p.U8(b)) return false;
      quant_[tq][jpeg::kZigzag[i]] = wide ? v : b;
    }
    quantDefined_[tq] = true;
  }
  return true;
}

bool JpegCodec::ReadDht(ByteReader& p) {
  while (!p.AtEnd()) {
    uint8_t tcth = 0;
    p.U8(tcth);
    const uint32_t th = tcth & 15;
    if (th >= 4) return false;
    const uint8_t* bits = p.Take(16);
    if (!bits) return false;
    uint32_t total = 0;
    for (int i = 0; i < 16; ++i) total += bits[i];
    if (total > 256) return false;
    const uint8_t* values = p.Take(total);
    if (!values) return false;
    jpeg::HuffmanTable& table = (tcth & 0x10) ? acTables_[th] : dcTables_[th];
    if (!table.Define(bits, values)) return false;
  }
  return true;
}

bool JpegCodec::ReadDac(ByteReader& p) {
  while (!p.AtEnd()) {
    uint8_t tctb = 0, cs = 0;
    if (!p.U8(tctb) || !p.U8(cs)) return false;
    if (tctb <= 15) {
      if ((cs & 15) > (cs >> 4)) return false;
      dcLower_[tctb] = cs & 15;
      dcUpper_[tctb] = cs >> 4;
    } else if (tctb <= 31) {
      if (cs < 1 || cs > 63) return false;
      acKx_[tctb - 16] = cs;
    } else {
      return false;
    }
  }
  return true;
}

int JpegCodec::NextMarker(const JpegSegmentVisitor* visit) {
  for (;;) {
    // Entropy-coded data (a skipped scan's too) up to the next FF in one search.
    const void* ff =
        in_.AtEnd() ? nullptr : std::memchr(in_.Data() + in_.Offset(), 0xFF, static_cast<size_t>(in_.Remaining()));
    if (!ff) {
      in_.Seek(in_.Size());
      return kEoi;
    }
    in_.Seek(static_cast<uint64_t>(static_cast<const uint8_t*>(ff) - in_.Data()) + 1);
    uint8_t b = 0xFF;
    do {
      if (!in_.U8(b)) return kEoi;
    } while (b == 0xFF);
    // A zero after FF is a stuffed byte of entropy data.
    if (b == 0x00 || IsStandalone(b)) continue;
    if (IsFrameMarker(b) || b == kSoi || b == kEoi) return b;
    // A segment that the end of the data cuts short ends the stream, so a
    // truncated file keeps what its complete scans gave.
    uint16_t length = 0;
    if (!in_.U16BEAt(in_.Offset(), length) || (length >= 2 && length > in_.Remaining())) return kEoi;
    if (b == kSos) return b;
    ByteReader payload;
    if (!ReadSegment(&payload)) return kMarkerError;
    switch (b) {
      case kDht:
        if (!ReadDht(payload)) return kMarkerError;
        break;
      case kDqt:
        if (!ReadDqt(payload)) return kMarkerError;
        break;
      case kDac:
        if (!ReadDac(payload)) return kMarkerError;
        break;
      case kDri: {
        uint16_t interval = 0;
        if (payload.Size() != 2 || !payload.U16BE(interval)) return kMarkerError;
        restartInterval_ = interval;
        break;
      }
      case kDnl:
        break;
      default:
        if ((b < kApp0 || b > kApp15) && b != kCom) return kMarkerError;
        // The Adobe segment's transform byte (at 11) tells how the colours are coded.
        if (b == kApp14 && payload.Size() >= 12 && payload.StartsWith("Adobe", 5)) payload.U8At(11, adobeTransform_);
        if (visit && *visit) (*visit)(b, payload);
    }
  }
}

Status JpegCodec::ReadTables() {
  uint8_t a = 0, b = 0;
  if (!in_.U8(a) || !in_.U8(b) || a != 0xFF || b != kSoi) return kStatusDamaged;
  const int marker = NextMarker();
  return marker == kEoi ? kStatusOk : marker == kMarkerError ? kStatusDamaged : kStatusUnsupported;
}

Status JpegCodec::ReadHeader(const JpegSegmentVisitor& visit) {
  uint8_t a = 0, b = 0;
  if (!in_.U8(a) || !in_.U8(b) || a != 0xFF || b != kSoi) return kStatusDamaged;
  for (int i = 0; i < 16; ++i) dcLower_[i] = 0, dcUpper_[i] = 1, acKx_[i] = 5;
  restartInterval_ = 0;
  componentCount_ = 0;
  model_ = ColourModel::Undetermined;
  adobeTransform_ = 255;
  switch (NextMarker(&visit)) {
    case kSof0:
    case kSof1:
      break;
    case kSof2:
      progressive_ = true;
      break;
    case kSof9:
      arithmetic_ = true;
      break;
    case kSof10:
      arithmetic_ = progressive_ = true;
      break;
    case kMarkerError:
    case kEoi:
    case kSos:
      // A bad table, or no frame header before the scans or the end.
      return kStatusDamaged;
    default:
      // Lossless, hierarchical (differential) and the reserved frame types.
      return kStatusUnsupported;
  }
  ByteReader p;
  uint8_t precision = 0, nf = 0;
  uint16_t height = 0, width = 0;
  if (!ReadSegment(&p) || !p.U8(precision) || !p.U16BE(height) || !p.U16BE(width) || !p.U8(nf)) {
    return kStatusDamaged;
  }
  if (height == 0 || width == 0 || nf == 0 || precision != 8 || p.Size() != 6 + 3u * nf) return kStatusDamaged;
  // The component records hold four; more only reach us through TIFF.
  if (nf > 4) return kStatusUnsupported;
  hmax_ = vmax_ = 1;
  for (uint32_t i = 0; i < nf; ++i) {
    uint8_t id = 0, hv = 0, tq = 0;
    p.U8(id), p.U8(hv), p.U8(tq);
    Component& c = components_[i];
    c = Component{};
    c.id = id;
    c.index = i;
    c.h = nf == 1 ? 1 : hv >> 4;
    c.v = nf == 1 ? 1 : hv & 15;
    c.tq = tq;
    if (c.h < 1 || c.h > 4 || c.v < 1 || c.v > 4 || tq >= 4) return kStatusDamaged;
    hmax_ = std::max(hmax_, c.h);
    vmax_ = std::max(vmax_, c.v);
  }
  // A size past the image limits is refused before anything else is read.
  if (!IsSaneImageSize(width, height)) return kStatusUnsupported;
  componentCount_ = nf;
  width_ = width;
  height_ = height;
  paddedWidth_ = (width_ + 8 * hmax_ - 1) / (8 * hmax_) * (8 * hmax_);
  paddedHeight_ = (height_ + 8 * vmax_ - 1) / (8 * vmax_) * (8 * vmax_);
  const Component* c = components_;
  if (nf == 1) {
    model_ = ColourModel::L;
  } else if (nf == 3) {
    if (adobeTransform_ == 0) model_ = ColourModel::Rgb;
    else if (adobeTransform_ == 1) model_ = ColourModel::YCbCr;
    else model_ = c[0].id == 'R' && c[1].id == 'G' && c[2].id == 'B' ? ColourModel::Rgb : ColourModel::YCbCr;
  } else if (nf == 4) {
    if (adobeTransform_ == 0) model_ = ColourModel::Cmyl;
    else if (adobeTransform_ == 2) model_ = ColourModel::Ycck;
    else model_ = c[0].id == 'C' && c[1].id == 'M' && c[2].id == 'Y' && c[3].id == 'K' ? ColourModel::Cmyl
                                                                                          : ColourModel::Cmyk;
  }
  // Tables and metadata may follow the frame header; the first scan ends
  // the header, and Decode starts at its marker (the FF before the SOS).
  if (NextMarker(&visit) != kSos) return kStatusDamaged;
  in_.Seek(in_.Offset() - 2);
  headerRead_ = true;
  return kStatusOk;
}

bool JpegCodec::ReadScanHeader() {
  ByteReader p;
  uint8_t ns = 0;
  if (!ReadSegment(&p) || !p.U8(ns) || ns < 1 || ns > 4 || p.Size() < 4 + 2u * ns) return false;
  bool used[4] = {};
  for (uint32_t i = 0; i < ns; ++i) {
    uint8_t selector = 0, tables = 0;
    p.U8(selector), p.U8(tables);
    Component* match = nullptr;
    for (uint32_t k = 0; k < componentCount_ && !match; ++k) {
      if (components_[k].id == selector && !used[k]) match = &components_[k];
    }
    if (!match) return false;
    used[match->index] = true;
    match->td = tables >> 4;
    match->ta = tables & 15;
    scan_[i] = match;
  }
  uint8_t ss = 0, se = 0, ahal = 0;
  p.U8(ss), p.U8(se), p.U8(ahal);
  ns_ = ns;
  ss_ = ss;
  se_ = se;
  ah_ = ahal >> 4;
  al_ = ahal & 15;
  return true;
}

bool JpegCodec::ValidateProgressiveScan() const {
  if (ss_ != 0) {
    if (ss_ > se_ || se_ >= 64 || ns_ != 1) return false;
  } else if (se_ != 0) {
    return false;
  }
  if (ah_ != 0 && al_ != ah_ - 1) return false;
  return al_ < 14;
}

bool JpegCodec::StartScan() {
  uint32_t blocks = 0;
  for (uint32_t i = 0; i < ns_; ++i) {
    const Component& c = *scan_[i];
    if (!quantDefined_[c.tq]) return false;
    blocks += ns_ == 1 ? 1 : c.blocksPerMcu;
  }
  if (blocks > 24) return false;
  if (progressive_) {
    if (ss_ == 0) scanKind_ = ah_ == 0 ? ScanKind::DcFirst : ScanKind::DcRefine;
    else scanKind_ = ah_ == 0 ? ScanKind::AcFirst : ScanKind::AcRefine;
  } else {
    scanKind_ = ScanKind::Sequential;
  }
  const bool needDc = scanKind_ == ScanKind::Sequential || scanKind_ == ScanKind::DcFirst;
  const bool needAc = scanKind_ != ScanKind::DcFirst && scanKind_ != ScanKind::DcRefine;
  if (arithmetic_) {
    jpeg::ArithmeticScan scan;
    scan.components = ns_;
    for (uint32_t i = 0; i < ns_; ++i) {
      if (scan_[i]->td >= 16 || scan_[i]->ta >= 16) return false;
      scan.dcTable[i] = scan_[i]->td;
      scan.acTable[i] = scan_[i]->ta;
    }
    scan.ss = ss_;
    scan.se = se_;
    scan.al = al_;
    scan.resetDc = !progressive_ || (ss_ == 0 && ah_ == 0);
    scan.resetAc = !progressive_ || ss_ != 0;
    scan.dcLower = dcLower_;
    scan.dcUpper = dcUpper_;
    scan.acKx = acKx_;
    arith_.StartScan(in_.Data() + in_.Offset(), in_.Data() + in_.Size(), scan);
  } else {
    for (uint32_t i = 0; i < ns_; ++i) {
      Component& c = *scan_[i];
      if (c.td >= 4 || c.ta >= 4) return false;
      for (int pass = 0; pass < 2; ++pass) {
        const bool dc = pass == 0;
        if (dc ? !needDc : !needAc) continue;
        jpeg::HuffmanTable& t = dc ? dcTables_[c.td] : acTables_[c.ta];
        const uint32_t number = dc ? c.td : c.ta;
        // Streams without DHT (motion-JPEG frames) rely on the typical tables.
        if (!t.Defined() && number < 2) t.SetDefault(dc, static_cast<int>(number));
        if (!t.Defined()) return false;
        t.Derive(dc);
      }
    }
  }
  std::memset(predictions_, 0, sizeof predictions_);
  eobrun_ = 0;
  restartsToGo_ = restartInterval_;
  bits_.Reset(in_.Data() + in_.Offset(), in_.Data() + in_.Size());
  return true;
}

uint32_t JpegCodec::PipelineBand(bool eighthScale) const { return progressive_ ? 0 : ParallelBand(eighthScale); }

uint32_t JpegCodec::ParallelBand(bool eighthScale) const {
  if (eighthScale || !headerRead_ || ParallelNesting.load(std::memory_order_relaxed) != 0) return 0;
  // A task of about a millisecond's work (a quarter of a megapixel) costs
  // two thread wake-ups of about 0.1 ms; with fewer than four such tasks
  // the rows that cannot overlap (the first band's decoding, the last
  // band's writing) eat the gain, and the image is decoded serially.
  constexpr uint64_t kBandPixels = 1 << 18, kMinBands = 4;
  const uint64_t rowPixels = uint64_t{paddedWidth_} * 8 * vmax_;
  const uint64_t rows = (kBandPixels + rowPixels - 1) / rowPixels;
  const uint64_t mcuRows = paddedHeight_ / (8 * vmax_);
  return mcuRows >= kMinBands * rows ? static_cast<uint32_t>(rows) : 0;
}

bool JpegCodec::UsesPipeline(bool eighthScale) const { return PipelineBand(eighthScale) != 0; }

Status JpegCodec::PrepareGeometry(const JpegOutput& out) {
  if (!headerRead_) return kStatusDamaged;
  mcuBlocks_ = 0;
  for (uint32_t k = 0; k < componentCount_; ++k) {
    Component& c = components_[k];
    if (hmax_ % c.h || vmax_ % c.v) return kStatusUnsupported;
    c.blocksPerMcu = c.h * c.v;
    c.offset = mcuBlocks_;
    mcuBlocks_ += c.blocksPerMcu;
    c.blocksWide = ((width_ * c.h + hmax_ - 1) / hmax_ + 7) / 8;
    c.blocksHigh = ((height_ * c.v + vmax_ - 1) / vmax_ + 7) / 8;
    layout_.h[k] = c.h;
    layout_.v[k] = c.v;
    layout_.offset[k] = c.offset;
  }
  if (mcuBlocks_ > 24) return kStatusUnsupported;
  mcusPerRow_ = paddedWidth_ / (8 * hmax_);
  mcuRows_ = paddedHeight_ / (8 * vmax_);
  const uint32_t scale = out.eighthScale ? 8 : 1;
  const uint64_t needBytes = uint64_t{paddedWidth_ / scale} * out.bytesPerPixel;
  if (!out.pixels || (out.bytesPerPixel != 1 && out.bytesPerPixel != 4) || out.stride < needBytes ||
      out.rows < paddedHeight_ / scale) {
    return kStatusSizeMismatch;
  }
  layout_.components = componentCount_;
  layout_.hmax = hmax_;
  layout_.vmax = vmax_;
  layout_.bytesPerPixel = out.bytesPerPixel;
  layout_.stride = out.stride;
  layout_.eighthScale = out.eighthScale;
  layout_.ycc = componentCount_ == 3 && out.bytesPerPixel == 4 && model_ != ColourModel::Rgb;
  const jpeg::WriterChoice choice = jpeg::ChooseMcuWriter(layout_);
  writer_ = choice.write;
  writerConverts_ = choice.convertsColour;
  return kStatusOk;
}

void JpegCodec::ReportProgress(const JpegOutput& out, uint32_t done, uint32_t total) const {
  if (out.progress) out.progress->Progress(static_cast<int32_t>(done), static_cast<int32_t>(total));
}

void JpegCodec::RestartCheck() {
  if (restartInterval_ == 0) return;
  if (restartsToGo_ == 0) {
    if (arithmetic_) arith_.Restart();
    else bits_.SkipToNextMarker();
    std::memset(predictions_, 0, sizeof predictions_);
    eobrun_ = 0;
    restartsToGo_ = restartInterval_;
  }
  --restartsToGo_;
}

int32_t JpegCodec::DecodeDcDifference(const jpeg::HuffmanTable& dc) {
  jpeg::BitReader& r = bits_;
  if (r.Available() < 16) r.Fill();
  const uint32_t e = dc.Fast(r.Peek(jpeg::HuffmanTable::kLookBits));
  if (e && jpeg::DcFast::Used(e) <= static_cast<uint32_t>(r.Available())) {
    r.Consume(static_cast<int>(jpeg::DcFast::Used(e)));
    return jpeg::DcFast::Difference(e);
  }
  int s = dc.Decode(r);
  if (s > 16) s = 0;
  return jpeg::Extend(r.Bits(s), s);
}

void JpegCodec::DecodeSequentialBlock(int16_t* block, uint32_t scanIndex) {
  using jpeg::AcFast;
  if (arithmetic_) return arith_.DecodeSequential(block, scanIndex);
  const Component& c = *scan_[scanIndex];
  jpeg::BitReader& r = bits_;
  predictions_[scanIndex] = Wrap16(predictions_[scanIndex] + DecodeDcDifference(dcTables_[c.td]));
  block[0] = predictions_[scanIndex];
  // The block is zero, so storing zeros (for a run of 16, or at the end)
  // changes nothing; eighth-scale decoding stores the values it does not
  // need rather than branch on them.
  const jpeg::HuffmanTable& ac = acTables_[c.ta];
  for (uint32_t k = 1; k < 64;) {
    if (r.Available() < 16) r.Fill();
    const uint32_t e = ac.Fast(r.Peek(jpeg::HuffmanTable::kLookBits));
    if (e && AcFast::UsedBoth(e) <= static_cast<uint32_t>(r.Available())) {
      const uint32_t p1 = k + AcFast::Run1(e);
      if (p1 >= 63 && AcFast::UsedBoth(e) != AcFast::Used1(e)) {
        // The block is full after the first symbol; the second is the next block's.
        r.Consume(static_cast<int>(AcFast::Used1(e)));
        block[jpeg::kZigzag[p1]] = static_cast<int16_t>(AcFast::Value1(e));
        break;
      }
      r.Consume(static_cast<int>(AcFast::UsedBoth(e)));
      const uint32_t p2 = p1 + AcFast::Advance2(e);
      block[jpeg::kZigzag[p2]] = static_cast<int16_t>(AcFast::Value2(e));
      block[jpeg::kZigzag[p1]] = static_cast<int16_t>(AcFast::Value1(e));
      if (AcFast::Ends(e)) break;
      k = p2 + 1;
      continue;
    }
    const int rs = ac.Decode(r);
    const int run = rs >> 4, size = rs & 15;
    if (size) {
      k += run;
      block[jpeg::kZigzag[k]] = Wrap16(jpeg::Extend(r.Bits(size), size));
      ++k;
    } else if (run == 15) {
      k += 16;
    } else {
      break;
    }
  }
}

void JpegCodec::DecodeDcFirst(int16_t* block, uint32_t scanIndex) {
  const int32_t diff = DecodeDcDifference(dcTables_[scan_[scanIndex]->td]);
  predictions_[scanIndex] = Wrap16(predictions_[scanIndex] + diff);
  block[0] = Wrap16(static_cast<int32_t>(static_cast<uint32_t>(predictions_[scanIndex]) << al_));
}

void JpegCodec::DecodeDcRefine(int16_t* block) {
  if (bits_.Bit()) block[0] = Wrap16(block[0] | (1 << al_));
}

void JpegCodec::DecodeAcFirst(int16_t* block, uint32_t scanIndex) {
  if (eobrun_ > 0) {
    --eobrun_;
    return;
  }
  const jpeg::HuffmanTable& ac = acTables_[scan_[scanIndex]->ta];
  for (uint32_t k = ss_; k <= se_; ++k) {
    if (bits_.Available() < 16) bits_.Fill();
    // Only the first symbol of a fast entry, and only a coefficient: runs
    // and ends of band differ here from sequential scans.
    const uint32_t e = ac.Fast(bits_.Peek(jpeg::HuffmanTable::kLookBits));
    const int32_t value = jpeg::AcFast::Value1(e);
    if (value != 0 && jpeg::AcFast::Used1(e) <= static_cast<uint32_t>(bits_.Available())) {
      bits_.Consume(static_cast<int>(jpeg::AcFast::Used1(e)));
      k = std::min<uint32_t>(k + jpeg::AcFast::Run1(e), 63);
      block[jpeg::kZigzag[k]] = Wrap16(static_cast<int32_t>(static_cast<uint32_t>(value) << al_));
      continue;
    }
    const int rs = ac.Decode(bits_);
    const int r = rs >> 4, s = rs & 15;
    if (s) {
      k += r;
      if (k > 63) k = 63;
      block[jpeg::kZigzag[k]] = Wrap16(static_cast<int32_t>(static_cast<uint32_t>(jpeg::Extend(bits_.Bits(s), s)) << al_));
    } else if (r == 15) {
      k += 15;
    } else {
      eobrun_ = (1u << r) - 1;
      if (r) eobrun_ += bits_.Bits(r);
      break;
    }
  }
}

void JpegCodec::DecodeAcRefine(int16_t* block, uint32_t scanIndex) {
  const int32_t p1 = 1 << al_, m1 = -p1;
  const jpeg::HuffmanTable& ac = acTables_[scan_[scanIndex]->ta];
  auto refine = [&](int16_t& coef) {
    if (bits_.Bit() && (coef & p1) == 0) coef = Wrap16(coef + (coef >= 0 ? p1 : m1));
  };
  uint32_t k = ss_;
  if (eobrun_ == 0) {
    for (; k <= se_; ++k) {
      const int rs = ac.Decode(bits_);
      int r = rs >> 4;
      const int s = rs & 15;
      int32_t value = 0;
      if (s) {
        value = bits_.Bit() ? p1 : m1;
      } else if (r != 15) {
        eobrun_ = 1u << r;
        if (r) eobrun_ += bits_.Bits(r);
        break;
      }
      // Skip r zero coefficients (refining the non-zero ones met on the way),
      // then place the new value.
      for (; k <= se_; ++k) {
        int16_t& coef = block[jpeg::kZigzag[k]];
        if (coef != 0) {
          refine(coef);
        } else if (--r < 0) {
          break;
        }
      }
      if (value) block[jpeg::kZigzag[std::min<uint32_t>(k, 63)]] = static_cast<int16_t>(value);
    }
  }
  if (eobrun_ > 0) {
    for (; k <= se_; ++k) {
      int16_t& coef = block[jpeg::kZigzag[k]];
      if (coef != 0) refine(coef);
    }
    --eobrun_;
  }
}

void JpegCodec::DecodeBlock(int16_t* block, uint32_t scanIndex) {
  if (arithmetic_) {
    switch (scanKind_) {
      case ScanKind::Sequential:
        std::memset(block, 0, 128);
        return arith_.DecodeSequential(block, scanIndex);
      case ScanKind::DcFirst:
        return arith_.DecodeDcFirst(block, scanIndex);
      case ScanKind::DcRefine:
        return arith_.DecodeDcRefine(block);
      case ScanKind::AcFirst:
        return arith_.DecodeAcFirst(block, scanIndex);
      case ScanKind::AcRefine:
        return arith_.DecodeAcRefine(block, scanIndex);
    }
  }
  switch (scanKind_) {
    case ScanKind::Sequential:
      std::memset(block, 0, 128);
      DecodeSequentialBlock(block, scanIndex);
      break;
    case ScanKind::DcFirst:
      DecodeDcFirst(block, scanIndex);
      break;
    case ScanKind::DcRefine:
      DecodeDcRefine(block);
      break;
    case ScanKind::AcFirst:
      DecodeAcFirst(block, scanIndex);
      break;
    case ScanKind::AcRefine:
      DecodeAcRefine(block, scanIndex);
      break;
  }
}

void JpegCodec::DecodeMcu(int16_t* mcu) {
  RestartCheck();
  for (uint32_t i = 0; i < ns_; ++i) {
    const Component& c = *scan_[i];
    for (uint32_t b = 0; b < c.blocksPerMcu; ++b) DecodeSequentialBlock(mcu + (c.offset + b) * 64, i);
  }
}

void JpegCodec::ReconstructMcu(int16_t* mcu) const {
  for (uint32_t k = 0; k < componentCount_; ++k) {
    const Component& c = components_[k];
    const uint16_t* q = quant_[c.tq];
    for (uint32_t b = 0; b < c.blocksPerMcu; ++b) {
      int16_t* block = mcu + (c.offset + b) * 64;
      uint8_t* samples = reinterpret_cast<uint8_t*>(block);
      if (layout_.eighthScale) {
        samples[0] = jpeg::DcOnlySample(block[0], q[0]);
      } else {
        jpeg::IdctBlock(block, q, samples);
      }
    }
  }
}

void JpegCodec::FinishBand(uint8_t* rowOut, uint32_t rows) const {
  if (layout_.bytesPerPixel != 4 || componentCount_ != 3 || writerConverts_) return;
  const size_t width = (layout_.eighthScale ? paddedWidth_ / 8 : paddedWidth_);
  const size_t n = layout_.stride / 4 * (rows - 1) + width;
  if (model_ == ColourModel::Rgb) {
    RgbToBgra(rowOut, n);
  } else {
    YccToRgb(rowOut, n);
  }
}

void JpegCodec::WriteMcuRow(int16_t* coefs, uint8_t* rowOut, bool clear) const {
  const uint32_t scale = layout_.eighthScale ? 1 : 8;
  const size_t across = size_t{scale} * hmax_ * layout_.bytesPerPixel;
  for (uint32_t mc = 0; mc < mcusPerRow_; ++mc) {
    int16_t* mcu = coefs + size_t{mc} * mcuBlocks_ * 64;
    ReconstructMcu(mcu);
    writer_(layout_, reinterpret_cast<const uint8_t*>(mcu), rowOut + mc * across);
    // Ready for the next row's coefficients, which arrive sparsely.
    if (clear) std::memset(mcu, 0, size_t{mcuBlocks_} * 128);
  }
  FinishBand(rowOut, scale * vmax_);
}

Status JpegCodec::DecodeStreaming(const JpegOutput& out) {
  const uint32_t band = PipelineBand(out.eighthScale);
  const uint64_t rowBlocks = uint64_t{mcusPerRow_} * mcuBlocks_;
  CoefficientBuffer buffer;
  if (!buffer.Allocate(band ? 2 * band * rowBlocks : mcuBlocks_)) return kStatusOutOfMemory;
  const uint32_t scale = out.eighthScale ? 1 : 8;
  const size_t rowBytes = size_t{scale} * vmax_ * out.stride;
  const size_t across = size_t{scale} * hmax_ * out.bytesPerPixel;
  if (!band) {
    for (uint32_t mr = 0; mr < mcuRows_; ++mr) {
      if (IsCancelled(out.cancel)) break;
      ReportProgress(out, mr, mcuRows_);
      uint8_t* rowOut = out.pixels + mr * rowBytes;
      for (uint32_t mc = 0; mc < mcusPerRow_; ++mc) {
        DecodeMcu(buffer.data);
        ReconstructMcu(buffer.data);
        writer_(layout_, reinterpret_cast<const uint8_t*>(buffer.data), rowOut + mc * across);
        std::memset(buffer.data, 0, size_t{mcuBlocks_} * 128);
      }
      FinishBand(rowOut, scale * vmax_);
    }
    return kStatusOk;
  }
  TaskGroup group;
  const size_t rowCoefs = rowBlocks * 64;
  bool cancelled = false;
  for (uint32_t first = 0; first < mcuRows_ && !cancelled; first += band) {
    int16_t* half = buffer.data + (first / band % 2) * band * rowCoefs;
    uint32_t rows = 0;
    for (; rows < band && first + rows < mcuRows_; ++rows) {
      if (IsCancelled(out.cancel)) {
        cancelled = true;
        break;
      }
      ReportProgress(out, first + rows, mcuRows_);
      int16_t* row = half + rows * rowCoefs;
      for (uint32_t mc = 0; mc < mcusPerRow_; ++mc) DecodeMcu(row + size_t{mc} * mcuBlocks_ * 64);
    }
    // The task of the previous band reads the other half; it must be done
    // before this band's task may start, so one task runs at a time.
    group.Wait();
    uint8_t* bandOut = out.pixels + first * rowBytes;
    group.Run([this, half, bandOut, rows, rowCoefs, rowBytes] {
      for (uint32_t r = 0; r < rows; ++r) WriteMcuRow(half + r * rowCoefs, bandOut + r * rowBytes, true);
    });
  }
  group.Wait();
  return kStatusOk;
}

bool JpegCodec::DecodeBuffered(const JpegOutput& out, int16_t* coefs, uint32_t blockCoefs) {
  const size_t mcuStride = size_t{mcuBlocks_} * blockCoefs;
  for (uint32_t mr = 0; mr < mcuRows_; ++mr) {
    if (IsCancelled(out.cancel)) return false;
    ReportProgress(out, mr, 2 * mcuRows_);
    int16_t* row = coefs + size_t{mr} * mcusPerRow_ * mcuStride;
    if (ns_ == 1) {
      // A scan of one component covers only that component's own blocks,
      // row by row across the image.
      const Component& c = *scan_[0];
      for (uint32_t r = 0; r < c.v; ++r) {
        if (mr * c.v + r >= c.blocksHigh) continue;
        for (uint32_t mc = 0; mc < mcusPerRow_; ++mc) {
          for (uint32_t cc = 0; cc < c.h; ++cc) {
            if (mc * c.h + cc >= c.blocksWide) continue;
            RestartCheck();
            DecodeBlock(row + mc * mcuStride + (c.offset + r * c.h + cc) * blockCoefs, 0);
          }
        }
      }
    } else {
      for (uint32_t mc = 0; mc < mcusPerRow_; ++mc) {
        RestartCheck();
        int16_t* mcu = row + mc * mcuStride;
        for (uint32_t i = 0; i < ns_; ++i) {
          const Component& c = *scan_[i];
          for (uint32_t b = 0; b < c.blocksPerMcu; ++b) DecodeBlock(mcu + (c.offset + b) * blockCoefs, i);
        }
      }
    }
  }
  return true;
}

Status JpegCodec::Decode(const JpegOutput& out) {
  Status status = PrepareGeometry(out);
  if (Failed(status)) return status;
  const uint64_t imageBlocks = uint64_t{mcusPerRow_} * mcuRows_ * mcuBlocks_;
  // An eighth-scale picture of a progressive frame needs only the DC scans,
  // and of each block only its DC coefficient.
  const bool dcOnly = out.eighthScale && progressive_;
  const uint32_t blockCoefs = dcOnly ? 1 : 64;
  CoefficientBuffer whole;
  TaskGroup populate;
  // Progress comes from this thread alone.
  JpegOutput quiet = out;
  quiet.progress = nullptr;
  std::atomic<bool> chromaStopped{false};
  TaskLane chroma;
  bool buffered = false, decoded = false, stopped = false;
  for (;;) {
    const int m = NextMarker();
    if (m == kEoi) break;
    if (m != kSos || !ReadScanHeader() || (progressive_ && !ValidateProgressiveScan()) ||
        !StartScan()) {
      status = kStatusDamaged;
      break;
    }
    if (IsCancelled(out.cancel)) {
      stopped = true;
      break;
    }
    if (!progressive_ && !buffered && ns_ == componentCount_) {
      // A sequential scan of every component: decode, reconstruct and write
      // MCU by MCU; the frame ends with it.
      status = DecodeStreaming(out);
      decoded = true;
      break;
    }
    if (!buffered) {
      // Progressive frames and sequential frames in several scans gather
      // the coefficients of the whole image first.
      if (!whole.Allocate(dcOnly ? (imageBlocks + 63) / 64 : imageBlocks)) return kStatusOutOfMemory;
      buffered = true;
      if (!dcOnly) {
        // While the scans are decoded, a worker faults in the coefficients
        // (from the end, meeting the first scan's writes) and the output
        // rows the last pass will write.
        populate.Run([&whole, &out, &populate] {
          PopulateInSteps(whole.storage.get(), whole.bytes, true, populate);
          PopulateInSteps(out.pixels, out.stride * out.rows, false, populate);
        });
      }
    }
    decoded = true;
    if (dcOnly && ss_ != 0) continue;
    const bool lumaAlone = ns_ == 1 && scan_[0] == &components_[0];
    if (ns_ == 1 && !lumaAlone && progressive_ && !arithmetic_ && !dcOnly && ParallelBand(false)) {
      // A scan of one chroma component writes only that component's
      // blocks: a copy of the codec decodes it on the pool, in stream order
      // with the others like it, while this thread skips its data and goes
      // on with the luma scans.
      std::shared_ptr<JpegCodec> scan(new (std::nothrow) JpegCodec(*this));
      if (scan) {
        scan->scan_[0] = &scan->components_[scan_[0] - components_];
        chroma.Add([scan, &quiet, &whole, &chromaStopped] {
          if (!scan->DecodeBuffered(quiet, whole.data, 64)) chromaStopped = true;
        });
        continue;
      }
    }
    if (!lumaAlone) chroma.Wait();
    if (!DecodeBuffered(out, whole.data, blockCoefs)) {
      stopped = true;
      break;
    }
    const uint8_t* end = arithmetic_ ? arith_.Position() : bits_.Position();
    in_.Seek(static_cast<uint64_t>(end - in_.Data()));
    if (in_.AtEnd()) break;
  }
  chroma.Wait();
  if (chromaStopped) stopped = true;
  if (Succeeded(status) && !decoded && !stopped) status = kStatusDamaged;
  if (buffered && Succeeded(status) && !stopped) {
    populate.Wait();
    const uint32_t scale = out.eighthScale ? 1 : 8;
    const size_t bandBytes = size_t{scale} * vmax_ * out.stride;
    const size_t rowBlocks = size_t{mcusPerRow_} * mcuBlocks_;
    // DC coefficients alone go out through one row of whole blocks, which
    // the writer clears again behind itself.
    CoefficientBuffer dcRow;
    if (dcOnly && !dcRow.Allocate(rowBlocks)) return kStatusOutOfMemory;
    if (const uint32_t band = ParallelBand(out.eighthScale)) {
      // MCU rows are written independently: bands of them on the pool.
      ReportProgress(out, mcuRows_, 2 * mcuRows_);
      TaskGroup group;
      for (uint32_t first = 0; first < mcuRows_; first += band) {
        group.Run([this, &out, &whole, first, band, rowBlocks, bandBytes] {
          for (uint32_t mr = first; mr < first + band && mr < mcuRows_ && !IsCancelled(out.cancel); ++mr)
            WriteMcuRow(whole.data + mr * rowBlocks * 64, out.pixels + mr * bandBytes, false);
        });
      }
      group.Wait();
    } else {
      for (uint32_t mr = 0; mr < mcuRows_; ++mr) {
        if (IsCancelled(out.cancel)) break;
        ReportProgress(out, mcuRows_ + mr, 2 * mcuRows_);
        int16_t* row = whole.data + mr * rowBlocks * blockCoefs;
        if (dcOnly) {
          for (size_t b = 0; b < rowBlocks; ++b) dcRow.data[b * 64] = row[b];
          row = dcRow.data;
        }
        WriteMcuRow(row, out.pixels + mr * bandBytes, dcOnly);
      }
    }
  }
  if (componentCount_ == 3 && out.bytesPerPixel == 4) model_ = ColourModel::Rgb;
  return status;
}

}  // namespace pv
