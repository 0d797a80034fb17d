// The peer of the start-up benchmark: a plain GTK 3 window with what the
// updater's window holds (the same caption, a progress bar, a label and the
// check button), shown as soon as the toolkit is up. Closing it ends it.
#include <gtk/gtk.h>

#include "Texts.hpp"

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), texts::kWindowCaption);
  gtk_window_set_default_size(GTK_WINDOW(window), 359, 82);
  gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
  gtk_box_pack_start(GTK_BOX(box), gtk_progress_bar_new(), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), gtk_label_new(""), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), gtk_button_new_with_label(texts::kCheckButton), FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(window), box);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
