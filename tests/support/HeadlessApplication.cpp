#include "support/HeadlessApplication.hpp"

namespace test_support {

void HeadlessApplication::TakeQuitRequest() {
  if (quit_pending_) {
    quit_pending_ = false;
    terminated_ = true;
  }
}

void HeadlessApplication::ShowMessage(const std::string& text) {
  // The box's own loop takes a pending quit request first, and a quitting
  // application's box closes by itself.
  TakeQuitRequest();
  if (terminated_) {
    seen_.push_back("message (closed by itself): " + text);
    return;
  }
  seen_.push_back("message: " + text);
  if (OnMessage) OnMessage(text);
}

void HeadlessApplication::ShowErrorBox(const std::string& text) {
  seen_.push_back("error: " + text);
}

void HeadlessApplication::ProcessMessages() {
  ++process_messages_calls_;
  if (OnProcessMessages) OnProcessMessages();
  TakeQuitRequest();
}

}  // namespace test_support
