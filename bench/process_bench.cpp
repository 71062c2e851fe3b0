// The whole process as a user runs it: `pixvane-decode --out x.pam FILE`
// against pixvane-refdecode (libjpeg-turbo or libpng, then the same PAM),
// each started as its own process, alternating. Wall time and peak memory
// (the child's maximum resident set) are medians; page faults and CPU
// times come from the same runs. PV_DECODE names another pixvane-decode
// to measure (an older build, for before / after).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench.h"

namespace {

struct Sample {
  double seconds = 0, peakMb = 0, faults = 0, userMs = 0, systemMs = 0;
};

std::string Beside(const std::string& name) {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
  dir = dir.substr(0, dir.rfind('/'));
  for (const std::string& d : {dir, dir.substr(0, dir.rfind('/'))}) {
    const std::string path = d + "/" + name;
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  return name;
}

// Starts the program, waits for it; false when it fails.
bool Measure(const std::vector<std::string>& args, Sample* run) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return false;
  run->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run->peakMb = usage.ru_maxrss / 1024.0;
  run->faults = static_cast<double>(usage.ru_minflt + usage.ru_majflt);
  run->userMs = usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3;
  run->systemMs = usage.ru_stime.tv_sec * 1e3 + usage.ru_stime.tv_usec / 1e3;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

Sample Medians(const std::vector<Sample>& runs) {
  std::vector<double> s, p, f, u, k;
  for (const Sample& r : runs) {
    s.push_back(r.seconds), p.push_back(r.peakMb), f.push_back(r.faults);
    u.push_back(r.userMs), k.push_back(r.systemMs);
  }
  return {pvbench::Median(s), pvbench::Median(p), pvbench::Median(f), pvbench::Median(u), pvbench::Median(k)};
}

int Run(const std::vector<std::string>& inputs) {
  const char* chosen = std::getenv("PV_DECODE");
  const std::string ours = chosen ? chosen : Beside("pixvane-decode");
  const std::string reference = Beside("pixvane-refdecode");
  char dirTemplate[] = "/tmp/pv-process-XXXXXX";
  if (!mkdtemp(dirTemplate)) return 1;
  const std::string oursOut = std::string(dirTemplate) + "/ours.pam", refOut = std::string(dirTemplate) + "/ref.pam";
  std::printf(
      "file\tours_ms\tref_ms\tratio\tours_peak_mb\tref_peak_mb\tpeak_ratio\tours_faults\tref_faults\t"
      "ours_user_ms\tours_sys_ms\tref_user_ms\tref_sys_ms\tpsnr\n");
  int failures = 0;
  const int runs = 7;
  for (const std::string& path : inputs) {
    std::vector<Sample> a, b;
    bool ok = true;
    // One warm-up of each brings the file and the programs into the page cache.
    for (int i = -1; i < runs && ok; ++i) {
      Sample x, y;
      std::remove(oursOut.c_str());
      ok = Measure({ours, "--out", oursOut, path}, &x);
      std::remove(refOut.c_str());
      ok = ok && Measure({reference, path, refOut}, &y);
      if (i >= 0) a.push_back(x), b.push_back(y);
    }
    if (!ok) {
      std::fprintf(stderr, "%s: a program failed\n", path.c_str());
      ++failures;
      continue;
    }
    const std::string psnr = pvbench::PsnrText(pvbench::Psnr(pvbench::ReadFile(oursOut), pvbench::ReadFile(refOut)));
    const Sample mo = Medians(a), mr = Medians(b);
    const pvbench::Timing t{mo.seconds, mr.seconds};
    char extra[256];
    std::snprintf(extra, sizeof extra, "%.1f\t%.1f\t%.2f\t%.0f\t%.0f\t%.0f\t%.0f\t%.0f\t%.0f\t%s", mo.peakMb,
                  mr.peakMb, mo.peakMb / mr.peakMb, mo.faults, mr.faults, mo.userMs, mo.systemMs, mr.userMs,
                  mr.systemMs, psnr.c_str());
    pvbench::PrintRow(path, t, {extra});
  }
  std::remove(oursOut.c_str());
  std::remove(refOut.c_str());
  rmdir(dirTemplate);
  return failures ? 1 : 0;
}

const bool kRegistered = pvbench::RegisterSuite("process", "FILE.jpg|FILE.png... (whole pixvane-decode --out against a reference program)", Run);

}  // namespace
