#include "bench/bench.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>

#include "codecs/register_decoders.h"
#include "core/cpu.h"
#include "core/pixel_convert.h"

namespace pvbench {

namespace {

struct Suite {
  std::string usage;
  SuiteFunction run;
};

std::map<std::string, Suite>& Suites() {
  static std::map<std::string, Suite> suites;
  return suites;
}

double Seconds(const std::function<void()>& fn) {
  auto start = std::chrono::steady_clock::now();
  fn();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

bool RegisterSuite(const char* name, const char* usage, SuiteFunction run) {
  Suites()[name] = {usage, std::move(run)};
  return true;
}

Timing MeasurePair(const std::function<void()>& ours, const std::function<void()>& reference, int runs) {
  ours();
  reference();
  std::vector<double> a, b;
  for (int i = 0; i < runs; ++i) {
    a.push_back(Seconds(ours));
    b.push_back(Seconds(reference));
  }
  return {Median(a), Median(b)};
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 0;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    double d = double(a[i]) - double(b[i]);
    sum += d * d;
  }
  if (sum == 0) return std::numeric_limits<double>::infinity();
  return 10 * std::log10(255.0 * 255.0 * a.size() / sum);
}

std::string PsnrText(double psnr) {
  if (std::isinf(psnr)) return "exact";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", psnr);
  return text;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> AsBgra(pv::ImageBuffer& image) {
  pv::Ref<pv::ImageBuffer> bgra(pv::CloneImageBuffer(image, false, false, pv::PixelFormat::Rgba8));
  std::vector<uint8_t> out;
  if (!bgra) return out;
  for (uint32_t y = 0; y < image.Height(); ++y) out.insert(out.end(), bgra->Row(y), bgra->Row(y) + 4 * image.Width());
  return out;
}

void PrintRow(const std::string& name, const Timing& t, const std::vector<std::string>& extra) {
  std::printf("%s\t%.3f\t%.3f\t%.2f", name.c_str(), t.oursSeconds * 1e3, t.referenceSeconds * 1e3, t.Ratio());
  for (const std::string& e : extra) std::printf("\t%s", e.c_str());
  std::printf("\n");
  std::fflush(stdout);
}

}  // namespace pvbench

int main(int argc, char** argv) {
  pv::ReadProcessorFeatures();
  pv::RegisterDecoders();
  auto& suites = pvbench::Suites();
  if (argc < 2 || !suites.count(argv[1])) {
    std::fprintf(stderr, "usage: pixvane-bench SUITE [inputs...]\nsuites:\n");
    for (auto& [name, suite] : suites) std::fprintf(stderr, "  %s %s\n", name.c_str(), suite.usage.c_str());
    return 2;
  }
  return suites[argv[1]].run(std::vector<std::string>(argv + 2, argv + argc));
}
