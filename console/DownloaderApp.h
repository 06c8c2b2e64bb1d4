#pragma once
// The application object: owns the settings store, runs the main window
// until it is closed, then shows the closing notice.
#include <functional>
#include <memory>

#include "jobs/Console.h"

namespace vantrel {

class CDownloaderDlg;
class ModalHost;

class CDownloaderApp {
 public:
  // Null: the INI file in the tool's settings folder.
  explicit CDownloaderApp(std::unique_ptr<SettingsStore> settings = nullptr);
  ~CDownloaderApp();

  SettingsStore& Settings() { return *settings_; }
  // The main window while Run() is in progress; null otherwise.
  CDownloaderDlg* MainWindow() const { return window_; }

  // Shows the main window and returns when the operator has closed it and
  // answered the closing notice. `host` answers the modal questions (null:
  // the real dialogs); `onShown` runs once the window is up.
  int Run(ModalHost* host = nullptr, std::function<void(CDownloaderDlg&)> onShown = {});

 private:
  std::unique_ptr<SettingsStore> settings_;
  CDownloaderDlg* window_ = nullptr;
};

}  // namespace vantrel
