#pragma once

#include <atomic>

/// One operation's stop request: the caller owns it and cancels it; the engine only
/// reads it and never clears it. A new operation takes a new token.
class CancelToken {
 public:
  CancelToken() = default;
  CancelToken(const CancelToken&) = delete;
  CancelToken& operator=(const CancelToken&) = delete;

  /// Safe from a signal handler.
  void Cancel() { cancelled_.store(true, std::memory_order_relaxed); }
  [[nodiscard]] bool Cancelled() const { return cancelled_.load(std::memory_order_relaxed); }

 private:
  std::atomic<bool> cancelled_{false};
  static_assert(std::atomic<bool>::is_always_lock_free);
};
