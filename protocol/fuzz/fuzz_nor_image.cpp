// TOOL_DownloadNorImage: plain and record layouts, arbitrary loader answers.
#include "protocol/Constants.h"
#include "protocol/ReadBack.h"
#include "protocol/fuzz/FuzzChecks.h"
#include "protocol/fuzz/FuzzHandset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  fuzz::Init();
  fuzz::Input in(data, size);
  const uint8_t writeMode = in.Byte();
  const uint8_t config = in.Byte();
  const uint8_t mode = (config & 1) ? kLinkModeUsb : kLinkModeUart;
  uint32_t address = in.Word();
  if (config & 2) address = (config & 4) ? proto::kNorRecordMarker : proto::kNorRecordMarkerBoot;
  const uint32_t length = in.Word();
  const std::string path = fuzz::FileFromInput(in);
  fuzz::SetHandset(in.Rest(), in.RestSize(), writeMode);

  ComLink link;
  if (!fuzz::OpenFuzzLink(link, kBaud115200)) return 0;
  const int rc = TOOL_DownloadNorImage(mode, link, path, address, length, fuzz::CheckProgress);
  fuzz::RequireCode(rc, {0, 205, 210, 212});
  ClosePort(link);
  return 0;
}
