// Lets GoogleTest build with MinGW's win32 thread model, the one the shipped programs use: its
// libstdc++ has no std::mutex, which GoogleTest wants only for Notification, a helper of its
// own thread tests. The tests here start no threads, so a flag serves.
#pragma once

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
  public:
    void Notify() { notified_.store(true); }
    void WaitForNotification() {
        while (!notified_.load()) {
        }
    }

  private:
    std::atomic<bool> notified_{false};
};

} // namespace testing::internal
