// The anti-freeze: keeps the window serviced while a network request blocks
// the one thread. The HTTP client calls it at the points where it waits;
// the anti-freeze decides whether to hand control to the window.
#pragma once

#include <chrono>
#include <functional>
#include <utility>

namespace platform {

class TIdAntiFreeze {
 public:
  /// `process_messages` handles every message waiting for the window and
  /// returns without waiting for new ones.
  explicit TIdAntiFreeze(std::function<void()> process_messages)
      : process_messages_(std::move(process_messages)) {}

  /// Takes part at all.
  bool Active = true;
  /// Each time it takes part it handles every waiting message (always so here).
  bool ApplicationHasPriority = true;
  /// The longest slice, in milliseconds, into which a wait for data is cut.
  int IdleTimeOut = 250;
  /// Take part only after a wait slice in which no data arrived.
  bool OnlyWhenIdle = true;

  /// The longest slice of a connection attempt: the smaller of 125 ms and IdleTimeOut.
  std::chrono::milliseconds ConnectSlice() const {
    return std::chrono::milliseconds(IdleTimeOut < 125 ? IdleTimeOut : 125);
  }

  /// Called by the network layer after a slice of waiting (or after a piece
  /// of data was sent or received, with `data_moved` true). Services the
  /// window when Active, unless data moved and OnlyWhenIdle is set.
  void DoProcess(bool data_moved) const {
    if (Active && (!data_moved || !OnlyWhenIdle) && process_messages_) process_messages_();
  }

 private:
  std::function<void()> process_messages_;
};

}  // namespace platform
