// Runs over many files on a few threads, with their results handed on in the
// files' order, as a run over one file after the other would hand them on.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace cli {

// No item: the first of its kind.
inline constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// Does work(i) for i = 0, 1, ... on up to `jobs` threads and calls emit(i, result)
// on the calling thread, in order of i. A thread takes `grain` items at a time
// (more than one where each is quick: fewer hand-overs). Each item starts
// only when mayStart(i) says so; the first refusal ends the run at that item,
// so what is emitted is always items 0 to the returned count. (With a grain
// above 1, items after it may have been done and are not emitted: only for
// work without effects.) An item whose after[i] names an earlier item starts
// only when that one is done: several writes to one file keep their order.
// Results waiting for their turn are bounded, whatever the number of items.
template <class Result>
std::size_t RunInOrder(std::size_t n, unsigned jobs, const std::function<bool(std::size_t)>& mayStart,
                       const std::function<Result(std::size_t)>& work,
                       const std::function<void(std::size_t, Result&)>& emit,
                       const std::vector<std::size_t>* after = nullptr, std::size_t grain = 1) {
  if (jobs <= 1 || n <= 1) {
    std::size_t next = 0;
    for (; next < n && mayStart(next); ++next) {
      Result r = work(next);
      emit(next, r);
    }
    return next;
  }
  grain = std::max<std::size_t>(grain, 1);
  const std::size_t window = std::max<std::size_t>(4, 2 * grain) * jobs;
  std::vector<std::optional<Result>> slots(window);
  std::size_t next = 0, emitted = 0, stopAt = n;  // stopAt: the first item refused
  std::mutex m;
  std::condition_variable changed;
  auto done = [&](std::size_t i) { return i < emitted || slots[i % window].has_value(); };
  auto worker = [&] {
    std::unique_lock lock(m);
    for (;;) {
      changed.wait(lock, [&] { return next >= stopAt || next < emitted + window; });
      if (next >= stopAt) break;
      const std::size_t first = next, last = std::min({stopAt, first + grain, emitted + window});
      next = last;
      if (!after) {
        // The whole range without the lock, then its results in one go.
        lock.unlock();
        std::vector<Result> results;
        std::size_t i = first;
        for (; i < last && mayStart(i); ++i) results.push_back(work(i));
        lock.lock();
        for (std::size_t k = 0; k < results.size(); ++k) slots[(first + k) % window] = std::move(results[k]);
        if (i < last) stopAt = std::min(stopAt, i);
        changed.notify_all();
        continue;
      }
      for (std::size_t i = first; i < last; ++i) {
        lock.unlock();
        const bool start = mayStart(i);
        lock.lock();
        const std::size_t before = (*after)[i];
        if (start && before != kNone) changed.wait(lock, [&] { return done(before) || before >= stopAt; });
        // Refused, after a refusal, or behind an item of the same file that never ran.
        if (!start || i >= stopAt || (before != kNone && before >= stopAt)) {
          stopAt = std::min(stopAt, i);
          changed.notify_all();
          break;
        }
        lock.unlock();
        Result r = work(i);
        lock.lock();
        slots[i % window] = std::move(r);
        changed.notify_all();  // the caller, or a later item of the same file
      }
    }
  };
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < jobs && t * grain < n; ++t) threads.emplace_back(worker);
  {
    std::unique_lock lock(m);
    while (emitted < stopAt) {
      changed.wait(lock, [&] { return emitted >= stopAt || slots[emitted % window]; });
      if (emitted >= stopAt) break;
      // Everything that is ready, in one go, then one wake-up for the threads.
      while (emitted < stopAt && slots[emitted % window]) {
        Result r = std::move(*slots[emitted % window]);
        slots[emitted % window].reset();
        lock.unlock();
        emit(emitted, r);
        lock.lock();
        ++emitted;
      }
      changed.notify_all();
    }
  }
  for (std::thread& t : threads) t.join();
  return emitted;
}

// For each item, the nearest earlier one with the same key, or kNone.
template <class Key>
std::vector<std::size_t> SameKeyBefore(const std::vector<Key>& keys) {
  std::vector<std::size_t> before(keys.size(), kNone);
  std::unordered_map<Key, std::size_t> last;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    auto [at, first] = last.try_emplace(keys[i], i);
    if (!first) before[i] = std::exchange(at->second, i);
  }
  return before;
}

}  // namespace cli
