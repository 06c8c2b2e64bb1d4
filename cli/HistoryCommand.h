#pragma once
// `vantrel-cli history`: the station log, filtered, as text, CSV or JSON Lines.
#include <cstdio>
#include <string>
#include <vector>

namespace vantrel::cli {

// `args` follow the word "history". Returns the exit status.
int RunHistoryCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace vantrel::cli
