#include "MainFrm.hpp"

#include <chrono>
#include <thread>

#include "Texts.hpp"
#include "Tlhelp323.hpp"
#include "UpdateFiles.hpp"
#include "UpdateServerHost.hpp"
#include "platform/FileCopy.hpp"
#include "platform/Folders.hpp"
#include "platform/MemoryStream.hpp"
#include "platform/ProfileFile.hpp"
#include "platform/ProgramFolder.hpp"
#include "platform/ProgramStart.hpp"
#include "platform/Trash.hpp"

using namespace update_files;

TMainForm* MainForm = nullptr;
std::string UpdateBaseURL =
    std::string("http://") + UpdateServerHost() + "/quorvicomdata/update/tolvier/";

namespace {

/// An entry of the file list that would write outside the program folder.
class EUnsafeListedName : public std::runtime_error {
 public:
  explicit EUnsafeListedName(const std::string& entry)
      : std::runtime_error(texts::kUnsafeListedName + entry) {}
};

std::string LabelText(int announced_count, int file_number) {
  return texts::kLabelTotal + std::to_string(announced_count) + texts::kLabelDownloaded +
         std::to_string(file_number) + texts::kLabelUnit;
}

}  // namespace

TMainForm::TMainForm(ui::TApplication& application, std::string program_folder,
                     std::string base_url)
    : IdHTTP1(&IdAntiFreeze1),
      IdAntiFreeze1([&application] { application.ProcessMessages(); }),
      Button1(texts::kCheckButton),
      application_(application),
      program_folder_(std::move(program_folder)),
      base_url_(std::move(base_url)) {
  Button1.OnClick = [this] { Button1Click(); };
}

std::string TMainForm::Path(const std::string& name) const {
  return platform::FullPath(program_folder_, name);
}

void TMainForm::Button1Click() {
  IdAntiFreeze1.OnlyWhenIdle = false;
  Button1.SetVisible(false);
  CheckVersion();
}

void TMainForm::CheckVersion() {
  platform::TMemoryStream buffer;
  try {
    platform::TIdHTTP http(&IdAntiFreeze1);
    http.Get(base_url_ + kManifestName, buffer);
  } catch (...) {
    application_.ShowMessage(texts::kCheckNetworkError);
    return;
  }
  platform::CreateFolder(Path(kUpdateFolder));
  buffer.SaveToFile(Path(kSavedManifest));
  buffer.Clear();

  const std::string installed =
      platform::TIniFile(Path(kVersionFile)).ReadString("update", "Version", "");
  const std::string offered =
      platform::TIniFile(Path(kSavedManifest)).ReadString("update", "Version", "");
  if (IsNewerVersion(offered, installed)) {
    application_.ShowMessage(texts::kNewVersionFound);
    UpdateStart();
  } else {
    application_.ShowMessage(texts::kAlreadyNewest);
    Deletedir(kUpdateFolder);
    Button1.SetVisible(true);
  }
}

void TMainForm::UpdateStart() {
  IdAntiFreeze1.OnlyWhenIdle = false;
  const FileList list = FileList::Read(platform::TIniFile(Path(kSavedManifest)));
  const int announced_count = list.AnnouncedCount();
  if (const auto unsafe = list.FirstUnsafeEntry()) throw EUnsafeListedName(*unsafe);
  platform::CreateFolder(Path(kUpdateFolder));

  const std::vector<std::string> walk = list.Walk();
  for (std::size_t index = 0; index < walk.size(); ++index) {
    const std::string& name = walk[index];
    const std::string address = base_url_ + name;
    platform::TMemoryStream buffer;
    try {
      IdHTTP1.Head(address);
      RunProgressBar(IdHTTP1.Response.ContentLength);
      platform::TIdHTTP http(&IdAntiFreeze1);
      http.Get(address, buffer);
    } catch (...) {
      buffer.Clear();
      application_.ShowMessage(texts::kDownloadNetworkError);
      return;
    }
    Label1.SetCaption(LabelText(announced_count, static_cast<int>(index + 1)));
    buffer.SaveToFile(Path(kUpdateFolderPrefix + name));
  }
  Install(walk);
}

// The bar's maximum is the file's step count, so the bar ends the file's
// steps full. A file without steps (no length, or one below 5) keeps the bar
// where the last file left it: its maximum is one more than the last
// position, never below 0. The positions 1 up to the step count follow one
// another with nothing between them, so only the last can ever be seen: the
// bar is set straight to it.
void TMainForm::RunProgressBar(int content_length) {
  const int steps = content_length / 5;
  if (steps > 0) {
    ProgressBar1.SetMax(steps);
    ProgressBar1.SetPosition(steps);
    last_position_set_ = steps;
  } else {
    ProgressBar1.SetMax(last_position_set_ + 1);
  }
}

void TMainForm::Install(const std::vector<std::string>& walk) {
  application_.ShowMessage(texts::kDownloadDone);
  StopProcessByName(kMainProgram);
  // The only grace the stopped instances get to let go of their files.
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));

  for (const std::string& name : walk) {
    if (!platform::CopyFileReplacing(Path(kUpdateFolderPrefix + name), Path(name))) {
      application_.ShowMessage(texts::kInstallFailed);
      return;
    }
  }
  const std::string version =
      platform::TIniFile(Path(kSavedManifest)).ReadString("update", "Version", "");
  platform::TIniFile(Path(kVersionFile)).WriteString("update", "version", version);

  application_.ShowMessage(texts::kUpdateSucceeded);
  Deletedir(kUpdateFolder);
  platform::StartProgram(Path(kMainProgram));
  application_.Terminate();
}

void TMainForm::Deletedir(const std::string& name) {
  const std::string path = Path(name);
  if (platform::LiesInside(path, program_folder_)) platform::MoveToTrash(path);
}
