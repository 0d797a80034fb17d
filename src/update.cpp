// The program's entry: start-up, the main loop and shut-down. Whatever
// happens, the process ends with exit status 0.
#include <cstdio>

#include "MainFrm.hpp"
#include "platform/ProgramFolder.hpp"
#include "ui/gtk/GtkApplication.hpp"
#include "ui/gtk/MainWindow.hpp"

int main(int argc, char** argv) {
  try {
    if (!ui::gtk::InitToolkit(&argc, &argv)) {
      std::fputs("update: cannot open the display\n", stderr);
      return 0;
    }
    ui::gtk::TGtkApplication application;
    {
      TMainForm form(application, platform::ProgramFolder(), UpdateBaseURL);
      MainForm = &form;
      {
        ui::gtk::TMainWindow window(application, form);
        application.Run(window);
      }
      MainForm = nullptr;
    }
    UpdateBaseURL.clear();
  } catch (...) {
    // Nothing is left to report to: the exit status stays 0.
    MainForm = nullptr;
  }
  return 0;
}
