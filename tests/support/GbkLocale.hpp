// The system code page of the updater's users for the length of a test: a
// GBK locale for LC_CTYPE. scripts/test builds one into a folder of its own
// and names it in UPDATE_TEST_LOCPATH, so nothing needs installing.
#pragma once

#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/CodePage.hpp"

namespace test_support {

class GbkLocale {
 public:
  GbkLocale() : saved_(std::setlocale(LC_CTYPE, nullptr)) {
    const char* own = std::getenv("UPDATE_TEST_LOCPATH");
    if (const char* previous = std::getenv("LOCPATH")) saved_locpath_ = previous;
    // glibc reads LOCPATH on every setlocale call.
    if (own != nullptr && *own != '\0') setenv("LOCPATH", own, 1);
    for (const char* name : {"zh_CN.GBK", "zh_CN.gbk", "zh_CN.GB18030"}) {
      if (std::setlocale(LC_CTYPE, name) != nullptr &&
          platform::SystemCodePage() == platform::CodePage::kDoubleByte936) {
        active_ = true;
        return;
      }
    }
    Restore();
  }
  ~GbkLocale() {
    if (active_) Restore();
  }
  GbkLocale(const GbkLocale&) = delete;
  GbkLocale& operator=(const GbkLocale&) = delete;

  /// False when no GBK locale could be had: the test should skip.
  bool active() const { return active_; }

 private:
  void Restore() {
    std::setlocale(LC_CTYPE, saved_.c_str());
    if (saved_locpath_) {
      setenv("LOCPATH", saved_locpath_->c_str(), 1);
    } else {
      unsetenv("LOCPATH");
    }
  }

  std::string saved_;
  std::optional<std::string> saved_locpath_;
  bool active_ = false;
};

}  // namespace test_support
