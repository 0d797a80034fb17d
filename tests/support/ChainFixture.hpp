// The update chain in a temporary program folder, against the loopback
// server, with the headless application recording what a person would see.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "MainFrm.hpp"
#include "support/HeadlessApplication.hpp"
#include "support/TempFolder.hpp"
#include "support/TestHttpServer.hpp"

namespace test_support {

/// The folder of the update server that holds the manifest and its files.
inline constexpr char kServerFolder[] = "/quorvicomdata/update/tolvier/";

/// What a person would have seen, as HeadlessApplication records it.
inline std::string Message(std::string_view text) { return "message: " + std::string(text); }
inline std::string ClosedByItself(std::string_view text) {
  return "message (closed by itself): " + std::string(text);
}
inline std::string Error(std::string_view text) { return "error: " + std::string(text); }

/// One program folder, one server and one window, made afresh for each use.
class Chain {
 public:
  Chain();

  /// Serves `answer` for the file `name` (written with "/") of the release.
  void Publish(std::string_view name, test_support::Answer answer);
  /// Serves `text` as the manifest update.ini.
  void PublishManifest(std::string_view text);
  /// Serves a manifest offering `version` with these names as up1, up2, ...
  void PublishRelease(std::string_view version, const std::vector<std::string>& names);
  /// Presses the check button, as the message loop dispatches a click.
  void Click();
  /// Every request so far as "METHOD name", the name relative to the
  /// server's folder ("GET update.ini", "HEAD skin/a.dat").
  std::vector<std::string> Requests() const;

  TempFolder folder;
  test_support::TestHttpServer server;
  HeadlessApplication app;
  TMainForm form;
};

/// A test with a chain of its own; tables of cases make a Chain per case.
class ChainTest : public ::testing::Test, public Chain {};

}  // namespace test_support
