#include "ui/Application.hpp"

#include <gtest/gtest.h>

#include "support/HeadlessApplication.hpp"
#include "ui/Controls.hpp"

namespace {

TEST(Application, TitleFromExecutableName) {
  struct Case {
    const char* path;
    const char* title;
  };
  constexpr Case kCases[] = {
      {"/opt/q/update.exe", "update"}, {"/opt/q/UPDATE.EXE", "Update"},
      {"/opt/q/my.update.exe", "my"},  {"C:\\Q\\UpDate.exe", "Update"},
      {"/opt/q/update", "update"},     {"/opt/q/ÄBC.exe", "Äbc"},
      {"/opt/q/ÉCLAIR.exe", "Éclair"}, {"/opt/q/.hidden", ""},
  };
  for (const Case& c : kCases) EXPECT_EQ(ui::TitleFromExecutable(c.path), c.title) << c.path;
}

TEST(Application, ErrorBoxTextEndsWithAPeriodUnlessPunctuated) {
  struct Case {
    const char* message;
    const char* text;
  };
  constexpr Case kCases[] = {
      {"Stream write error", "Stream write error."},
      {"Unable to write to /q/version.ini", "Unable to write to /q/version.ini."},
      {"code 404", "code 404."},
      {"文件名不安全", "文件名不安全."},
      {"Done.", "Done."},
      {"Stop!", "Stop!"},
      {"(see above)", "(see above)"},
      {"ends with blank ", "ends with blank "},
      {"", ""},
  };
  for (const Case& c : kCases) EXPECT_EQ(ui::ErrorBoxText(c.message), c.text) << c.message;
}

TEST(Application, RunHandlerShowsAnEscapingErrorAndGoesOn) {
  test_support::HeadlessApplication application;
  ui::RunHandler(application, [] { throw std::runtime_error("Stream write error"); });
  ui::RunHandler(application, [&] { application.ShowMessage("next"); });
  EXPECT_EQ(application.Seen(),
            (std::vector<std::string>{"error: Stream write error.", "message: next"}));
}

TEST(Controls, ProgressBarKeepsItsPositionInRange) {
  ui::TProgressBar bar;
  EXPECT_EQ(bar.Max(), 100);
  bar.SetPosition(250);
  EXPECT_EQ(bar.Position(), 100);
  bar.SetMax(40);
  EXPECT_EQ(bar.Position(), 40);
  EXPECT_THROW(bar.SetMax(-1), ui::EInvalidOperation);
  EXPECT_EQ(bar.Max(), 40);
  bar.SetPosition(-3);
  EXPECT_EQ(bar.Position(), 0);
}

}  // namespace
