// TOOL_DownloadImageSet: arbitrary record files and loader answers.
#include "protocol/Constants.h"
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
  static constexpr uint32_t kTypes[] = {0, 3, 5, 6, 7, 0x5000000, 1, 0xFFFFFFFF};
  const uint32_t type = kTypes[(config >> 1) & 7];
  uint8_t flags[6];
  for (auto& f : flags) f = in.Byte() % 3;
  SetSelection(flags[0], flags[1], flags[2], flags[3], flags[4], flags[5]);
  const std::string path = fuzz::FileFromInput(in);
  fuzz::SetHandset(in.Rest(), in.RestSize(), writeMode);

  ComLink link;
  if (!fuzz::OpenFuzzLink(link, kBaud115200)) return 0;
  const int rc = TOOL_DownloadImageSet(mode, link, path, type, fuzz::CheckProgress);
  fuzz::RequireCode(rc, {0, 1, 205, 210, 211, 212, 213});
  ClosePort(link);
  return 0;
}
