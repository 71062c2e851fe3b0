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

  // The folder is watched while a listing has observers. A listing that was
  // watched and no longer is turns invalid: it could not follow the folder.
  void AddObserver(FolderObserver* observer);
  void RemoveObserver(FolderObserver* observer);
  // While suspended (the program's own file operations), changes do not
  // invalidate the listing at once; watching goes on. When the last
  // suspension ends after a change, the listing (or the copy that replaced
  // it) is compared with the folder, and a difference that the program did
  // not show itself, another program's change, invalidates it.
  void Suspend(bool on);
  // Shows a rename (or, without newName, a removal) without reading the
  // folder again: the edited copy becomes the folder's listing, watched for
  // the same observers, and this one turns invalid, so walkers of this one
  // are never disturbed. Refused on a listing that is no longer valid.
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
  void FolderChanged(bool watchFailed);
  void UpdateWatching();
  void Invalidate();
  // Whether every entry of the folder now is in the listing, and no other.
  bool MatchesFolder() const;

  Ref<FolderListingManager> owner_;
  wchar_t pattern_[260];
  std::atomic<uint8_t*> head_{nullptr};
  uint8_t* tail_ = nullptr;  // writer only
  uint32_t tailUsed_ = 0;    // writer only
  std::atomic<bool> complete_{false};
  std::atomic<bool> cancel_{false};
  std::atomic<bool> valid_{true};
  std::atomic<int32_t> suspendCount_{0};
  std::atomic<bool> changedWhileSuspended_{false};
  // Watched since before its entries were read (or made from one that was):
  // it has seen every change since, so it may be handed to observers.
  std::atomic<bool> watchedFromStart_{false};
  TaskGroup reader_;
  Ref<FolderListing> successor_;  // the edited copy made by ReplaceEntry, while suspended

  std::mutex observerLock_;
  std::vector<FolderObserver*> observers_;
  std::mutex watchLock_;  // serialises starting and stopping the watch
  ChangeWatch watch_;
};

// Hands out one shared listing per folder.
class FolderListingManager : public CountedObject {
 public:
  // The listing of a folder path (or a path with a wildcard): a live, valid
  // one when there is, else a new one being read, unless lookupOnly. With an
  // observer, the listing is watched for it, and only a listing watched
  // since before it was read is reused; a new one is watched before its
  // reading starts, so no change falls between the two.
  Ref<FolderListing> OpenListing(const wchar_t* path, bool lookupOnly = false, FolderObserver* observer = nullptr);
  // How many listings have been read from their folders.
  uint32_t FolderReads() const { return reads_.load(std::memory_order_relaxed); }
  // Lets go of the edited copies that nobody has opened yet.
  void DropUnopenedCopies();

 private:
  friend class FolderListing;
  void Link(FolderListing* listing);
  void Unlink(FolderListing* listing);
  // Keeps an edited copy alive until someone opens its folder: one per
  // folder, so copies of copies never chain.
  void KeepCopy(Ref<FolderListing> copy);

  std::mutex lock_;
  std::vector<FolderListing*> live_;  // most recent first; weak
  std::vector<Ref<FolderListing>> copies_;  // edited copies not yet opened
  std::atomic<uint32_t> reads_{0};
};

}  // namespace pv
