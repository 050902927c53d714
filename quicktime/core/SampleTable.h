// The per-sample bookkeeping of one media: durations as runs, sizes, the
// file offset of each sample (one sample per chunk, since each is written to
// the file the moment it is added), and which samples are sync samples (key
// frames).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qt {

struct TimeRun {
  uint32_t count;
  uint32_t duration;
};

class SampleTable {
 public:
  // Appends one sample. The caller has checked that size and duration are
  // positive, that the total duration stays within 31 bits and that the
  // first sample is a sync sample. Throws std::bad_alloc when memory runs
  // out, the table then unchanged.
  void add(uint64_t offset, uint32_t size, uint32_t duration, bool sync = true);

  uint32_t count() const { return uint32_t(sizes_.size()); }
  uint64_t totalDuration() const { return totalDuration_; }
  const std::vector<TimeRun>& timeRuns() const { return timeRuns_; }
  const std::vector<uint32_t>& sizes() const { return sizes_; }
  const std::vector<uint64_t>& offsets() const { return offsets_; }
  // The duration of each sample from `first` on, into `out`. The runs are
  // walked from the end, so the work is that of the samples asked for.
  void durationsFrom(uint32_t first, std::vector<uint32_t>& out) const;
  // True while every sample is a sync sample: the file then lists none.
  bool allSync() const { return firstNotSync_ == kNone; }
  bool isSync(uint32_t sample) const;
  // The 0-based numbers of the sync samples, ascending, into `out`.
  void syncSamples(std::vector<uint32_t>& out) const;
  // True once an offset no longer fits in a 32-bit chunk offset table.
  bool needsLargeOffsets() const { return !offsets_.empty() && offsets_.back() > UINT32_MAX; }
  // Bytes held by the tables, including spare capacity.
  size_t memoryBytes() const;

 private:
  std::vector<TimeRun> timeRuns_;
  std::vector<uint32_t> sizes_;
  std::vector<uint64_t> offsets_;
  uint64_t totalDuration_ = 0;
  // Sync samples kept as what they cost in a recording with a key frame
  // every second or two: every sample before the first that is not one, and
  // after it only the numbers of those that are.
  static constexpr uint32_t kNone = UINT32_MAX;
  uint32_t firstNotSync_ = kNone;
  std::vector<uint32_t> laterSyncs_;
};

}  // namespace qt
