#include "SampleTable.h"

namespace qt {

void SampleTable::add(uint64_t offset, uint32_t size, uint32_t duration) {
  // Room first, so that memory running out leaves the tables as they were.
  const auto room = [](auto& v, size_t more) {
    if (v.size() + more > v.capacity()) v.reserve(v.size() * 2 + more);
  };
  room(timeRuns_, 1);
  room(sizes_, 1);
  room(offsets_, 1);
  if (!timeRuns_.empty() && timeRuns_.back().duration == duration)
    ++timeRuns_.back().count;
  else
    timeRuns_.push_back({1, duration});
  sizes_.push_back(size);
  offsets_.push_back(offset);
  totalDuration_ += duration;
}

void SampleTable::durationsFrom(uint32_t first, std::vector<uint32_t>& out) const {
  out.assign(count() - first, 0);
  size_t at = out.size();
  for (size_t r = timeRuns_.size(); r-- > 0 && at > 0;) {
    for (uint32_t n = timeRuns_[r].count; n > 0 && at > 0; --n) out[--at] = timeRuns_[r].duration;
  }
}

size_t SampleTable::memoryBytes() const {
  return timeRuns_.capacity() * sizeof(TimeRun) + sizes_.capacity() * sizeof(uint32_t) +
         offsets_.capacity() * sizeof(uint64_t);
}

}  // namespace qt
