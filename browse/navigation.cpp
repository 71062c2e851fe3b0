#include "browse/navigation.h"

#include <cwchar>
#include <string>

#include "browse/file_names.h"
#include "browse/file_system.h"
#include "browse/folder_listing.h"
#include "browse/image_cache.h"
#include "core/format_registry.h"

namespace pv {

namespace {

bool CopyPath(wchar_t* out, const wchar_t* folder, size_t folderLength, const wchar_t* name) {
  size_t nameLength = wcslen(name);
  if (folderLength + nameLength + 1 > kMaxPathUnits) return false;
  wmemcpy(out, folder, folderLength);
  wmemcpy(out + folderLength, name, nameLength + 1);
  return true;
}

// Whether the slot's listing is a valid one of exactly this folder.
bool ListingFits(const FolderListing* listing, const wchar_t* folder, size_t folderLength) {
  if (!listing || !listing->IsValid()) return false;
  const wchar_t* pattern = listing->Pattern();
  return wcslen(pattern) == folderLength + 1 && pattern[folderLength] == L'*' &&
         CompareNoCase(std::wstring(pattern, folderLength).c_str(), std::wstring(folder, folderLength).c_str()) == 0;
}

bool Search(ImageCache& cache, Ref<FolderListing>* slot, NavigationMode mode, wchar_t* outPath,
            const wchar_t* currentPath, const CancelFlag* cancel) {
  size_t split = FileNameOffset(currentPath);
  const wchar_t* name = currentPath + split;
  if (!ListingFits(slot->get(), currentPath, split)) {
    if (split == 0) return false;
    slot->Reset();
    *slot = cache.Listings().OpenListing(std::wstring(currentPath, split).c_str());
    if (!*slot) return false;
  }
  const FolderListing& listing = **slot;
  const bool forward = mode == NavNext || mode == NavFirst;
  const wchar_t* best = nullptr;
  FolderEntryInfo info;
  for (const wchar_t* e = listing.NextEntry(nullptr, &info); e; e = listing.NextEntry(e, &info)) {
    if (IsCancelled(cancel)) return false;
    if (info.directory || (e[0] == L'.' && e[1] == 0) || IsImageName(e) < 0) continue;
    int c = CompareFileNames(e, name);
    if ((mode == NavNext && c < 0) || (mode == NavPrevious && c > 0)) continue;
    if (best) {
      int b = CompareFileNames(e, best);
      if ((forward && b > 0) || (!forward && b < 0)) continue;
    }
    // A name the order cannot tell from the current one is never its neighbour.
    if (c != 0) best = e;
  }
  if (!best || IsCancelled(cancel)) return false;
  return CopyPath(outPath, currentPath, split, best);
}

}  // namespace

bool FindNeighbourFile(ImageCache& cache, Ref<FolderListing>* listingSlot, NavigationMode mode, wchar_t* outPath,
                       const wchar_t* currentPath, const CancelFlag* cancel) {
  if (!currentPath || !currentPath[0] || mode > NavLast) return false;
  switch (mode) {
    case NavExisting:
      return CopyPath(outPath, currentPath, wcslen(currentPath), L"") && PathExists(currentPath);
    case NavNext:
    case NavPrevious:
      cache.SetLastDirection(mode);
      break;
    case NavContinue: {
      NavigationMode last = cache.LastDirection();
      if (Search(cache, listingSlot, last, outPath, currentPath, cancel)) return true;
      return Search(cache, listingSlot, last == NavNext ? NavPrevious : NavNext, outPath, currentPath, cancel);
    }
    default:
      break;
  }
  return Search(cache, listingSlot, mode, outPath, currentPath, cancel);
}

StepResult StepToImage(ImageCache& cache, Ref<FolderListing>* listingSlot, NavigationMode direction,
                       const wchar_t* currentPath, const std::function<bool(const wchar_t* path)>& open,
                       wchar_t* outPath) {
  StepResult result;
  NavigationMode mode = direction;
  std::wstring from = currentPath;
  std::wstring first;
  wchar_t candidate[kMaxPathUnits];
  for (;;) {
    if (!FindNeighbourFile(cache, listingSlot, mode, candidate, from.c_str())) {
      if (result.wrapped) return result;
      result.wrapped = true;
      mode = direction == NavNext ? NavFirst : NavLast;
      from = currentPath;
      continue;
    }
    mode = direction;
    // Back at the start or at the first refused file: one full pass is done.
    if (CompareNoCase(candidate, currentPath) == 0 || CompareNoCase(candidate, first.c_str()) == 0) return result;
    if (first.empty()) first = candidate;
    if (open(candidate)) {
      wcscpy(outPath, candidate);
      result.found = true;
      return result;
    }
    from = candidate;
  }
}

}  // namespace pv
