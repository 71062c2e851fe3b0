#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "browse/change_watch.h"
#include "browse/file_system.h"
#include "core/counted.h"
#include "core/task_group.h"

namespace pv {

class FolderListingManager;

// Told when a watched folder changed. Runs on the watcher's thread, so an
// observer only posts a message to its window.
class FolderObserver {
 public:
  virtual void FolderChanged() = 0;

 protected:
  ~FolderObserver() = default;
};

// A shared, live snapshot of one folder. A worker reads the entries into
// 4 KiB chunks while readers already walk them; name pointers stay valid as
// long as the listing lives, because nothing is ever moved in place. A
// listing is never refreshed: once the folder changed it turns invalid and
// the next request reads the folder anew.
class FolderListing : public CountedObject {
 public:
  static constexpr uint32_t kChunkBytes = 4096;

  const wchar_t* Pattern() const { return pattern_; }
  // The first entry (previousName null) or the one after previousName, a
  // pointer this listing returned. Waits for entries still being read.
  // Null at the end.
  const wchar_t* NextEntry(const wchar_t* previousName, FolderEntryInfo* outInfo = nullptr) const;
  bool IsValid() const { return valid_.load(std::memory_order_acquire); }
  bool IsComplete() const { return complete_.load(std::memory_order_acquire); }

  void AddObserver(FolderObserver* observer);
  void RemoveObserver(FolderObserver* observer);
  // While suspended, changes (the program's own file operations) do not
  // invalidate the listing and the folder is not watched.
  void Suspend(bool on);
  // Shows a rename (or, without newName, a removal) without reading the
  // folder again: the edited copy becomes the folder's listing and this one
  // turns invalid, so walkers of this one are never disturbed.
  bool ReplaceEntry(const wchar_t* name, const wchar_t* newName);

 private:
  friend class FolderListingManager;
  FolderListing(FolderListingManager& owner, const wchar_t* pattern);
  ~FolderListing() override;

  void StartReading();
  void Read();
  // Appends one entry (the single writer); false when memory ran out.
  bool Append(const wchar_t* name, const FolderEntryInfo& info);
  void Finish();
  void FolderChanged();
  void UpdateWatching();

  Ref<FolderListingManager> owner_;
  wchar_t pattern_[260];
  std::atomic<uint8_t*> head_{nullptr};
  uint8_t* tail_ = nullptr;  // writer only
  uint32_t tailUsed_ = 0;    // writer only
  std::atomic<bool> complete_{false};
  std::atomic<bool> cancel_{false};
  std::atomic<bool> valid_{true};
  std::atomic<int32_t> suspendCount_{0};
  TaskGroup reader_;
  Ref<FolderListing> successor_;  // the edited copy made by ReplaceEntry

  std::mutex observerLock_;
  std::vector<FolderObserver*> observers_;
  std::mutex watchLock_;  // serialises starting and stopping the watch
  ChangeWatch watch_;
};

// Hands out one shared listing per folder.
class FolderListingManager : public CountedObject {
 public:
  // The listing of a folder path (or a path with a wildcard): a live, valid
  // one when there is, else a new one being read, unless lookupOnly.
  Ref<FolderListing> OpenListing(const wchar_t* path, bool lookupOnly = false);

 private:
  friend class FolderListing;
  void Link(FolderListing* listing);
  void Unlink(FolderListing* listing);

  std::mutex lock_;
  std::vector<FolderListing*> live_;  // most recent first; weak
};

}  // namespace pv
