#pragma once
// The adjustment companion of an image: the image's full name plus ".pva",
// a RIFF file of form "PVIA" whose "LADJ" chunk lists (tag, f32 value) pairs.
#include <cstdint>
#include <string>
#include <vector>

#include "viewer/render_stages.h"

namespace pv {

struct ViewAdjustments {
  ColourAdjustments colour;
  float sharpening = 0;
  uint8_t orientation = 0;  // bits 0-1 quarter turns, bit 2 mirror, bit 3 flip
  bool operator==(const ViewAdjustments&) const = default;
};

inline constexpr uint8_t kMaxOrientation = 15;

std::wstring AdjustmentFilePath(const wchar_t* imagePath);

// The file's bytes: one entry per value that differs from neutral, in tag
// order (the orientation only when it differs from the image's own). Empty
// when no entry remains.
std::vector<uint8_t> EncodeAdjustments(const ViewAdjustments& values, uint8_t imageOrientation);

// Sets the values the file names, leaving the others; false when the bytes
// are not a PVIA file.
bool DecodeAdjustments(const uint8_t* data, uint64_t size, ViewAdjustments* values);

// Writes the companion file (hidden), or deletes it when every value is neutral.
bool WriteAdjustmentFile(const wchar_t* imagePath, const ViewAdjustments& values, uint8_t imageOrientation);
// Reads the companion file into `values`; false when there is none or it is not one.
bool ReadAdjustmentFile(const wchar_t* imagePath, ViewAdjustments* values);

}  // namespace pv
