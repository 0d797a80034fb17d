// The application object as the update chain sees it: the user-facing
// services of the shell. The GTK binding implements it for the real window;
// the test tree has a headless twin that records what a person would see.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace ui {

class TApplication {
 public:
  virtual ~TApplication() = default;

  /// The caption of every message box and error box (see TitleFromExecutable).
  virtual const std::string& Title() const = 0;

  /// The message box: modal, captioned with the title, one button "OK".
  /// Returns when the user has dismissed it. When the application is
  /// quitting, or a quit request is pending, it closes by itself as soon as
  /// it has been shown, and the application is then quitting.
  virtual void ShowMessage(const std::string& text) = 0;

  /// The error box for an exception that left a handler: `text` (already
  /// given its final "." by ErrorBoxText), the title as caption, a stop icon,
  /// one button. Always waits for the user, also when quitting.
  virtual void ShowErrorBox(const std::string& text) = 0;

  /// Handles every message waiting for the window, one after the other,
  /// without waiting for new ones. A pending quit request taken here turns
  /// the application to quitting.
  virtual void ProcessMessages() = 0;

  /// The quit request: returns at once. The application turns to quitting
  /// when a message loop next takes the request; the main loop then ends
  /// once the running handler has returned.
  virtual void Terminate() = 0;

  /// True once the application is quitting; it never turns back.
  virtual bool Terminated() const = 0;
};

/// The application title: the executable's file name without its folder,
/// cut at its first "." and with every character after the first in lower
/// case ("UPDATE.EXE" gives "Update", "my.update.exe" gives "my").
/// A UTF-8 name is lowered by the Unicode rules, any other name in its ASCII
/// letters only; a multi-byte first character is kept whole. The folder
/// ends at the last "/" (or "\").
std::string TitleFromExecutable(std::string_view executable_path);

/// The error box's text for an exception message: the message, with "."
/// appended when it is not empty and its last character sorts after "."
/// (a letter, a digit or a multi-byte character; not ".", "!" or ")").
std::string ErrorBoxText(std::string_view message);

/// Runs a handler as the message loop does: an exception that leaves it is
/// shown in the error box and goes no further.
void RunHandler(TApplication& application, const std::function<void()>& handler);

}  // namespace ui
