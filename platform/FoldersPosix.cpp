// The folders on Linux, by the base-directory convention: a variable that
// is unset, empty or not an absolute path means its default under the home.
#include <pwd.h>
#include <unistd.h>

#include "platform/Folders.h"

namespace vantrel::platform {

namespace {

constexpr const char* kFolderName = "/vantrel-downloader";

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// $HOME, else the account's home from the user database; empty when neither
// names one.
std::string Home(const Environment& env) {
  const std::string home = env("HOME");
  if (!home.empty()) return WithoutTrailingSlash(home);
  const passwd* pw = ::getpwuid(::getuid());
  return pw != nullptr && pw->pw_dir != nullptr && pw->pw_dir[0] != '\0' ? WithoutTrailingSlash(pw->pw_dir) : "";
}

// $variable when it holds an absolute path, else `underHome` in the home;
// empty when there is neither.
std::string BaseFolder(const Environment& env, const char* variable, const char* underHome) {
  const std::string value = env(variable);
  if (!value.empty() && value[0] == '/') return WithoutTrailingSlash(value);
  const std::string home = Home(env);
  return home.empty() ? "" : home + underHome;
}

}  // namespace

std::string SettingsFolder(const Environment& env) {
  const std::string base = BaseFolder(env, "XDG_CONFIG_HOME", "/.config");
  return (base.empty() ? "/tmp/.config" : base) + kFolderName;
}

std::string DataFolder(const Environment& env) {
  const std::string base = BaseFolder(env, "XDG_DATA_HOME", "/.local/share");
  return (base.empty() ? "/tmp/.local/share" : base) + kFolderName;
}

std::vector<std::string> PayloadFolders(const Environment& env) {
  std::vector<std::string> out;
  const std::string sub = std::string(kFolderName) + "/payloads";
  if (const std::string base = BaseFolder(env, "XDG_DATA_HOME", "/.local/share"); !base.empty())
    out.push_back(base + sub);
  std::string dirs = env("XDG_DATA_DIRS");
  if (dirs.empty()) dirs = "/usr/local/share:/usr/share";
  for (size_t begin = 0; begin <= dirs.size();) {
    size_t end = dirs.find(':', begin);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = dirs.substr(begin, end - begin);
    if (!dir.empty() && dir[0] == '/') out.push_back(WithoutTrailingSlash(dir) + sub);
    begin = end + 1;
  }
  return out;
}

const char* PathSeparators() { return "/"; }

std::string InFolder(const std::string& folder, const std::string& name) { return folder + "/" + name; }

std::vector<std::string> DataFolderWords(const std::string& name) {
  return {"$XDG_DATA_HOME/vantrel-downloader/" + name, "(default ~/.local/share/vantrel-downloader/" + name + ")"};
}

std::vector<std::string> SettingsFolderWords(const std::string& name) {
  return {"$XDG_CONFIG_HOME/vantrel-downloader/" + name, "(default ~/.config/vantrel-downloader/" + name + ")"};
}

std::vector<std::string> PayloadFolderWords() {
  std::vector<std::string> lines = DataFolderWords("payloads");
  lines.back() = "(~/.local/share/vantrel-downloader/payloads)";
  lines.insert(lines.begin(), "$VANTREL_PAYLOAD_DIR");
  lines.insert(lines.end(), {"each $XDG_DATA_DIRS folder + /vantrel-downloader/payloads",
                             "(/usr/local/share/..., /usr/share/...)"});
  return lines;
}

}  // namespace vantrel::platform
