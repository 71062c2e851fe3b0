#include "browse/image_cache.h"

#include <algorithm>
#include <chrono>
#include <cwchar>
#include <memory>
#include <new>
#include <string>

#include "browse/file_names.h"
#include "browse/file_system.h"
#include "core/file_io.h"
#include "core/format_registry.h"
#include "core/pixel_convert.h"
#include "core/text.h"

namespace pv {

namespace {

constexpr size_t kKeyTextUnits = 64;

// The time and size texts of a file as decoders write them into an image's
// properties; false when the file cannot be opened.
bool ReadKeyTexts(const wchar_t* path, wchar_t* timeText, wchar_t* sizeText) {
  FileHandle file = OpenFileForRead(path);
  if (file == kNoFile) return false;
  uint64_t time;
  if (!FileLastWriteTime(file, &time) || !FormatFileTime(timeText, kKeyTextUnits, time)) timeText[0] = 0;
  int64_t size = FileSize64(file);
  CloseFile(file);
  if (size < 0) return false;
  return FormatText(sizeText, kKeyTextUnits, L"%llu", static_cast<unsigned long long>(size)) > 0;
}

bool SameText(const wchar_t* a, const wchar_t* b) { return CompareNoCase(a ? a : L"", b ? b : L"") == 0; }

// A key text of an image or decoder; a missing one is empty.
const wchar_t* KeyText(PropertySet& p, uint32_t id) {
  const wchar_t* t = p.GetText(id);
  return t ? t : L"";
}

ImageBuffer& ChainHead(ImageBuffer& image) {
  ImageBuffer* head = &image;
  while (head->Frame().previous) head = head->Frame().previous;
  return *head;
}

bool IsRawName(const wchar_t* path) {
  const wchar_t* name = path + FileNameOffset(path);
  size_t n = wcslen(name);
  return n > 4 && CompareNoCase(name + n - 4, L".raw") == 0;
}

// Forwards a job's progress to a sink that a waiting load may hand over
// while the job runs.
class JobProgress final : public ProgressSink {
 public:
  void SetTarget(Ref<ProgressSink> target) {
    std::lock_guard<std::mutex> lock(mutex_);
    target_ = std::move(target);
  }
  void Progress(int32_t done, int32_t total) override {
    // Called outside the lock: a slow sink would otherwise hold the lock
    // nearly all the time and starve a load handing over its own sink.
    Ref<ProgressSink> target;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      target = target_;
    }
    if (target) target->Progress(done, total);
  }

 private:
  std::mutex mutex_;
  Ref<ProgressSink> target_;
};

}  // namespace

void PrefetchCompletion::Signal() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
  }
  done_.notify_all();
}

void PrefetchCompletion::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return signalled_; });
}

bool PrefetchCompletion::WaitFor(uint32_t milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return done_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return signalled_; });
}

// One scheduled prefetch. It unlinks itself and signals its completion when
// it is destroyed, whether it ran or was dropped from the queue.
class PrefetchJob : public std::enable_shared_from_this<PrefetchJob> {
 public:
  PrefetchJob(ImageCache& owner, const wchar_t* path, NavigationMode mode, bool checkMemory,
              Ref<PrefetchCompletion> completion, Ref<ProgressSink> progress, PrefetchPreparer prepare)
      : owner_(owner),
        mode_(mode),
        decodeOption_(owner.decodeOption_[0].load()),
        checkMemory_(checkMemory),
        completion_(std::move(completion)),
        progress_(new JobProgress),
        prepare_(std::move(prepare)) {
    wcsncpy(path_, path, kMaxPathUnits - 1);
    path_[kMaxPathUnits - 1] = 0;
    progress_->SetTarget(std::move(progress));
  }
  ~PrefetchJob() {
    {
      std::lock_guard<std::mutex> lock(owner_.jobsLock_);
      auto& jobs = owner_.jobs_;
      jobs.erase(std::remove_if(jobs.begin(), jobs.end(), [](const std::weak_ptr<PrefetchJob>& j) { return j.expired(); }),
                 jobs.end());
    }
    finished_->Signal();
    if (completion_) completion_->Signal();
  }

  ImageCache& owner_;
  wchar_t path_[kMaxPathUnits];  // where the search starts
  wchar_t target_[kMaxPathUnits] = {};  // the file it decodes, once found; under jobsLock_
  Ref<PrefetchCompletion> finished_{new PrefetchCompletion};
  NavigationMode mode_;
  uint8_t decodeOption_;
  bool checkMemory_;
  Ref<PrefetchCompletion> completion_;
  Ref<JobProgress> progress_;
  PrefetchPreparer prepare_;
};

ImageCache::ImageCache() : listings_(new FolderListingManager) {}

ImageCache::~ImageCache() {
  CancelPrefetches();
  ClearImageCache();
  listings_->DropUnopenedCopies();
}

uint32_t ImageCache::CapacityForWindows(uint32_t windows) {
  if (windows <= 1) return 3;
  return std::min(windows + (windows <= 3 ? 4u : 5u), kMaxCapacity);
}

void ImageCache::SetCapacity(uint32_t capacity) {
  capacity = std::clamp(capacity, 1u, kMaxCapacity);
  std::vector<Entry> dropped;
  {
    std::lock_guard<std::mutex> lock(lock_);
    capacity_ = capacity;
    while (entries_.size() > capacity_) {
      dropped.push_back(std::move(entries_.back()));
      entries_.pop_back();
    }
  }
}

uint32_t ImageCache::Capacity() {
  std::lock_guard<std::mutex> lock(lock_);
  return capacity_;
}

uint32_t ImageCache::Count() {
  std::lock_guard<std::mutex> lock(lock_);
  return static_cast<uint32_t>(entries_.size());
}

uint8_t ImageCache::SetDecodeOption(uint32_t which, uint8_t value) {
  return which < 2 ? decodeOption_[which].exchange(value) : 0;
}

int ImageCache::FindCachedIndex(const wchar_t* path, const wchar_t* timeText, const wchar_t* sizeText) {
  if (!path || !path[0] || entries_.empty()) return -1;
  for (size_t i = 0; i < entries_.size(); ++i) {
    PropertySet& p = entries_[i].image->Properties();
    if (SameText(p.GetText(kPropPath), path) && SameText(p.GetText(kPropFileTime), timeText) &&
        SameText(p.GetText(kPropFileSize), sizeText)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

bool ImageCache::IsCached(const wchar_t* path) { return static_cast<bool>(TakeCachedImage(path, nullptr, nullptr, false)); }

Ref<ImageBuffer> ImageCache::TakeCachedImage(const wchar_t* path, const wchar_t* timeText, const wchar_t* sizeText) {
  return TakeCachedImage(path, timeText, sizeText, true);
}

Ref<ImageBuffer> ImageCache::TakeCachedImage(const wchar_t* path, const wchar_t* timeText, const wchar_t* sizeText,
                                             bool makeRecent) {
  if (!path || !path[0]) return Ref<ImageBuffer>();
  // The file is opened for its key outside the lock: a slow or unreachable
  // file must not hold up the other windows and the prefetch workers.
  wchar_t ownTime[kKeyTextUnits], ownSize[kKeyTextUnits];
  if (!timeText || !sizeText) {
    if (!ReadKeyTexts(path, ownTime, ownSize)) return Ref<ImageBuffer>();
    if (!timeText) timeText = ownTime;
    if (!sizeText) sizeText = ownSize;
  }
  std::lock_guard<std::mutex> lock(lock_);
  int i = FindCachedIndex(path, timeText, sizeText);
  if (i >= 0 && !makeRecent) return entries_[static_cast<size_t>(i)].image;
  if (i < 0) return Ref<ImageBuffer>();
  std::rotate(entries_.begin(), entries_.begin() + i, entries_.begin() + i + 1);
  return entries_.front().image;
}

void ImageCache::InsertLocked(ImageBuffer& head, bool atEnd, Ref<CountedObject> prepared) {
  PropertySet& p = head.Properties();
  const wchar_t* path = KeyText(p, kPropPath);
  if (!path[0] || FindCachedIndex(path, KeyText(p, kPropFileTime), KeyText(p, kPropFileSize)) >= 0) return;
  if (entries_.size() >= capacity_) entries_.pop_back();
  Entry entry{Ref<ImageBuffer>::Retain(&head), std::move(prepared)};
  if (atEnd) {
    entries_.push_back(std::move(entry));
  } else {
    entries_.insert(entries_.begin(), std::move(entry));
  }
}

void ImageCache::AddToCache(ImageBuffer& image, bool atEnd) {
  std::lock_guard<std::mutex> lock(lock_);
  InsertLocked(ChainHead(image), atEnd);
}

Ref<CountedObject> ImageCache::TakePrepared(const ImageBuffer& image) {
  std::lock_guard<std::mutex> lock(lock_);
  for (Entry& e : entries_) {
    if (e.image.get() == &image) return std::move(e.prepared);
  }
  return Ref<CountedObject>();
}

void ImageCache::EvictFromCache(const wchar_t* path) {
  Entry evicted;
  std::lock_guard<std::mutex> lock(lock_);
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (SameText(it->image->Properties().GetText(kPropPath), path)) {
      evicted = std::move(*it);
      entries_.erase(it);
      return;
    }
  }
}

void ImageCache::ClearImageCache() {
  std::lock_guard<std::mutex> lock(lock_);
  while (!entries_.empty()) entries_.pop_back();
}

bool ImageCache::SchedulePrefetch(const wchar_t* path, NavigationMode mode, bool checkMemory,
                                  Ref<PrefetchCompletion> completion, Ref<ProgressSink> progress,
                                  PrefetchPreparer prepare) {
  if (!path || !path[0] || mode > NavLast) return false;
  if (mode == NavExisting && IsCached(path)) return false;
  auto job = std::shared_ptr<PrefetchJob>(
      new (std::nothrow) PrefetchJob(*this, path, mode, checkMemory, std::move(completion), std::move(progress),
                                     std::move(prepare)));
  if (!job) return false;
  {
    std::lock_guard<std::mutex> lock(jobsLock_);
    jobs_.insert(jobs_.begin(), job);
  }
  prefetch_.Run([this, job] { RunJob(*job); });
  return true;
}

bool ImageCache::HasPendingPrefetches() {
  std::lock_guard<std::mutex> lock(jobsLock_);
  return !jobs_.empty();
}

void ImageCache::CancelPrefetches() {
  cancelling_.store(1);
  prefetch_.Cancel();
  prefetch_.Reset();
  cancelling_.store(0);
}

bool PrefetchFitsMemory(uint64_t fileBytes, uint64_t availableBytes) {
  // Divided, not multiplied, so that no file size can wrap the estimate.
  return availableBytes / 64 >= fileBytes;
}

void ImageCache::RunJob(PrefetchJob& job) {
  // Which file: the path itself, or its neighbour (wrapping when there is
  // none in the last direction).
  wchar_t target[kMaxPathUnits];
  Ref<FolderListing> listing;
  const CancelFlag* cancel = &cancelling_;
  bool found;
  if (job.mode_ == NavContinue) {
    NavigationMode last = LastDirection();
    found = FindNeighbourFile(*this, &listing, last, target, job.path_, cancel) ||
            FindNeighbourFile(*this, &listing, last == NavPrevious ? NavLast : NavFirst, target, job.path_, cancel);
  } else {
    found = FindNeighbourFile(*this, &listing, job.mode_, target, job.path_, cancel);
  }
  if (!found || IsCached(target) || IsRawName(target)) return;
  {
    std::lock_guard<std::mutex> lock(jobsLock_);
    wcscpy(job.target_, target);
  }
  if (job.checkMemory_) {
    FileHandle file = OpenFileForRead(target);
    if (file != kNoFile) {
      int64_t size = FileSize64(file);
      CloseFile(file);
      if (size > 0 && !PrefetchFitsMemory(static_cast<uint64_t>(size), AvailablePageFileBytes())) return;
    }
  }
  if (IsCancelled(cancel)) return;
  Ref<ImageDecoder> decoder;
  if (Failed(OpenImage(target, false, &decoder)) || IsCancelled(cancel)) return;
  Ref<ImageBuffer> image;
  if (Failed(CreateBufferFor(*decoder, job.decodeOption_ != 0, false, &image)) || IsCancelled(cancel)) return;
  if (Failed(decoder->Decode(*image, true, job.progress_.get(), cancel))) return;
  job.progress_->Progress(100, 100);
  decoder.Reset();
  Ref<CountedObject> prepared;
  if (job.prepare_) prepared = job.prepare_(*image, cancel);
  std::lock_guard<std::mutex> lock(lock_);
  InsertLocked(*image, true, std::move(prepared));
}

void ImageCache::SettlePrefetchesFor(const wchar_t* path, ProgressSink* progress) {
  std::shared_ptr<PrefetchJob> same;
  {
    std::lock_guard<std::mutex> lock(jobsLock_);
    if (jobs_.empty()) return;
    for (const std::weak_ptr<PrefetchJob>& j : jobs_) {
      std::shared_ptr<PrefetchJob> job = j.lock();
      if (job && path && path[0] && CompareNoCase(job->target_, path) == 0) {
        same = std::move(job);
        break;
      }
    }
  }
  if (!same) return CancelPrefetches();
  // The job decoding this very file is awaited, not repeated; its result
  // arrives in the cache.
  same->progress_->SetTarget(Ref<ProgressSink>::Retain(progress));
  Ref<PrefetchCompletion> finished = same->finished_;
  same.reset();
  finished->Wait();
}

Status ImageCache::DecodeWith(ImageDecoder& decoder, Ref<ImageBuffer>* out, ProgressSink* progress,
                              const CancelFlag* cancel) {
  if (!*out) {
    Status s = CreateBufferFor(decoder, decodeOption_[1].load() != 0, false, out);
    if (Failed(s)) return s;
  }
  return decoder.Decode(**out, true, progress, cancel);
}

Status ImageCache::LoadImageThroughCache(Ref<ImageBuffer>* out, const wchar_t* path, ProgressSink* progress) {
  SettlePrefetchesFor(path, progress);
  if (Ref<ImageBuffer> cached = TakeCachedImage(path)) {
    if (*out) return ConvertInto(**out, *cached, true);
    *out = std::move(cached);
    return kStatusOk;
  }
  Ref<ImageDecoder> decoder;
  Status s = OpenImage(path, true, &decoder);
  if (Failed(s)) return s;
  return DecodeWith(*decoder, out, progress, nullptr);
}

Status ImageCache::LoadImageThroughCache(Ref<ImageBuffer>* out, ImageDecoder& decoder, ProgressSink* progress,
                                         const CancelFlag* cancel) {
  const wchar_t* path = KeyText(decoder, kPropPath);
  SettlePrefetchesFor(path, progress);
  if (Ref<ImageBuffer> cached = TakeCachedImage(path, KeyText(decoder, kPropFileTime), KeyText(decoder, kPropFileSize))) {
    if (*out) return ConvertInto(**out, *cached, true);
    *out = std::move(cached);
    return kStatusOk;
  }
  if (IsCancelled(cancel)) return kStatusCancelled;
  return DecodeWith(decoder, out, progress, cancel);
}

}  // namespace pv
