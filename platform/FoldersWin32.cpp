// The folders on Windows: settings roam with the profile (%APPDATA%), the
// station log and the payloads belong to this machine (%LOCALAPPDATA%).
#include "platform/Folders.h"

namespace vantrel::platform {

namespace {

constexpr const char* kFolderName = "\\vantrel-downloader";

std::string WithoutTrailingSeparator(std::string path) {
  while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  return path;
}

// %variable%, else the profile's folder of the same meaning, else the
// folder the program was started in.
std::string ProfileFolder(const Environment& env, const char* variable, const char* underProfile) {
  if (const std::string value = env(variable); !value.empty()) return WithoutTrailingSeparator(value);
  if (const std::string profile = env("USERPROFILE"); !profile.empty())
    return WithoutTrailingSeparator(profile) + underProfile;
  return ".";
}

}  // namespace

std::string SettingsFolder(const Environment& env) {
  return ProfileFolder(env, "APPDATA", "\\AppData\\Roaming") + kFolderName;
}

std::string DataFolder(const Environment& env) {
  return ProfileFolder(env, "LOCALAPPDATA", "\\AppData\\Local") + kFolderName;
}

std::vector<std::string> PayloadFolders(const Environment& env) { return {DataFolder(env) + "\\payloads"}; }

const char* PathSeparators() { return "/\\"; }

std::string InFolder(const std::string& folder, const std::string& name) { return folder + "\\" + name; }

std::vector<std::string> DataFolderWords(const std::string& name) {
  return {"%LOCALAPPDATA%\\vantrel-downloader\\" + name};
}

std::vector<std::string> SettingsFolderWords(const std::string& name) {
  return {"%APPDATA%\\vantrel-downloader\\" + name};
}

std::vector<std::string> PayloadFolderWords() {
  std::vector<std::string> lines = {"%VANTREL_PAYLOAD_DIR%"};
  for (const std::string& line : DataFolderWords("payloads")) lines.push_back(line);
  return lines;
}

}  // namespace vantrel::platform
