#pragma once
// The benchmark harness: suites register themselves by name; each measures
// our code and a reference on the same input, alternating, and prints one
// TSV row per input.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pv {
class ImageBuffer;
}

namespace pvbench {

using SuiteFunction = std::function<int(const std::vector<std::string>& inputs)>;

// Registers a suite at static initialisation; returns true.
bool RegisterSuite(const char* name, const char* usage, SuiteFunction run);

struct Timing {
  double oursSeconds = 0;       // median
  double referenceSeconds = 0;  // median
  double Ratio() const { return oursSeconds > 0 ? referenceSeconds / oursSeconds : 0; }
};

// Runs ours and reference alternately `runs` times each (after one warm-up
// of each) and returns the medians.
Timing MeasurePair(const std::function<void()>& ours, const std::function<void()>& reference, int runs);

double Median(std::vector<double> values);

// PSNR in dB of two equally long 8-bit sample arrays (infinity when equal).
double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
// A PSNR as a table column: "exact", or dB with two decimals.
std::string PsnrText(double psnr);

std::vector<uint8_t> ReadFile(const std::string& path);

// The image's pixels as packed B, G, R, A rows (palette and grey images converted).
std::vector<uint8_t> AsBgra(pv::ImageBuffer& image);

// One TSV row: name, our median ms, reference median ms, ratio, extra columns.
void PrintRow(const std::string& name, const Timing& t, const std::vector<std::string>& extra);

}  // namespace pvbench
