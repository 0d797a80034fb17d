// The main window on GTK 3: the window of the form, its three controls at
// their places, and the binding between the controls' state objects in
// TMainForm and the widgets that show them.
#pragma once

class TMainForm;

typedef struct _GtkCssProvider GtkCssProvider;
typedef struct _GtkWidget GtkWidget;

namespace ui::gtk {

class TGtkApplication;

class TMainWindow {
 public:
  /// Builds the window, still hidden: caption, place (362, 236), a fixed
  /// client area of 359 × 82, the label, the progress bar and the check
  /// button showing the state of `form`'s controls and following every later
  /// change of it. A press of the button runs `form.Button1.OnClick` through
  /// ui::RunHandler; closing the window makes `application`'s quit request
  /// and nothing else. The window becomes `application`'s main window. Both
  /// must outlive this object. Never fails short of memory exhaustion,
  /// which GLib treats as fatal.
  TMainWindow(TGtkApplication& application, TMainForm& form);
  /// Unbinds the controls and destroys the window.
  ~TMainWindow();
  TMainWindow(const TMainWindow&) = delete;
  TMainWindow& operator=(const TMainWindow&) = delete;

  /// Shows the window at its place, with the check button focused.
  void Show();

 private:
  void Bind();
  void ShowLabel();
  void ShowProgress();
  void ShowButton();

  TGtkApplication& application_;
  TMainForm& form_;
  GtkCssProvider* style_ = nullptr;
  GtkWidget* window_ = nullptr;
  GtkWidget* label_ = nullptr;
  GtkWidget* progress_bar_ = nullptr;
  GtkWidget* button_ = nullptr;
};

}  // namespace ui::gtk
