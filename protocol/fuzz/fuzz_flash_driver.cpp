// TOOL_DownloadFlashDriver's rate handshake and the loader uploads' flash
// type query, against arbitrary answers.
#include "protocol/BootUpload.h"
#include "protocol/fuzz/FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  fuzz::Run run(data, size);
  const uint8_t config = run.in.Byte();
  const uint8_t code = run.in.Byte();
  run.Answer();

  ComLink link;
  link.SetPortName("COM1");
  link.baudCode = code;
  if (config & 1) {
    static constexpr uint8_t kSelectors[] = {0x20, 0x21, 0x22, 0x00};
    const Result rc = TOOL_UploadLoader(run.session, link, kSelectors[(config >> 1) & 3]);
    fuzz::RequireCode(rc, {0, 209, 210, 212});
  } else {
    const Result rc = TOOL_DownloadFlashDriver(run.session, link);
    fuzz::RequireCode(rc, {0, 209, 210, 212});
    if (rc == Result::Ok && link.baudCode != code) std::abort();
  }
  fuzz::RequireClosed(link);
  return 0;
}
