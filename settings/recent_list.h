#pragma once
// The recent folders, stored as the registry value "RecentList": zero-
// terminated UTF-8 paths, most recent first, then an empty string. The
// last of the 1024 bytes is the dirty mark and never holds list bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pv {

class RecentList {
 public:
  static constexpr uint32_t recentCapacity = 1024;
  static constexpr uint32_t kDirtyMark = recentCapacity - 1;
  // A path of 259 UTF-16 units is at most 777 bytes of UTF-8; a stored
  // entry may be up to 779 bytes before its terminator.
  static constexpr uint32_t kMaxEntryBytes = 780;
  static constexpr uint32_t kDefaultMax = 16;

  RecentList() = default;

  // Takes the stored bytes. A value that cannot be a list (too large, an
  // entry without terminator, an over-long entry, control characters) gives
  // the empty list. Entries beyond recentMax are cut off. Clears the dirty mark.
  void Load(const uint8_t* data, size_t size);

  // Puts a folder at the front: an entry equal to it ignoring ASCII case is
  // removed, the oldest entries are dropped until it fits. Nothing changes
  // when it already heads the list. False for an empty or over-long path.
  bool PutInFront(std::string_view path);

  // Empties the list and marks it dirty, so that the stored value goes too.
  void Clear();

  uint32_t recentUsed() const { return recentUsed_; }  // bytes, the final empty string included
  uint32_t recentCount() const { return recentCount_; }
  uint32_t recentMax() const { return recentMax_; }
  const uint8_t* recentBytes() const { return recentBytes_; }
  bool Dirty() const { return recentBytes_[kDirtyMark] != 0; }
  void ClearDirty() { recentBytes_[kDirtyMark] = 0; }

  // Entry i (0 most recent), or empty beyond the count.
  std::string_view Entry(uint32_t i) const;

 private:
  void Reset();

  uint32_t recentUsed_ = 1;
  uint32_t recentCount_ = 0;
  uint32_t recentMax_ = kDefaultMax;
  uint8_t recentBytes_[recentCapacity] = {};
};

}  // namespace pv
