#include "SampleTable.h"

namespace qt {

void SampleTable::add(uint64_t offset, uint32_t size, uint32_t duration) {
  if (!timeRuns_.empty() && timeRuns_.back().duration == duration)
    ++timeRuns_.back().count;
  else
    timeRuns_.push_back({1, duration});
  sizes_.push_back(size);
  offsets_.push_back(offset);
  totalDuration_ += duration;
}

size_t SampleTable::memoryBytes() const {
  return timeRuns_.capacity() * sizeof(TimeRun) + sizes_.capacity() * sizeof(uint32_t) +
         offsets_.capacity() * sizeof(uint64_t);
}

}  // namespace qt
