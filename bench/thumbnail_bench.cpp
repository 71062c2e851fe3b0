// What a browser window costs on a large folder: the first screen of
// thumbnails, all of them, and the second opening through the index file.
// Ours is the browser's road (the JPEG decoder's eighth-scale preview on
// the task pool); the reference is libjpeg-turbo scaling by 1/8 while it
// decodes, on the same pool.
#include <turbojpeg.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "browse/thumbnail_maker.h"
#include "core/task_group.h"
#include "core/text.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kImages = 2000;
constexpr size_t kFirstScreen = 40;
constexpr uint32_t kWidth = 1280, kHeight = 960;
constexpr pv::ThumbnailBox kBox{160, 160};

// A smooth picture with a little detail, different in every file.
std::vector<uint8_t> Picture(uint32_t seed) {
  std::vector<uint8_t> rgb(size_t{kWidth} * kHeight * 3);
  for (uint32_t y = 0; y < kHeight; ++y) {
    for (uint32_t x = 0; x < kWidth; ++x) {
      uint8_t* p = &rgb[(size_t{y} * kWidth + x) * 3];
      p[0] = static_cast<uint8_t>(x / 5 + seed);
      p[1] = static_cast<uint8_t>(y / 4 + seed * 3);
      p[2] = static_cast<uint8_t>(((x ^ y) & 16) ? 200 : 60);
    }
  }
  return rgb;
}

// Writes the folder's JPEG files unless they are there; their paths in name order.
std::vector<std::wstring> MakeFolder(const fs::path& folder) {
  fs::create_directories(folder);
  std::vector<std::wstring> paths;
  tjhandle encoder = tjInitCompress();
  for (size_t i = 0; i < kImages; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "img%04zu.jpg", i);
    const fs::path path = folder / name;
    paths.push_back(path.wstring());
    if (fs::exists(path)) continue;
    const std::vector<uint8_t> rgb = Picture(static_cast<uint32_t>(i));
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    if (tjCompress2(encoder, rgb.data(), kWidth, 0, kHeight, TJPF_RGB, &jpeg, &size, TJSAMP_420, 80, 0) == 0) {
      FILE* f = std::fopen(path.c_str(), "wb");
      if (f) {
        std::fwrite(jpeg, 1, size, f);
        std::fclose(f);
      }
    }
    tjFree(jpeg);
  }
  tjDestroy(encoder);
  return paths;
}

// Runs make(i) for the first n files as tasks of one group, as the browser does.
void OnPool(size_t n, const std::function<void(size_t)>& make) {
  pv::TaskGroup group;
  for (size_t i = 0; i < n; ++i) group.Run([&make, i] { make(i); });
  group.Wait();
}

void Ours(const std::vector<std::wstring>& paths, size_t n, std::vector<pv::ThumbnailEntry>* out) {
  out->assign(n, {});
  OnPool(n, [&](size_t i) {
    if (pv::Failed(pv::MakeThumbnail(paths[i].c_str(), kBox, nullptr, &(*out)[i]))) (*out)[i] = {};
  });
}

void Reference(const std::vector<std::wstring>& paths, size_t n) {
  OnPool(n, [&](size_t i) {
    const std::vector<uint8_t> file = pvbench::ReadFile(pv::WideToUtf8(paths[i]));
    tjhandle decoder = tjInitDecompress();
    std::vector<uint8_t> pixels(size_t{kWidth / 8} * (kHeight / 8) * 4);
    tjDecompress2(decoder, file.data(), file.size(), pixels.data(), kWidth / 8, 0, kHeight / 8, TJPF_BGRA, 0);
    tjDestroy(decoder);
  });
}

int Run(const std::vector<std::string>& inputs) {
  const fs::path folder = inputs.empty() ? fs::temp_directory_path() / "pv-thumbnail-bench" : fs::path(inputs[0]);
  const std::vector<std::wstring> paths = MakeFolder(folder);
  std::printf("work\tours ms\treference ms\treference / ours\tnote\n");
  std::vector<pv::ThumbnailEntry> made;
  pvbench::PrintRow("first screen, 40 of 2000", pvbench::MeasurePair([&] { Ours(paths, kFirstScreen, &made); },
                                                                    [&] { Reference(paths, kFirstScreen); }, 9),
                    {"1280x960 JPEG -> 160x120"});
  pvbench::PrintRow("all 2000",
                    pvbench::MeasurePair([&] { Ours(paths, kImages, &made); }, [&] { Reference(paths, kImages); }, 3),
                    {"1280x960 JPEG -> 160x120"});

  // The second opening: the index file instead of the decoders.
  pv::ThumbnailIndex index;
  index.folder = folder.wstring();
  index.entries = made;
  for (size_t i = 0; i < made.size(); ++i) index.entries[i].name = fs::path(paths[i]).filename().wstring();
  bool written = false;
  const pvbench::Timing write = pvbench::MeasurePair(
      [&] { written = pv::WriteThumbnailIndex(index, kBox); }, [&] { Ours(paths, kImages, &made); }, 3);
  const uintmax_t bytes = written ? fs::file_size(pv::ThumbnailIndexPath(index.folder)) : 0;
  pvbench::PrintRow("write the index file", write,
                    {"reference: making all again; " + std::to_string(bytes / 1024) + " KiB file"});
  size_t read = 0;
  const pvbench::Timing second = pvbench::MeasurePair(
      [&] {
        pv::ThumbnailIndex back;
        pv::ThumbnailBox box;
        read = pv::ReadThumbnailIndex(&back, index.folder, &box) ? back.entries.size() : 0;
      },
      [&] { Ours(paths, kImages, &made); }, 3);
  pvbench::PrintRow("second opening, index file", second,
                    {"reference: making all again; " + std::to_string(read) + " thumbnails read"});
  return read == kImages ? 0 : 1;
}

const bool registered = pvbench::RegisterSuite("thumbnails", "[folder]", Run);

}  // namespace
