#include "SampleTable.h"

#include <algorithm>

namespace qt {

void SampleTable::add(uint64_t offset, uint32_t size, uint32_t duration, bool sync) {
  // Room first, so that memory running out leaves the tables as they were.
  const auto room = [](auto& v, size_t more) {
    if (v.size() + more > v.capacity()) v.reserve(v.size() * 2 + more);
  };
  room(timeRuns_, 1);
  room(sizes_, 1);
  room(offsets_, 1);
  if (sync && !allSync()) room(laterSyncs_, 1);
  if (!sync && allSync())
    firstNotSync_ = count();
  else if (sync && !allSync())
    laterSyncs_.push_back(count());
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

bool SampleTable::isSync(uint32_t sample) const {
  return sample < firstNotSync_ || std::binary_search(laterSyncs_.begin(), laterSyncs_.end(), sample);
}

void SampleTable::syncSamples(std::vector<uint32_t>& out) const {
  const uint32_t leading = std::min(firstNotSync_, count());
  out.clear();
  out.reserve(leading + laterSyncs_.size());
  for (uint32_t i = 0; i < leading; ++i) out.push_back(i);
  out.insert(out.end(), laterSyncs_.begin(), laterSyncs_.end());
}

size_t SampleTable::memoryBytes() const {
  return timeRuns_.capacity() * sizeof(TimeRun) + sizes_.capacity() * sizeof(uint32_t) +
         offsets_.capacity() * sizeof(uint64_t) + laterSyncs_.capacity() * sizeof(uint32_t);
}

}  // namespace qt
