// TOOL_DownloadBoot2: the embedded image or a file, UART or USB.
#include "protocol/fuzz/FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  fuzz::Run run(data, size);
  const uint8_t config = run.in.Byte();
  const LinkMode mode = (config & 1) ? LinkMode::Usb : LinkMode::Uart;
  const uint32_t address = run.in.Word();
  std::string path = fuzz::FileFromInput(run.in);
  if (config & 2) path = "boot2";

  ComLink link;
  if (!run.AnswerOn(link, kBaud115200)) return 0;
  const Result rc = TOOL_DownloadBoot2(run.session, mode, link, path, address, fuzz::CheckProgress);
  fuzz::RequireCode(rc, {0, 1, 205, 210, 211, 212, 213});
  ClosePort(link);
  return 0;
}
