// TOOL_DownloadNorImage: plain and record layouts, arbitrary loader answers.
#include "protocol/Constants.h"
#include "protocol/ReadBack.h"
#include "protocol/fuzz/FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  fuzz::Run run(data, size);
  const uint8_t config = run.in.Byte();
  const LinkMode mode = (config & 1) ? LinkMode::Usb : LinkMode::Uart;
  uint32_t address = run.in.Word();
  if (config & 2) address = (config & 4) ? proto::kNorRecordMarker : proto::kNorRecordMarkerBoot;
  const uint32_t length = run.in.Word();
  const std::string path = fuzz::FileFromInput(run.in);

  ComLink link;
  if (!run.AnswerOn(link, kBaud115200)) return 0;
  const Result rc = TOOL_DownloadNorImage(run.session, mode, link, path, address, length, fuzz::CheckProgress);
  fuzz::RequireCode(rc, {0, 203, 205, 210, 212});  // 203: the file is no record file
  ClosePort(link);
  return 0;
}
