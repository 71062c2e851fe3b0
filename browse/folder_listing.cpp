#include "browse/folder_listing.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <tuple>

#include "browse/file_names.h"
#include "core/format_registry.h"

namespace pv {

namespace {

// An entry: a length word (name units, terminator included), the name, and
// 24 bytes of information (size, last-write time, directory and hidden
// bytes, six zero bytes). The length word is written last: it publishes the
// entry. 0 means not yet written; the link marker is followed by the 8-byte
// address of the next chunk, or zero at the end of the listing.
constexpr uint32_t kUnitBytes = sizeof(wchar_t);
constexpr uint32_t kLengthBytes = kUnitBytes < 2 ? 2 : kUnitBytes;  // keeps names aligned
constexpr uint32_t kInfoBytes = 24;
constexpr uint32_t kEntryArea = FolderListing::kChunkBytes - kLengthBytes - 8;  // a link always fits after
constexpr uint16_t kLinkMarker = 0xFFFF;

uint16_t LoadLength(const uint8_t* p) {
  return std::atomic_ref<uint16_t>(*const_cast<uint16_t*>(reinterpret_cast<const uint16_t*>(p)))
      .load(std::memory_order_acquire);
}
void PublishLength(uint8_t* p, uint16_t length) {
  std::atomic_ref<uint16_t>(*reinterpret_cast<uint16_t*>(p)).store(length, std::memory_order_release);
}
uint32_t EntryBytes(uint32_t units) { return kLengthBytes + units * kUnitBytes + kInfoBytes; }
uint8_t* LinkTarget(const uint8_t* p) {
  uint8_t* next;
  memcpy(&next, p + kLengthBytes, sizeof next);
  return next;
}

// Readers waiting for the worker yield first, then nap, so a slow folder
// does not spin a processor.
void Backoff(uint32_t& round) {
  if (++round < 64) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

bool SameName(const wchar_t* a, const wchar_t* b) { return CompareNoCase(a, b) == 0; }

}  // namespace

FolderListing::FolderListing(FolderListingManager& owner, const wchar_t* pattern)
    : owner_(Ref<FolderListingManager>::Retain(&owner)) {
  wcsncpy(pattern_, pattern, 259);
  pattern_[259] = 0;
}

FolderListing::~FolderListing() {
  owner_->Unlink(this);
  {
    std::lock_guard<std::mutex> lock(watchLock_);
    watch_.Stop();
  }
  cancel_.store(true, std::memory_order_release);
  reader_.Wait();
  uint8_t* chunk = head_.load(std::memory_order_acquire);
  uint32_t offset = 0;
  while (chunk) {
    uint16_t length = LoadLength(chunk + offset);
    if (length == 0) {  // a copy abandoned before its end marker
      delete[] chunk;
      break;
    }
    if (length == kLinkMarker) {
      uint8_t* next = LinkTarget(chunk + offset);
      delete[] chunk;
      chunk = next;
      offset = 0;
    } else {
      offset += EntryBytes(length);
    }
  }
}

void FolderListing::StartReading() {
  if (reader_.RunLongRunning([this] { Read(); })) return;
  // Nothing will read the folder: walkers see an empty listing that the
  // next request replaces.
  valid_.store(false, std::memory_order_release);
  Finish();
}

void FolderListing::Read() {
  size_t patternLength = wcslen(pattern_);
  SearchFolder(pattern_, [&](const wchar_t* name, const FolderEntryInfo& info) {
    if (cancel_.load(std::memory_order_acquire)) {
      valid_.store(false, std::memory_order_release);
      return false;
    }
    // Folder and name together must fit a path.
    if (patternLength + wcslen(name) + 1 >= 261) return true;
    return Append(name, info);
  });
  Finish();
}

bool FolderListing::Append(const wchar_t* name, const FolderEntryInfo& info) {
  uint32_t units = static_cast<uint32_t>(wcslen(name)) + 1;
  uint32_t bytes = EntryBytes(units);
  if (bytes > kEntryArea) return true;  // cannot be a file name
  if (!tail_ || kEntryArea - tailUsed_ < bytes) {
    uint8_t* chunk = new (std::nothrow) uint8_t[kChunkBytes]();
    if (!chunk) return false;
    if (tail_) {
      memcpy(tail_ + tailUsed_ + kLengthBytes, &chunk, sizeof chunk);
      PublishLength(tail_ + tailUsed_, kLinkMarker);
    } else {
      head_.store(chunk, std::memory_order_release);
    }
    tail_ = chunk;
    tailUsed_ = 0;
  }
  uint8_t* p = tail_ + tailUsed_;
  memcpy(p + kLengthBytes, name, units * kUnitBytes);
  uint8_t* infoBytes = p + kLengthBytes + units * kUnitBytes;
  memcpy(infoBytes, &info.size, 8);
  memcpy(infoBytes + 8, &info.lastWriteTime, 8);
  infoBytes[16] = info.directory;
  infoBytes[17] = info.hidden;
  PublishLength(p, static_cast<uint16_t>(units));
  tailUsed_ += bytes;
  return true;
}

void FolderListing::Finish() {
  // The end marker: a link with a zero address (the chunk is zero-filled).
  if (tail_) PublishLength(tail_ + tailUsed_, kLinkMarker);
  complete_.store(true, std::memory_order_release);
}

const wchar_t* FolderListing::NextEntry(const wchar_t* previousName, FolderEntryInfo* outInfo) const {
  const uint8_t* p;
  uint32_t round = 0;
  if (!previousName) {
    for (;;) {
      // Read complete first: once it is set, everything has been written.
      bool done = IsComplete();
      p = head_.load(std::memory_order_acquire);
      if (p && LoadLength(p) != 0) break;
      if (done) return nullptr;
      Backoff(round);
    }
  } else {
    p = reinterpret_cast<const uint8_t*>(previousName) - kLengthBytes;
    p += EntryBytes(LoadLength(p));
  }
  for (;;) {
    uint16_t length = LoadLength(p);
    if (length == 0) {
      Backoff(round);
      continue;
    }
    if (length != kLinkMarker) {
      const uint8_t* infoBytes = p + kLengthBytes + length * kUnitBytes;
      if (outInfo) {
        memcpy(&outInfo->size, infoBytes, 8);
        memcpy(&outInfo->lastWriteTime, infoBytes + 8, 8);
        outInfo->directory = infoBytes[16] != 0;
        outInfo->hidden = infoBytes[17] != 0;
      }
      return reinterpret_cast<const wchar_t*>(p + kLengthBytes);
    }
    p = LinkTarget(p);
    if (!p) return nullptr;
  }
}

void FolderListing::AddObserver(FolderObserver* observer) {
  {
    std::lock_guard<std::mutex> lock(observerLock_);
    if (std::find(observers_.begin(), observers_.end(), observer) != observers_.end()) return;
    observers_.insert(observers_.begin(), observer);
  }
  UpdateWatching();
}

void FolderListing::RemoveObserver(FolderObserver* observer) {
  {
    std::lock_guard<std::mutex> lock(observerLock_);
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
  }
  UpdateWatching();
}

void FolderListing::Suspend(bool on) {
  if (on) {
    suspendCount_.fetch_add(1, std::memory_order_acq_rel);
    return;
  }
  int32_t n = suspendCount_.load(std::memory_order_relaxed);
  while (n > 0 && !suspendCount_.compare_exchange_weak(n, n - 1, std::memory_order_acq_rel)) {
  }
  if (n != 1) return;
  Ref<FolderListing> current = std::move(successor_);
  if (!changedWhileSuspended_.exchange(false)) return;
  // Something changed the folder meanwhile: the operation's own changes are
  // in the listing already, anything else is not.
  FolderListing& shown = current ? *current : *this;
  if (shown.IsValid() && !shown.MatchesFolder()) shown.Invalidate();
}

bool FolderListing::MatchesFolder() const {
  // A folder's own time and size change with its contents: folders count by name.
  using Entry = std::tuple<std::wstring, bool, uint64_t, uint64_t>;
  const auto entry = [](const wchar_t* name, const FolderEntryInfo& i) {
    return i.directory ? Entry(name, true, 0, 0) : Entry(name, false, i.size, i.lastWriteTime);
  };
  std::set<Entry> listed, found;
  FolderEntryInfo info;
  for (const wchar_t* e = NextEntry(nullptr, &info); e; e = NextEntry(e, &info)) listed.insert(entry(e, info));
  const size_t patternLength = wcslen(pattern_);
  const bool searched = SearchFolder(pattern_, [&](const wchar_t* name, const FolderEntryInfo& i) {
    if (patternLength + wcslen(name) + 1 < 261) found.insert(entry(name, i));
    return true;
  });
  return searched && listed == found;
}

void FolderListing::Invalidate() {
  valid_.store(false, std::memory_order_release);
  std::lock_guard<std::mutex> lock(observerLock_);
  for (FolderObserver* o : observers_) o->FolderChanged();
}

// Watches exactly while there are observers.
void FolderListing::UpdateWatching() {
  std::lock_guard<std::mutex> lock(watchLock_);
  bool wanted;
  {
    std::lock_guard<std::mutex> observers(observerLock_);
    wanted = !observers_.empty();
  }
  if (!wanted) {
    if (watch_.IsWatching() || watchedFromStart_.load(std::memory_order_acquire)) {
      // Unwatched from now on, it could not tell that the folder changed.
      valid_.store(false, std::memory_order_release);
    }
    watch_.Stop();
    return;
  }
  if (watch_.IsWatching()) return;
  // The folder is the pattern without its wildcard name and the separator
  // before it; a drive's root keeps its separator.
  wchar_t folder[260];
  size_t end = FileNameOffset(pattern_);
  if (end > 1 && pattern_[end - 2] != L':') --end;
  wmemcpy(folder, pattern_, end);
  folder[end] = 0;
  // A watch that failed has ended its thread: join it before starting anew.
  watch_.Stop();
  watch_.Start(folder, [this](bool failed) { FolderChanged(failed); });
}

void FolderListing::FolderChanged(bool watchFailed) {
  // Changes went unseen from the failure on: the observers read the folder
  // again, and the new listing watches it anew.
  if (!watchFailed && suspendCount_.load(std::memory_order_acquire) >= 1) {
    changedWhileSuspended_.store(true, std::memory_order_release);
    return;
  }
  Invalidate();
}

bool FolderListing::ReplaceEntry(const wchar_t* name, const wchar_t* newName) {
  reader_.Wait();
  if (!IsValid()) return false;  // stale content is never revived in a copy
  Ref<FolderListing> copy(new (std::nothrow) FolderListing(*owner_, pattern_));
  if (!copy) return false;
  size_t patternLength = wcslen(pattern_);
  bool found = false;
  FolderEntryInfo info;
  for (const wchar_t* e = NextEntry(nullptr, &info); e; e = NextEntry(e, &info)) {
    const wchar_t* keep = e;
    if (!found && SameName(e, name)) {
      found = true;
      keep = newName && patternLength + wcslen(newName) + 1 < 261 ? newName : nullptr;
    }
    if (keep && !copy->Append(keep, info)) return false;
  }
  if (!found) return false;
  copy->Finish();
  // The copy carries on this listing's watch: same observers, watched at once.
  copy->watchedFromStart_.store(watchedFromStart_.load(std::memory_order_acquire), std::memory_order_release);
  {
    std::lock_guard<std::mutex> lock(observerLock_);
    copy->observers_ = observers_;
  }
  copy->UpdateWatching();
  owner_->Link(copy.get());
  if (suspendCount_.load(std::memory_order_acquire) > 0) successor_ = copy;
  owner_->KeepCopy(std::move(copy));
  Invalidate();
  return true;
}

Ref<FolderListing> FolderListingManager::OpenListing(const wchar_t* path, bool lookupOnly, FolderObserver* observer) {
  if (!path || !path[0]) return Ref<FolderListing>();
  wchar_t pattern[260];
  size_t length = wcslen(path);
  bool wildcard = wcschr(path, L'*') != nullptr;
  bool separator = wildcard || path[length - 1] == L'\\' || path[length - 1] == L'/';
  size_t total = length + (wildcard ? 0 : 1) + (separator ? 0 : 1);
  if (total + 1 > 260) return Ref<FolderListing>();
  wmemcpy(pattern, path, length);
  if (!separator) pattern[length++] = kPathSeparator;
  if (!wildcard) pattern[length++] = L'*';
  pattern[length] = 0;

  Ref<FolderListing> listing;
  bool created = false;
  {
    std::lock_guard<std::mutex> lock(lock_);
    for (FolderListing* l : live_) {
      if (l->IsValid() && CompareNoCase(l->pattern_, pattern) == 0 &&
          (!observer || l->watchedFromStart_.load(std::memory_order_acquire)) && l->TryAddRef()) {
        listing = Ref<FolderListing>(l);
        break;
      }
    }
    if (listing) {
      // Opened: an edited copy no longer needs keeping.
      copies_.erase(std::remove_if(copies_.begin(), copies_.end(),
                                   [&](const Ref<FolderListing>& c) { return c.get() == listing.get(); }),
                    copies_.end());
    } else {
      if (lookupOnly) return listing;
      listing = Ref<FolderListing>(new (std::nothrow) FolderListing(*this, pattern));
      if (!listing) return listing;
      live_.insert(live_.begin(), listing.get());
      created = true;
    }
  }
  if (observer) listing->AddObserver(observer);
  if (created) {
    if (observer) listing->watchedFromStart_.store(listing->watch_.IsWatching(), std::memory_order_release);
    reads_.fetch_add(1, std::memory_order_relaxed);
    listing->StartReading();
  }
  return listing;
}

void FolderListingManager::KeepCopy(Ref<FolderListing> copy) {
  std::lock_guard<std::mutex> lock(lock_);
  copies_.erase(std::remove_if(copies_.begin(), copies_.end(),
                               [&](const Ref<FolderListing>& c) { return CompareNoCase(c->pattern_, copy->pattern_) == 0; }),
                copies_.end());
  copies_.push_back(std::move(copy));
}

void FolderListingManager::DropUnopenedCopies() {
  std::vector<Ref<FolderListing>> dropped;
  std::lock_guard<std::mutex> lock(lock_);
  dropped.swap(copies_);
}

void FolderListingManager::Link(FolderListing* listing) {
  std::lock_guard<std::mutex> lock(lock_);
  live_.insert(live_.begin(), listing);
}

void FolderListingManager::Unlink(FolderListing* listing) {
  std::lock_guard<std::mutex> lock(lock_);
  live_.erase(std::remove(live_.begin(), live_.end(), listing), live_.end());
}

}  // namespace pv
