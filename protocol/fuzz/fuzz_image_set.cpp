// TOOL_DownloadImageSet: arbitrary record files and loader answers.
#include "protocol/Constants.h"
#include "protocol/fuzz/FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  fuzz::Run run(data, size);
  const uint8_t config = run.in.Byte();
  const LinkMode mode = (config & 1) ? LinkMode::Usb : LinkMode::Uart;
  static constexpr uint32_t kTypes[] = {0, 3, 5, 6, 7, 0x5000000, 1, 0xFFFFFFFF};
  const uint32_t type = kTypes[(config >> 1) & 7];
  run.SelectRecords();
  const std::string path = fuzz::FileFromInput(run.in);

  ComLink link;
  if (!run.AnswerOn(link, kBaud115200)) return 0;
  const Result rc = TOOL_DownloadImageSet(run.session, mode, link, path, type, fuzz::CheckProgress);
  fuzz::RequireCode(rc, {0, 1, 203, 205, 210, 211, 212, 213});  // 203: the file is no record file
  ClosePort(link);
  return 0;
}
