#pragma once
// The operator's settings: an INI file of "[section]" headers and "key=value"
// lines. Section and key names are matched without regard to case; values
// are kept exactly as given (paths are not escaped or quoted).
//
// Every write goes to disk at once, through a temporary file renamed over the
// old one, so a failed write leaves the previous file whole. Lines the store
// does not understand are kept as they are.
#include <mutex>
#include <optional>
#include <string>

#include "jobs/Console.h"

namespace vantrel {

class IniSettings : public SettingsStore {
 public:
  explicit IniSettings(std::string filePath);

  // The file named after the program in the tool's settings folder:
  // $XDG_CONFIG_HOME/vantrel-downloader/vantrel-downloader.INI (or under
  // ~/.config when XDG_CONFIG_HOME is unset or not an absolute path).
  static std::string DefaultPath();

  int ReadInt(const std::string& section, const std::string& key, int def) override;
  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) override;
  void WriteInt(const std::string& section, const std::string& key, int value) override;
  void WriteString(const std::string& section, const std::string& key, const std::string& value) override;

  const std::string& FilePath() const { return path_; }
  // False after the last write could not be saved (the file is unchanged).
  bool LastWriteOk() const { return lastWriteOk_; }
  std::string LastWriteFailure() const override;

  // Integer text as the store reads it: optional blanks and sign, then
  // decimal digits up to the first other character; no digits give 0, and a
  // number beyond 32 bits is held at the nearest limit.
  static int ParseIntValue(const std::string& text);

 private:
  std::optional<std::string> Lookup(const std::string& section, const std::string& key);
  // Empty when stored; otherwise why not.
  std::string Store(const std::string& section, const std::string& key, const std::string& value);

  std::string path_;
  mutable std::mutex mutex_;
  bool lastWriteOk_ = true;
  std::string lastWriteFailure_;
};

}  // namespace vantrel
