#pragma once
// Points XDG_CONFIG_HOME and XDG_DATA_HOME (on Windows: APPDATA and
// LOCALAPPDATA) at a fresh temporary folder for the lifetime of the object,
// so that a test never reads or writes the user's own settings or station
// log, and restores the previous values (and removes the folder) afterwards.
#include <optional>
#include <string>
#include <vector>

namespace vantrel::test {

class ScratchConfig {
 public:
  ScratchConfig();
  ~ScratchConfig();
  ScratchConfig(const ScratchConfig&) = delete;
  ScratchConfig& operator=(const ScratchConfig&) = delete;

  // The scratch XDG_CONFIG_HOME.
  const std::string& Root() const { return root_; }
  // Root()/vantrel-downloader (not created until something writes there).
  std::string Folder() const;
  // The scratch XDG_DATA_HOME (Root()/data).
  std::string DataRoot() const;

 private:
  static constexpr const char* kVariables[] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "APPDATA", "LOCALAPPDATA"};
  std::string root_;
  std::vector<std::optional<std::string>> previous_;
};

// Removes a folder tree; quiet about what is not there.
void RemoveTree(const std::string& path);

}  // namespace vantrel::test
