#include "ui/Application.hpp"

#include <glib.h>

#include <exception>

#include "platform/CodePage.hpp"

namespace ui {

std::string TitleFromExecutable(std::string_view executable_path) {
  std::string_view name =
      platform::FileNamePart(executable_path, "/\\", platform::SystemCodePage());
  name = name.substr(0, name.find('.'));
  if (name.empty()) return {};

  if (g_utf8_validate(name.data(), static_cast<gssize>(name.size()), nullptr)) {
    const char* rest = g_utf8_next_char(name.data());
    const auto first_length = static_cast<std::size_t>(rest - name.data());
    gchar* lowered = g_utf8_strdown(rest, static_cast<gssize>(name.size() - first_length));
    std::string title = std::string(name.substr(0, first_length)) + lowered;
    g_free(lowered);
    return title;
  }
  std::string title(name);
  for (std::size_t i = 1; i < title.size(); ++i) {
    if (title[i] >= 'A' && title[i] <= 'Z') title[i] = static_cast<char>(title[i] + 0x20);
  }
  return title;
}

std::string ErrorBoxText(std::string_view message) {
  std::string text(message);
  if (text.empty()) return text;
  // The last character's first byte decides: a multi-byte character begins
  // with a byte of 0x80 or above and so always sorts after ".".
  std::size_t last = text.size() - 1;
  while (last > 0 && (static_cast<unsigned char>(text[last]) & 0xC0) == 0x80) --last;
  if (static_cast<unsigned char>(text[last]) > static_cast<unsigned char>('.')) text += '.';
  return text;
}

void RunHandler(TApplication& application, const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    application.ShowErrorBox(ErrorBoxText(error.what()));
  } catch (...) {
    application.ShowErrorBox(ErrorBoxText("Unknown error"));
  }
}

}  // namespace ui
