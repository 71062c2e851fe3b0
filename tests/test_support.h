#pragma once
// Shared fixtures of the tests: the sample corpus, reference decodes and
// the whole road of one file.
#include <cstdint>
#include <string>
#include <vector>

#include "core/status.h"

namespace pvtest {

struct CorpusCase {
  std::string file;
  std::string expected;   // "decode", "reject" or "either"
  std::string reference;  // the reference decode's file name, or empty
  std::string exercises;
};

struct Pam {
  uint32_t width = 0, height = 0, depth = 0, maxval = 0;
  std::vector<uint8_t> data;  // samples as stored (8-bit maxval only)
};

// The corpus folder of one format, or "" when the corpus is absent.
std::string CorpusDir(const char* format);
// Our own committed samples (tests/data/<format>).
std::string OwnDataDir(const char* format);
std::vector<CorpusCase> ReadManifest(const std::string& dir);
bool ReadPam(const std::string& path, Pam* out);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
std::wstring Widen(const std::string& s);
// A fresh empty folder for files a test writes.
std::string ScratchDir(const char* name);

// Registers the decoders, opens and decodes a file (all frames) and converts
// the first frame to straight R, G, B, A rows.
bool DecodeToRgba(const std::wstring& path, std::vector<uint8_t>* rgba, uint32_t* width, uint32_t* height,
                  pv::Status* status);

// The reference's pixels as R, G, B, A (depth 3 gets alpha 255).
std::vector<uint8_t> PamAsRgba(const Pam& pam);

}  // namespace pvtest
