#include "jobs/Notices.h"

namespace vantrel {

std::string TrimBlanks(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  const size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

NoticeClass ClassifyNotice(const std::string& raw) {
  const std::string t = TrimBlanks(raw);
  static const char* const kSuccess[] = {"Download Finished", "All Download Finished", "All Erase complete",
                                         "VLF Format complete", "DUMP complete", "DUMP Complete", "END"};
  for (const char* s : kSuccess)
    if (t == s) return NoticeClass::Success;
  static const char* const kNeutral[] = {"Start Address check OK!!", "Bootloader Download available in UART Comport",
                                         "PZL All Erased. Turn On/Off", "VLF All Erased. Turn On/Off"};
  for (const char* s : kNeutral)
    if (t.rfind(s, 0) == 0) return NoticeClass::Neutral;
  return NoticeClass::Failure;
}

}  // namespace vantrel
