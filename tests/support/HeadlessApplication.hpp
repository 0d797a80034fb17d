// The application without a window: it records, in order, what a person
// would have seen (message boxes, error boxes) and lets a test act where a
// person would (close the window while the chain waits on the network).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/Application.hpp"

namespace test_support {

class HeadlessApplication : public ui::TApplication {
 public:
  explicit HeadlessApplication(std::string title = "update") : title_(std::move(title)) {}

  const std::string& Title() const override { return title_; }

  /// Records "message: <text>", or "message (closed by itself): <text>"
  /// when quitting; then runs OnMessage, as a person reading the box would.
  void ShowMessage(const std::string& text) override;
  /// Records "error: <text>".
  void ShowErrorBox(const std::string& text) override;
  /// Counts the call, runs OnProcessMessages (a test's stand-in for the
  /// window's events), then takes a pending quit request.
  void ProcessMessages() override;
  void Terminate() override { quit_pending_ = true; }
  bool Terminated() const override { return terminated_; }

  /// True once a quit request was made, taken or not.
  bool QuitRequested() const { return quit_pending_ || terminated_; }
  const std::vector<std::string>& Seen() const { return seen_; }
  int ProcessMessagesCalls() const { return process_messages_calls_; }

  /// Runs while a message box is open, given its text.
  std::function<void(const std::string&)> OnMessage;
  /// Runs each time the window is serviced during a network wait.
  std::function<void()> OnProcessMessages;

 private:
  void TakeQuitRequest();

  std::string title_;
  std::vector<std::string> seen_;
  bool quit_pending_ = false;
  bool terminated_ = false;
  int process_messages_calls_ = 0;
};

}  // namespace test_support
