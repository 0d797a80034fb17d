#include "support/ChainFixture.hpp"

#include "support/OwnTrash.hpp"
#include "ui/Application.hpp"

namespace test_support {

Chain::Chain() : form(app, folder.path(), server.Url(kServerFolder)) { UseOwnTrash(); }

void Chain::Publish(std::string_view name, test_support::Answer answer) {
  server.Route(kServerFolder + std::string(name), std::move(answer));
}

void Chain::PublishManifest(std::string_view text) {
  Publish("update.ini", test_support::Answer::Ok(std::string(text)));
}

void Chain::PublishRelease(std::string_view version, const std::vector<std::string>& names) {
  std::string manifest = "[update]\r\nVersion=" + std::string(version) + "\r\n[updatelist]\r\n";
  for (std::size_t i = 0; i < names.size(); ++i) {
    manifest += "up" + std::to_string(i + 1) + "=" + names[i] + "\r\n";
  }
  PublishManifest(manifest);
}

void Chain::Click() { ui::RunHandler(app, form.Button1.OnClick); }

std::vector<std::string> Chain::Requests() const {
  std::vector<std::string> requests;
  for (const test_support::RecordedRequest& request : server.Requests()) {
    std::string target = request.target;
    if (target.starts_with(kServerFolder)) target.erase(0, std::string_view(kServerFolder).size());
    requests.push_back(request.method + " " + target);
  }
  return requests;
}

}  // namespace test_support
