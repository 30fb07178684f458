#pragma once
// Polling with a time limit, for tests that wait on another thread or process.
#include <chrono>
#include <thread>

namespace snaplark::test {

// Polls `find` every 20 ms until it yields a value or the time is up.
template <typename Find>
auto WaitFor(Find find, std::chrono::milliseconds limit = std::chrono::seconds(30)) -> decltype(find()) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (auto found = find()) return found;
    if (std::chrono::steady_clock::now() >= end) return decltype(find()){};
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace snaplark::test
