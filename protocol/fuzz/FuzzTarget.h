#pragma once
// The frame every fuzz target shares. The input's first byte is the
// handset's write mode; the target then reads its own parameters from `in`,
// and whatever follows is what the handset answers.
//
//   fuzz::Run run(data, size);
//   const uint32_t address = run.in.Word();
//   ComLink link;
//   if (!run.AnswerOn(link, kBaud115200)) return 0;
//   ... the routine under test, its oracles, ClosePort(link) ...
#include <cstddef>
#include <cstdint>

#include "link/ComLink.h"
#include "protocol/ImageSession.h"
#include "protocol/fuzz/FuzzChecks.h"
#include "protocol/fuzz/FuzzHandset.h"

namespace vantrel::fuzz {

class Run {
 public:
  Run(const uint8_t* data, size_t size) : in(data, size) {
    Init();
    writeMode_ = in.Byte();
  }

  // Hands the rest of the input to the handset as its answers.
  void Answer() { SetHandset(in.Rest(), in.RestSize(), writeMode_); }

  // Answer(), then `link` opened on the fuzz device at `code`; false when the
  // open failed (the run then has nothing to test).
  bool AnswerOn(ComLink& link, uint8_t code) {
    Answer();
    return OpenFuzzLink(link, code);
  }

  // The image-set sessions' six record flags, 0 to 2 each, from the input.
  void SelectRecords() {
    uint8_t flags[6];
    for (auto& f : flags) f = in.Byte() % 3;
    session.SetSelection(flags[0], flags[1], flags[2], flags[3], flags[4], flags[5]);
  }

  Input in;
  TargetSession session;  // a fresh handset for every input

 private:
  uint8_t writeMode_ = 0;
};

}  // namespace vantrel::fuzz
