// The application object on GTK 3: the title, the icon, the message loops
// (the main loop, the loop of each box, and the servicing of the window
// during network waits) and the quit request.
#pragma once

#include <string>

#include "ui/Application.hpp"

typedef struct _GdkPixbuf GdkPixbuf;
typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;

namespace ui::gtk {

class TMainWindow;

/// Initialises GTK and opens the default display (GTK reads its own
/// options from the command line and removes them); from then on, losing an
/// X display ends the process at once with status 0. Returns false when no
/// display can be opened; GTK then can't be used at all.
bool InitToolkit(int* argc, char*** argv);

/// The application object. One per process, made after InitToolkit
/// succeeded and before the main window.
class TGtkApplication final : public ui::TApplication {
 public:
  /// Takes the title from the running executable's file name (by
  /// TitleFromExecutable; empty when the system does not tell the path),
  /// names the application after it and draws the icon, which becomes the
  /// default icon of every window of the process.
  TGtkApplication();
  ~TGtkApplication() override;
  TGtkApplication(const TGtkApplication&) = delete;
  TGtkApplication& operator=(const TGtkApplication&) = delete;

  const std::string& Title() const override;
  /// Runs a box of its own loop in front of the main window, which takes no
  /// input meanwhile but goes on repainting. See ui::TApplication.
  void ShowMessage(const std::string& text) override;
  void ShowErrorBox(const std::string& text) override;
  void ProcessMessages() override;
  void Terminate() override;
  bool Terminated() const override;

  /// The 32 × 32 icon (owned by the application; null only when it could
  /// not be drawn).
  GdkPixbuf* Icon() const { return icon_; }

  /// The window the boxes are kept in front of; null before there is one
  /// and after it is gone.
  void SetMainWindow(GtkWindow* window) { main_window_ = window; }

  /// The main loop: shows `window`, then handles the toolkit's events until
  /// the application is quitting, which happens only once the event whose
  /// handling made the quit request (a click handler, say) has returned.
  void Run(TMainWindow& window);

 private:
  /// A pending quit request turns the application to quitting.
  void TakeQuitRequest();
  /// Shows `box` and runs its loop until it is answered or, when
  /// `closes_when_quitting`, until the application is quitting.
  void RunBox(GtkWidget* box, bool closes_when_quitting);

  std::string title_;
  GdkPixbuf* icon_ = nullptr;
  GtkWindow* main_window_ = nullptr;
  bool quit_pending_ = false;
  bool quitting_ = false;
};

}  // namespace ui::gtk
