// TOOL_DownloadImageSetUsb: arbitrary record files and handset frames.
#include "protocol/ImageSession.h"
#include "protocol/fuzz/FuzzChecks.h"
#include "protocol/fuzz/FuzzHandset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  fuzz::Init();
  fuzz::Input in(data, size);
  const uint8_t writeMode = in.Byte();
  const uint8_t config = in.Byte();
  static constexpr uint32_t kTypes[] = {0, 3, 5, 6, 7, 0x5000000, 1, 7};
  const uint32_t type = kTypes[config & 7];
  uint8_t flags[6];
  for (auto& f : flags) f = in.Byte() % 3;
  SetSelection(flags[0], flags[1], flags[2], flags[3], flags[4], flags[5]);
  const std::string path = fuzz::FileFromInput(in);
  fuzz::SetHandset(in.Rest(), in.RestSize(), writeMode);

  ComLink link;
  if (!fuzz::OpenFuzzLink(link, kBaud921600)) return 0;
  const int rc = TOOL_DownloadImageSetUsb(kLinkModeUsb, path, link, type, fuzz::CheckProgress);
  fuzz::RequireCode(rc, {0, 1, 205, 210, 212, 213});
  ClosePort(link);
  return 0;
}
