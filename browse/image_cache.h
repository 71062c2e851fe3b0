#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "browse/folder_listing.h"
#include "browse/navigation.h"
#include "core/counted.h"
#include "core/decoder.h"
#include "core/image_buffer.h"
#include "core/task_group.h"

namespace pv {

// Signalled when a prefetch job ends, whatever its outcome.
class PrefetchCompletion : public CountedObject {
 public:
  void Signal();
  void Wait();
  // False when the time ran out first.
  bool WaitFor(uint32_t milliseconds);

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool signalled_ = false;
};

class PrefetchJob;

// Runs on the prefetch worker after a decode: what a window will want of the
// image besides its pixels (its display, built ahead), kept beside the cached
// image until taken. Null when there is nothing to keep.
using PrefetchPreparer = std::function<Ref<CountedObject>(ImageBuffer& image, const CancelFlag* cancel)>;

// Decoding may take many times a file's size: a prefetch that checks memory
// goes ahead only while 64 times the file's size is free.
bool PrefetchFitsMemory(uint64_t fileBytes, uint64_t availableBytes);

// The process's small most-recently-used store of decoded images, and the
// background decoding of the image the user will most likely ask for next.
// An image is cached under its path, last-write time text and size text;
// changing the file on disk makes its entry miss.
class ImageCache {
 public:
  static constexpr uint32_t kMaxCapacity = 16;

  ImageCache();
  ImageCache(const ImageCache&) = delete;
  ImageCache& operator=(const ImageCache&) = delete;
  ~ImageCache();

  // Capacity for n open viewer windows: 3 for up to one window, then
  // min(n + 4, 16) for 2 or 3 windows and min(n + 5, 16) from 4 on.
  static uint32_t CapacityForWindows(uint32_t windows);
  // Lowering it releases the entries beyond it, from the end.
  void SetCapacity(uint32_t capacity);
  uint32_t Capacity();
  uint32_t Count();

  // Decode options: index 0 goes to prefetch jobs, index 1 to the cached
  // load. A set option decodes into screen-compatible buffers. Returns the
  // old value.
  uint8_t SetDecodeOption(uint32_t which, uint8_t value);

  FolderListingManager& Listings() { return *listings_; }
  NavigationMode LastDirection() const { return static_cast<NavigationMode>(lastDirection_.load()); }
  void SetLastDirection(NavigationMode mode) { lastDirection_.store(mode); }

  // Whether the file as it is on disk now is cached.
  bool IsCached(const wchar_t* path);
  // The cached image for the key (time and size read from the file when
  // not given), made the most recently used; null when not cached.
  Ref<ImageBuffer> TakeCachedImage(const wchar_t* path, const wchar_t* timeText = nullptr,
                                   const wchar_t* sizeText = nullptr);
  // Caches the head of the image's frame chain under its own key, unless
  // already cached; a full cache drops its last entry first.
  void AddToCache(ImageBuffer& image, bool atEnd);
  void EvictFromCache(const wchar_t* path);
  void ClearImageCache();

  // Decodes in the background the image that `mode` finds from `path`.
  // False when path is empty, the image is already cached (NavExisting) or
  // no job can be made.
  bool SchedulePrefetch(const wchar_t* path, NavigationMode mode, bool checkMemory,
                        Ref<PrefetchCompletion> completion = {}, Ref<ProgressSink> progress = {},
                        PrefetchPreparer prepare = {});
  // What the prefetch's preparer made for this cached image, once: the
  // entry no longer holds it.
  Ref<CountedObject> TakePrepared(const ImageBuffer& image);
  bool HasPendingPrefetches();
  // Makes running jobs give up, drops queued ones and waits for them all.
  void CancelPrefetches();

  // The cached image when there is one; else decodes now (extension first,
  // then content). A prefetch of the same file is awaited instead of
  // repeated; other prefetches are cancelled. Into *out when it already
  // holds a buffer.
  Status LoadImageThroughCache(Ref<ImageBuffer>* out, const wchar_t* path, ProgressSink* progress = nullptr);
  // The same from a decoder the caller already opened.
  Status LoadImageThroughCache(Ref<ImageBuffer>* out, ImageDecoder& decoder, ProgressSink* progress,
                               const CancelFlag* cancel);

 private:
  friend class PrefetchJob;
  // Caller holds lock_; the key texts are read before taking it.
  int FindCachedIndex(const wchar_t* path, const wchar_t* timeText, const wchar_t* sizeText);
  Ref<ImageBuffer> TakeCachedImage(const wchar_t* path, const wchar_t* timeText, const wchar_t* sizeText,
                                   bool makeRecent);
  void InsertLocked(ImageBuffer& head, bool atEnd, Ref<CountedObject> prepared = {});
  Status DecodeWith(ImageDecoder& decoder, Ref<ImageBuffer>* out, ProgressSink* progress, const CancelFlag* cancel);
  // Waits for the prefetch that decodes this path, if one does; else
  // cancels the others.
  void SettlePrefetchesFor(const wchar_t* path, ProgressSink* progress);
  void RunJob(PrefetchJob& job);

  std::mutex lock_;
  struct Entry {
    Ref<ImageBuffer> image;
    Ref<CountedObject> prepared;
  };
  std::vector<Entry> entries_;  // index 0 is the most recently used
  uint32_t capacity_ = 3;
  TaskGroup prefetch_;
  CancelFlag cancelling_{0};
  std::atomic<uint8_t> decodeOption_[2] = {0, 0};
  Ref<FolderListingManager> listings_;
  std::atomic<uint8_t> lastDirection_{NavNext};

  std::mutex jobsLock_;
  std::vector<std::weak_ptr<PrefetchJob>> jobs_;  // newest first
};

}  // namespace pv
