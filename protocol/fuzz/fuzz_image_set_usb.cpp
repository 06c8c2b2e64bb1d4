// TOOL_DownloadImageSetUsb: arbitrary record files and handset frames.
#include "protocol/fuzz/FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  fuzz::Run run(data, size);
  const uint8_t config = run.in.Byte();
  static constexpr uint32_t kTypes[] = {0, 3, 5, 6, 7, 0x5000000, 1, 7};
  const uint32_t type = kTypes[config & 7];
  run.SelectRecords();
  const std::string path = fuzz::FileFromInput(run.in);

  ComLink link;
  if (!run.AnswerOn(link, kBaud921600)) return 0;
  const Result rc = TOOL_DownloadImageSetUsb(run.session, LinkMode::Usb, path, link, type, fuzz::CheckProgress);
  fuzz::RequireCode(rc, {0, 1, 203, 205, 210, 212, 213});  // 203: the file is no record file
  ClosePort(link);
  return 0;
}
