// The main window and the update chain: the check, the download and the
// installation, in the order a person sees them happen.
#pragma once

#include <string>

#include "platform/AntiFreeze.hpp"
#include "platform/HttpClient.hpp"
#include "ui/Application.hpp"
#include "ui/Controls.hpp"

class TMainForm {
 public:
  /// `program_folder` ends with the folder separator; every name is resolved
  /// against it. `base_url` is the update base address, ending with "/".
  TMainForm(ui::TApplication& application, std::string program_folder, std::string base_url);

  ui::TProgressBar ProgressBar1;
  /// The window's own client: the download's HEAD requests go through it, so
  /// cookies set by one HEAD answer go back with the later ones.
  platform::TIdHTTP IdHTTP1;
  platform::TIdAntiFreeze IdAntiFreeze1;
  ui::TButton Button1;
  ui::TLabel Label1;

  /// The check button's handler: starts the whole chain and returns when it is over.
  void Button1Click();
  /// Fetches the manifest, saves it and decides whether to update.
  void CheckVersion();
  /// Downloads every listed file, then installs them and restarts the main program.
  void UpdateStart();
  /// Removes the folder `name` (relative to the program folder) with
  /// everything in it, to the trash; only ever a folder inside the program
  /// folder. Reports nothing.
  void Deletedir(const std::string& name);

 private:
  std::string Path(const std::string& name) const;
  void RunProgressBar(int content_length);
  void Install(const std::vector<std::string>& walk);

  ui::TApplication& application_;
  const std::string program_folder_;
  const std::string base_url_;
  /// The last position given to the bar in this run, -1 before the first.
  int last_position_set_ = -1;
};

/// The main window, from its creation at start-up to shut-down.
extern TMainForm* MainForm;
/// "http://", the update server's host and "/quorvicomdata/update/tolvier/".
extern std::string UpdateBaseURL;
