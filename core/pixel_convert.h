#pragma once
#include <cstdint>

#include "core/image_buffer.h"
#include "core/status.h"

namespace pv {

// Process-wide option bytes of the renderer that steer the conversions.
struct ConversionOptions {
  uint8_t sRgbGrey = 0;  // colour to grey through linear light
  uint8_t dither = 0;    // 16 to 8 bits by error diffusion
};
ConversionOptions& PixelConversionOptions();

// Converts source's pixels into target (same size, any formats), copies the
// frame fields, properties and uses-alpha flag; with keepLinks the following
// frames are cloned behind target.
Status ConvertInto(ImageBuffer& target, ImageBuffer& source, bool keepLinks);

// A new buffer of the source's size in `format` (Undetermined: the
// source's), filled by ConvertInto; null on failure.
ImageBuffer* CloneImageBuffer(ImageBuffer& source, bool keepLinks, bool screenCompatible,
                              PixelFormat format = PixelFormat::Undetermined);

// The conversion routine for the target's format, without the links.
Status ConvertPixels(ImageBuffer& target, ImageBuffer& source);

// 16 to 8 bits by error diffusion over one plane of samples: `channels`
// interleaved samples per pixel, of which the first `diffused` are
// diffused and the rest take their high byte.
void DiffuseTo8(uint8_t* dst, size_t dstPitch, const uint16_t* src, size_t srcPitch, uint32_t width,
                uint32_t height, uint32_t channels, uint32_t diffused);

// The sRGB transfer curve and its inverse, on unit values.
float SrgbEncode(float linear);
float SrgbDecode(float encoded);

}  // namespace pv
