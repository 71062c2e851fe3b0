#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cwchar>
#include <cwctype>
#include <string>

#include "browse/file_names.h"
#include "browse/file_system.h"
#include "core/text.h"

namespace pv {

bool SearchFolder(const wchar_t* pattern,
                  const std::function<bool(const wchar_t* name, const FolderEntryInfo& info)>& visit) {
  size_t split = FileNameOffset(pattern);
  std::string folder = WideToUtf8(std::wstring(pattern, split));
  std::string wildcard = WideToUtf8(pattern + split);
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return false;
  while (dirent* e = readdir(dir)) {
    if (fnmatch(wildcard.c_str(), e->d_name, FNM_CASEFOLD) != 0) continue;
    struct stat st;
    if (fstatat(dirfd(dir), e->d_name, &st, 0) != 0) continue;
    FolderEntryInfo info;
    info.size = static_cast<uint64_t>(st.st_size);
    info.lastWriteTime = 11644473600ull * 10000000ull + static_cast<uint64_t>(st.st_mtim.tv_sec) * 10000000ull +
                         static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100;
    info.directory = S_ISDIR(st.st_mode);
    info.hidden = e->d_name[0] == '.' && e->d_name[1] && !(e->d_name[1] == '.' && !e->d_name[2]);
    if (!visit(Utf8ToWide(e->d_name).c_str(), info)) break;
  }
  closedir(dir);
  return true;
}

bool PathExists(const wchar_t* path) {
  struct stat st;
  return path[0] && stat(WideToUtf8(path).c_str(), &st) == 0;
}

// The shell's order: runs of digits compare by value, letters without case.
int CompareLogical(const wchar_t* a, const wchar_t* b) {
  while (*a && *b) {
    if (iswdigit(*a) && iswdigit(*b)) {
      while (*a == L'0') ++a;
      while (*b == L'0') ++b;
      size_t na = 0, nb = 0;
      while (iswdigit(a[na])) ++na;
      while (iswdigit(b[nb])) ++nb;
      if (na != nb) return na < nb ? -1 : 1;
      int c = wcsncmp(a, b, na);
      if (c) return c < 0 ? -1 : 1;
      a += na;
      b += nb;
      continue;
    }
    wint_t ca = towlower(static_cast<wint_t>(*a)), cb = towlower(static_cast<wint_t>(*b));
    if (ca != cb) return ca < cb ? -1 : 1;
    ++a;
    ++b;
  }
  return *a ? 1 : (*b ? -1 : 0);
}

int CompareOrdinal(const wchar_t* a, const wchar_t* b) {
  int c = wcscmp(a, b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

uint64_t AvailablePageFileBytes() {
  long pages = sysconf(_SC_AVPHYS_PAGES);
  long size = sysconf(_SC_PAGESIZE);
  if (pages < 0 || size < 0) return UINT64_MAX;
  return static_cast<uint64_t>(pages) * static_cast<uint64_t>(size);
}

}  // namespace pv
