// TOOL_FormatVlf and the erase commands' completion waits.
#include "protocol/LoaderCommands.h"
#include "protocol/fuzz/FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  fuzz::Run run(data, size);
  const uint8_t config = run.in.Byte();
  const uint32_t address = run.in.Word();

  ComLink link;
  if (!run.AnswerOn(link, kBaud115200)) return 0;
  switch (config % 3) {
    case 0:
      fuzz::RequireCode(TOOL_FormatVlf(run.session, link, address, fuzz::CheckProgress), {0, 205, 210, 212});
      break;
    case 1:
      fuzz::RequireCode(TOOL_EraseAll(run.session, link, static_cast<uint8_t>(address), config & 4 ? LinkMode::Usb : LinkMode::Uart),
                        {0, 210, 212});
      break;
    default:
      fuzz::RequireCode(TOOL_PartialErase(run.session, link, address, address >> 3), {0, 210, 212});
      break;
  }
  ClosePort(link);
  return 0;
}
