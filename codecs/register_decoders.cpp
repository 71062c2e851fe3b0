#include "codecs/register_decoders.h"

#include <mutex>

#include "codecs/bmp/bmp_decoder.h"
#include "codecs/dds/dds_decoder.h"
#include "codecs/fits/fits_decoder.h"
#include "codecs/gif/gif_decoder.h"
#include "codecs/hdr/hdr_decoder.h"
#include "codecs/iff/iff_decoder.h"
#include "codecs/ico/ico_decoder.h"
#include "codecs/jpeg/jpeg_decoder.h"
#include "codecs/pcx/pcx_decoder.h"
#include "codecs/png/png_decoder.h"
#include "codecs/psd/psd_decoder.h"
#include "codecs/tga/tga_decoder.h"
#include "codecs/tiff/tiff_decoder.h"
#include "codecs/webp/webp_decoder.h"
#include "core/format_registry.h"

namespace pv {

void RegisterDecoders() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterBmpDecoder();
    RegisterDdsDecoder();
    RegisterFitsDecoder();
    RegisterGifDecoder();
    RegisterHdrDecoder();
    RegisterIffDecoder();
    RegisterIcoDecoder();
    RegisterJpegDecoder();
    RegisterPcxDecoder();
    RegisterPngDecoder();
    RegisterPsdDecoder();
    RegisterTgaDecoder();
    RegisterTiffDecoder();
    RegisterWebpDecoder();
    RegisterFormatTable();
  });
}

}  // namespace pv
