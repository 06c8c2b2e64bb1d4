#include "tests/support/ScratchConfig.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace vantrel::test {

ScratchConfig::ScratchConfig() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/vantrel-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
  root_ = pattern;
  if (const char* old = std::getenv("XDG_CONFIG_HOME")) previous_ = old;
  if (const char* old = std::getenv("XDG_DATA_HOME")) previousData_ = old;
  ::setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
  // The station log of the programs under test goes here too.
  ::setenv("XDG_DATA_HOME", DataRoot().c_str(), 1);
}

ScratchConfig::~ScratchConfig() {
  if (previous_) {
    ::setenv("XDG_CONFIG_HOME", previous_->c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
  if (previousData_) ::setenv("XDG_DATA_HOME", previousData_->c_str(), 1);
  else ::unsetenv("XDG_DATA_HOME");
  RemoveTree(root_);
}

std::string ScratchConfig::Folder() const { return root_ + "/vantrel-downloader"; }

std::string ScratchConfig::DataRoot() const { return root_ + "/data"; }

void RemoveTree(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

}  // namespace vantrel::test
