#include <gio/gio.h>

#include "platform/Trash.hpp"

namespace platform {

namespace {

// Deletes a file or a folder with everything in it, as far as it can. A
// symbolic link is removed itself; what it points to is never entered.
void DeleteTree(GFile* file) {
  const bool is_folder = g_file_query_file_type(file, G_FILE_QUERY_INFO_NOFOLLOW_SYMLINKS,
                                                nullptr) == G_FILE_TYPE_DIRECTORY;
  GFileEnumerator* children =
      !is_folder ? nullptr
                 : g_file_enumerate_children(file, G_FILE_ATTRIBUTE_STANDARD_NAME,
                                             G_FILE_QUERY_INFO_NOFOLLOW_SYMLINKS, nullptr, nullptr);
  if (children != nullptr) {
    GFileInfo* info = nullptr;
    GFile* child = nullptr;
    while (g_file_enumerator_iterate(children, &info, &child, nullptr, nullptr) &&
           child != nullptr) {
      DeleteTree(child);
    }
    g_object_unref(children);
  }
  g_file_delete(file, nullptr, nullptr);
}

}  // namespace

void MoveToTrash(const std::string& path) {
  GFile* file = g_file_new_for_path(path.c_str());
  GError* error = nullptr;
  if (!g_file_trash(file, nullptr, &error)) {
    // A volume without a trash (or one we may not use) is the only reason
    // to delete outright; a missing path stays a silent no-op.
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_NOT_SUPPORTED)) DeleteTree(file);
    g_error_free(error);
  }
  g_object_unref(file);
}

}  // namespace platform
