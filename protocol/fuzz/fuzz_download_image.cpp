// TOOL_DownloadImage against arbitrary flash driver answers.
#include "protocol/fuzz/FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  fuzz::Run run(data, size);
  const uint8_t selector = static_cast<uint8_t>("qrs"[run.in.Byte() % 3]);
  const uint32_t address = run.in.Word();
  run.session.SetImageCursor(run.in.Byte() % 2 == 0 ? 0 : run.in.Word());
  run.Answer();

  ComLink link;
  link.SetPortName("COM1");
  link.baudCode = kBaud921600;
  const Result rc = TOOL_DownloadImage(run.session, link, address, fuzz::CheckProgress, selector);
  fuzz::RequireCode(rc, {0, 1, 205, 210, 211, 212, 213});
  fuzz::RequireClosed(link);
  return 0;
}
