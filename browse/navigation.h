#pragma once
#include <cstdint>
#include <functional>

#include "core/counted.h"
#include "core/decoder.h"

namespace pv {

class FolderListing;
class ImageCache;

enum NavigationMode : uint8_t {
  NavExisting = 0,  // the path itself, if it exists
  NavNext = 1,
  NavPrevious = 2,
  NavContinue = 3,  // the last direction, else the other one
  NavFirst = 4,     // the smallest image name other than the current one
  NavLast = 5,      // the largest image name other than the current one
};

// Finds the image next to currentPath in the folder's name order (one pass
// over the listing held in *listingSlot, replaced when stale) and writes its
// full path to outPath (260 units).
bool FindNeighbourFile(ImageCache& cache, Ref<FolderListing>* listingSlot, NavigationMode mode, wchar_t* outPath,
                       const wchar_t* currentPath, const CancelFlag* cancel = nullptr);

// The viewer's step: the neighbour in `direction` (NavNext or NavPrevious),
// wrapping to the first or last image when there is none, and skipping
// images that `open` refuses. Gives up after one full pass, so a folder of
// files that all fail never loops. `wrapped` tells the caller to beep.
struct StepResult {
  bool found = false;
  bool wrapped = false;
};
StepResult StepToImage(ImageCache& cache, Ref<FolderListing>* listingSlot, NavigationMode direction,
                       const wchar_t* currentPath, const std::function<bool(const wchar_t* path)>& open,
                       wchar_t* outPath);

}  // namespace pv
