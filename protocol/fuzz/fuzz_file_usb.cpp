// TOOL_DownloadFileUsb: one file, arbitrary handset frames.
#include "protocol/ImageSession.h"
#include "protocol/fuzz/FuzzChecks.h"
#include "protocol/fuzz/FuzzHandset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  fuzz::Init();
  fuzz::Input in(data, size);
  const uint8_t writeMode = in.Byte();
  const uint32_t address = in.Word();
  const std::string path = fuzz::FileFromInput(in);
  fuzz::SetHandset(in.Rest(), in.RestSize(), writeMode);

  ComLink link;
  if (!fuzz::OpenFuzzLink(link, kBaud921600)) return 0;
  const int rc = TOOL_DownloadFileUsb(kLinkModeUsb, path, link, address, fuzz::CheckProgress);
  fuzz::RequireCode(rc, {0, 1, 205, 210, 212, 213});
  ClosePort(link);
  return 0;
}
