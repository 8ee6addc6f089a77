// Runs over many files on a few threads, with their results handed on in the
// files' order, as a run over one file after the other would hand them on.
#pragma once

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
// on the calling thread, in order of i. Items are started in order, each only
// when mayStart(i) says so; the first refusal ends the run, so what was
// started, and so emitted, is always items 0 to the returned count. An item
// whose after[i] names an earlier item starts only when that one is done:
// several writes to one file keep their order. At most 4 results per thread
// wait for their turn, whatever the number of items.
template <class Result>
std::size_t RunInOrder(std::size_t n, unsigned jobs, const std::function<bool(std::size_t)>& mayStart,
                       const std::function<Result(std::size_t)>& work,
                       const std::function<void(std::size_t, Result&)>& emit,
                       const std::vector<std::size_t>* after = nullptr) {
  std::size_t next = 0;
  if (jobs <= 1 || n <= 1) {
    for (; next < n && mayStart(next); ++next) {
      Result r = work(next);
      emit(next, r);
    }
    return next;
  }
  const std::size_t window = 4 * std::size_t{jobs};
  std::vector<std::optional<Result>> slots(window);
  std::size_t emitted = 0, running = 0;
  bool refused = false;
  std::mutex m;
  std::condition_variable changed;
  auto done = [&](std::size_t i) { return i < emitted || slots[i % window].has_value(); };
  auto worker = [&] {
    std::unique_lock lock(m);
    for (;;) {
      changed.wait(lock, [&] { return refused || next >= n || next < emitted + window; });
      if (refused || next >= n) break;
      const std::size_t i = next;
      if (!mayStart(i)) {
        refused = true;
        break;
      }
      ++next, ++running;
      if (after && (*after)[i] != kNone) changed.wait(lock, [&] { return done((*after)[i]); });
      lock.unlock();
      Result r = work(i);
      lock.lock();
      slots[i % window] = std::move(r);
      --running;
      changed.notify_all();
    }
    changed.notify_all();
  };
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < jobs && t < n; ++t) threads.emplace_back(worker);
  {
    std::unique_lock lock(m);
    for (;;) {
      changed.wait(lock, [&] { return slots[emitted % window] || ((refused || next >= n) && running == 0); });
      std::optional<Result>& slot = slots[emitted % window];
      if (!slot) break;  // nothing more was started
      Result r = std::move(*slot);
      slot.reset();
      lock.unlock();
      emit(emitted, r);
      lock.lock();
      ++emitted;
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
