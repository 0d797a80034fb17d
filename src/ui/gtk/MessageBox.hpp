// The message box and the error box as GTK dialogs. They are only built
// here; the application object runs them, since how long a box stays open
// depends on whether the application is quitting.
#pragma once

#include <string>
#include <string_view>

typedef struct _GdkPixbuf GdkPixbuf;
typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;

namespace ui::gtk {

/// `text` as valid UTF-8 for display: kept when it already is UTF-8,
/// otherwise converted from the locale's character set (a GBK file name in
/// an error message, say), and when even that fails, with each invalid byte
/// replaced by U+FFFD. Never fails.
std::string DisplayText(std::string_view text);

/// What the two boxes differ in.
enum class BoxKind {
  /// No icon, one button "OK".
  kMessage,
  /// A stop sign and GTK's own OK button.
  kError,
};

/// A new, still hidden modal dialog captioned `title`, showing `text`
/// (through DisplayText) wrapped to at most half the screen's width, placed
/// at the centre of the screen and kept in front of `owner` (which may be
/// null), with `icon` (which may be null) as its window icon. Its one
/// button is the default: Enter, Esc, a click and the close button all end
/// it with a "response" signal. The caller destroys it. Never fails short of
/// memory exhaustion, which GLib treats as fatal.
GtkWidget* NewBox(BoxKind kind, GtkWindow* owner, const std::string& title, const std::string& text,
                  GdkPixbuf* icon);

}  // namespace ui::gtk
