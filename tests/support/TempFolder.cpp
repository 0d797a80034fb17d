#include "support/TempFolder.hpp"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace test_support {

TempFolder::TempFolder(const std::string& base) {
  const char* tmpdir = std::getenv("TMPDIR");
  const std::string parent = !base.empty()                          ? base
                             : tmpdir != nullptr && *tmpdir != '\0' ? tmpdir
                                                                    : "/tmp";
  std::string pattern = parent + "/update-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = std::string(buffer.data()) + "/";
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  // Read-only files and folders left by a test must not stop the cleanup.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    std::filesystem::permissions(
        it->path(), std::filesystem::perms::owner_all,
        std::filesystem::perm_options::add | std::filesystem::perm_options::nofollow, ignored);
  }
  std::filesystem::remove_all(path_, ignored);
}

void TempFolder::Write(std::string_view name, std::string_view content) const {
  std::ofstream file(*this / name, std::ios::binary | std::ios::trunc);
  if (!file) throw std::runtime_error("cannot write " + (*this / name));
  file.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string TempFolder::Read(std::string_view name) const {
  std::ifstream file(*this / name, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + (*this / name));
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

bool TempFolder::Exists(std::string_view name) const {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(*this / name, ignored));
}

void TempFolder::MakeFolder(std::string_view name) const {
  std::filesystem::create_directory(*this / name);
}

}  // namespace test_support
