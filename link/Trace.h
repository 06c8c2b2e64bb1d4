#pragma once
// Developer traces ("Updater: ..."). Standard error by default; tests and the
// command-line front end install their own sink.
#include <functional>
#include <string_view>

namespace vantrel {

using TraceSink = std::function<void(std::string_view)>;

void Trace(std::string_view text);
// Installs a sink; an empty function restores standard error. Returns the old one.
TraceSink SetTraceSink(TraceSink sink);
// Discards traces (the sink does nothing).
void MuteTraces();

}  // namespace vantrel
