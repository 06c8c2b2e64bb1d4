#pragma once
// A main window on the offscreen platform with a scratch settings folder and
// a scripted modal host: no test ever opens a real modal loop.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "console/CDownloaderDlg.h"
#include "console/IniSettings.h"
#include "console/ModalHost.h"
#include "link/Stop.h"
#include "tests/support/ScratchConfig.h"

namespace vantrel::test {

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A window closed by an earlier test stopped its job; start clean.
    stop::Clear();
    settings_ = std::make_unique<IniSettings>(IniSettings::DefaultPath());
  }
  void TearDown() override {
    win_.reset();
    stop::Clear();
  }

  CDownloaderDlg& Window() {
    if (!win_) win_ = std::make_unique<CDownloaderDlg>(settings_.get(), &host_);
    return *win_;
  }
  // Settings as a later run would read them.
  int StoredInt(const char* key, int def = -99) {
    return IniSettings(IniSettings::DefaultPath()).ReadInt("FennikDL", key, def);
  }
  std::string StoredString(const char* key, const std::string& def = "<none>") {
    return IniSettings(IniSettings::DefaultPath()).ReadString("FennikDL", key, def);
  }
  void WriteIni(const std::string& text) {
    std::filesystem::create_directories(scratch_.Folder());
    std::ofstream(IniSettings::DefaultPath()) << text;
  }
  // A file in the scratch folder, with its parent folders.
  std::string MakeFile(const std::string& relative, const std::vector<unsigned char>& bytes) {
    std::filesystem::path p = std::filesystem::path(scratch_.Root()) / relative;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return p.string();
  }
  static void Pump() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  }

  ScratchConfig scratch_;  // first: the settings path depends on it
  ScriptedModalHost host_;
  std::unique_ptr<IniSettings> settings_;
  std::unique_ptr<CDownloaderDlg> win_;
};

// Colour of the log text at the last occurrence of `text` (invalid if absent).
inline QColor LogColourOf(CDownloaderDlg& w, const QString& text) {
  QTextDocument* doc = w.LogView()->document();
  QTextCursor found = doc->find(text, doc->characterCount(), QTextDocument::FindBackward);
  if (found.isNull()) return {};
  QTextCursor at(doc);
  at.setPosition(found.selectionStart() + 1);
  return at.charFormat().foreground().color();
}

}  // namespace vantrel::test
