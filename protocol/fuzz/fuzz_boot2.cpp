// TOOL_DownloadBoot2: the embedded image or a file, UART or USB.
#include "protocol/ImageSession.h"
#include "protocol/fuzz/FuzzChecks.h"
#include "protocol/fuzz/FuzzHandset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  fuzz::Init();
  fuzz::Input in(data, size);
  const uint8_t writeMode = in.Byte();
  const uint8_t config = in.Byte();
  const uint8_t mode = (config & 1) ? kLinkModeUsb : kLinkModeUart;
  const uint32_t address = in.Word();
  std::string path = fuzz::FileFromInput(in);
  if (config & 2) path = "boot2";
  fuzz::SetHandset(in.Rest(), in.RestSize(), writeMode);

  ComLink link;
  if (!fuzz::OpenFuzzLink(link, kBaud115200)) return 0;
  const int rc = TOOL_DownloadBoot2(mode, link, path, address, fuzz::CheckProgress);
  fuzz::RequireCode(rc, {0, 1, 205, 210, 211, 212, 213});
  ClosePort(link);
  return 0;
}
