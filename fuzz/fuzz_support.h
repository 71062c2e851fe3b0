#pragma once
// What every fuzz target shares: one-time set-up and the decode of one input
// by one decoder.
#include <cstddef>
#include <cstdint>

#include "codecs/register_decoders.h"
#include "core/checked_math.h"
#include "core/cpu.h"
#include "core/decoder.h"

namespace pvfuzz {

inline void Initialise() {
  pv::ReadProcessorFeatures();
  pv::RegisterDecoders();
  // Small images reach every path; keep allocations modest.
  pv::SetImagePixelLimit(uint64_t{1} << 22);
}

// Creates the decoder straight from the bytes (no probe, so header faults
// that a probe would turn away are reached too), reads every property and
// decodes every frame, and the preview when the decoder has one.
inline void DecodeWith(pv::CreateFunction create, const wchar_t* extension, const uint8_t* data, size_t size) {
  if (size == 0 || size > UINT32_MAX) return;
  pv::Ref<pv::MemorySource> source(new pv::MemorySource(data, static_cast<uint32_t>(size)));
  pv::Ref<pv::ImageDecoder> decoder(create(*source, *pv::FindFormatEntry(extension)));
  if (!decoder || pv::Failed(decoder->Open(0))) return;
  for (uint32_t id = 0; id < pv::kPropertyCount; ++id) decoder->GetText(id);
  for (bool preview : {false, true}) {
    if (preview && !decoder->HasPreview()) break;
    pv::Ref<pv::ImageBuffer> buffer;
    if (pv::Failed(pv::CreateBufferFor(*decoder, false, preview, &buffer))) return;
    // Failing is fine here; only a crash, a hang or a stray read is a finding.
    static_cast<void>(decoder->Decode(*buffer, !preview, nullptr, nullptr));
  }
}

}  // namespace pvfuzz
