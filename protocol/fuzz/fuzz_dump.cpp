// TOOL_Dump: arbitrary read-back answers and blocks; a sink that may fail.
#include "protocol/Constants.h"
#include "protocol/ReadBack.h"
#include "protocol/fuzz/FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  fuzz::Run run(data, size);
  const uint8_t config = run.in.Byte();
  const LinkMode mode = (config & 1) ? LinkMode::Usb : LinkMode::Uart;
  const uint32_t start = run.in.Word();
  const uint32_t length = run.in.Word();
  const unsigned sinkBudget = config >> 1;  // blocks the sink stores before it fails
  run.Answer();

  unsigned stored = 0;
  const DumpDataCallBack sink = [&](const uint8_t* block, uint32_t n) {
    if (n > proto::kReadBackBuffer || (n != 0 && block == nullptr)) std::abort();
    return stored++ < sinkBudget;
  };
  const DumpProgressCallBack progress = [](uint8_t final, const uint8_t*, uint32_t) {
    if (final > 1) std::abort();
  };

  ComLink link;
  if (!fuzz::OpenFuzzLink(link, kBaud115200)) return 0;
  const Result rc = TOOL_Dump(run.session, mode, "", link, start, length, proto::kCmdNandDump, progress, sink);
  fuzz::RequireCode(rc, {0, 1, 204, 205, 210, 211, 212, 213});
  ClosePort(link);
  return 0;
}
