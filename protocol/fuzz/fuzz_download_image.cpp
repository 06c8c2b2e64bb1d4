// TOOL_DownloadImage against arbitrary flash driver answers.
#include "protocol/ImageSession.h"
#include "protocol/fuzz/FuzzChecks.h"
#include "protocol/fuzz/FuzzHandset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  fuzz::Init();
  fuzz::Input in(data, size);
  const uint8_t writeMode = in.Byte();
  const uint8_t selector = static_cast<uint8_t>("qrs"[in.Byte() % 3]);
  const uint32_t address = in.Word();
  SetImageCursor(in.Byte() % 2 == 0 ? 0 : in.Word());
  fuzz::SetHandset(in.Rest(), in.RestSize(), writeMode);

  ComLink link;
  link.SetPortName("COM1");
  link.baudCode = kBaud921600;
  const int rc = TOOL_DownloadImage(link, address, fuzz::CheckProgress, selector);
  fuzz::RequireCode(rc, {0, 1, 205, 210, 211, 212, 213});
  fuzz::RequireClosed(link);
  return 0;
}
