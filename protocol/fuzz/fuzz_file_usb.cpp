// TOOL_DownloadFileUsb: one file, arbitrary handset frames.
#include "protocol/fuzz/FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  fuzz::Run run(data, size);
  const uint32_t address = run.in.Word();
  const std::string path = fuzz::FileFromInput(run.in);

  ComLink link;
  if (!run.AnswerOn(link, kBaud921600)) return 0;
  const Result rc = TOOL_DownloadFileUsb(run.session, LinkMode::Usb, path, link, address, fuzz::CheckProgress);
  fuzz::RequireCode(rc, {0, 1, 205, 210, 212, 213});
  ClosePort(link);
  return 0;
}
