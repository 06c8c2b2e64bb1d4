#include "tests/support/ScratchConfig.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

namespace vantrel::test {
namespace {

// The C library's own setenv/unsetenv; the Windows runtime has _putenv_s,
// where an empty value removes the variable.
void SetVariable(const char* name, const std::optional<std::string>& value) {
#ifdef _WIN32
  ::_putenv_s(name, value ? value->c_str() : "");
#else
  if (value) ::setenv(name, value->c_str(), 1);
  else ::unsetenv(name);
#endif
}

std::optional<std::string> Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

std::string MakeScratchFolder() {
  namespace fs = std::filesystem;
  const char* tmp = std::getenv("TMPDIR");
  const fs::path base = tmp != nullptr && tmp[0] == '/' ? fs::path(tmp) : fs::temp_directory_path();
  std::mt19937_64 random(std::random_device{}() ^
                         static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path folder = base / ("vantrel-test-" + std::to_string(random() % 1000000000));
    std::error_code ec;
    if (fs::create_directory(folder, ec)) {
      fs::permissions(folder, fs::perms::owner_all, ec);
      return folder.generic_string();
    }
  }
  throw std::runtime_error("cannot make a scratch folder in " + base.string());
}

}  // namespace

ScratchConfig::ScratchConfig() : root_(MakeScratchFolder()) {
  // XDG on Linux, the profile folders on Windows; each platform reads its own.
  for (const char* name : kVariables) {
    previous_.push_back(Variable(name));
  }
  SetVariable("XDG_CONFIG_HOME", root_);
  // The station log of the programs under test goes here too.
  SetVariable("XDG_DATA_HOME", DataRoot());
  SetVariable("APPDATA", root_);
  SetVariable("LOCALAPPDATA", DataRoot());
}

ScratchConfig::~ScratchConfig() {
  for (size_t i = 0; i < std::size(kVariables); ++i) SetVariable(kVariables[i], previous_[i]);
  RemoveTree(root_);
}

std::string ScratchConfig::Folder() const { return root_ + "/vantrel-downloader"; }

std::string ScratchConfig::DataRoot() const { return root_ + "/data"; }

void RemoveTree(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

}  // namespace vantrel::test
