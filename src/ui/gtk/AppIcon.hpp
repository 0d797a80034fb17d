// The pictures the program draws itself: its own icon and the stop sign of
// the error box, so that neither depends on an icon theme being installed.
#pragma once

typedef struct _GdkPixbuf GdkPixbuf;

namespace ui::gtk {

/// The side of the application icon, in pixels.
inline constexpr int kAppIconSize = 32;

/// The application icon: a 32 × 32 picture with an alpha channel (a blue
/// rounded square with a white arrow pointing up), as a new reference the
/// caller unrefs. Returns null only when the memory for it cannot be had.
GdkPixbuf* NewAppIcon();

/// The error box's stop sign, `size` × `size` pixels (a red disc with a
/// white cross), as a new reference the caller unrefs. Returns null only
/// when the memory for it cannot be had.
GdkPixbuf* NewStopIcon(int size);

}  // namespace ui::gtk
