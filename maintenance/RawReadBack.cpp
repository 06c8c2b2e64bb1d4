// Raw read-back exchange ("DUMP!!"): a low-level conversation with whatever
// answers on the COM port, reporting only "END" or an error text.
#include "maintenance/RawReadBack.h"

#include <algorithm>
#include <string>

#include "jobs/Console.h"
#include "jobs/Jobs.h"
#include "jobs/OperationRecord.h"
#include "link/ComLink.h"
#include "link/ResultCodes.h"
#include "maintenance/MaintenanceSteps.h"
#include "maintenance/RawChunkDecoder.h"

namespace vantrel {

namespace {

using proto::kRawAck;
using proto::kRawReceiveIdleSec;
using proto::kRawSendIdleSec;

uint8_t Sum8(const uint8_t* data, uint32_t length) {
  uint8_t sum = 0;
  for (uint32_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + data[i]);
  return sum;
}

bool SendByte(ComLink& link, uint8_t byte) { return SendAll(link, &byte, 1, kRawSendIdleSec) == Result::Ok; }
bool ReceiveByte(ComLink& link, uint8_t* byte) {
  return ReceiveExactly(link, byte, 1, kRawReceiveIdleSec) == Result::Ok;
}

// How the exchange ended: the text the operator is shown, and what it means.
struct ExchangeEnd {
  const char* text;
  FailureKind failure;  // None: the whole read-back arrived
};
constexpr ExchangeEnd kEnd{"END", FailureKind::None};
constexpr ExchangeEnd Broken(const char* text) { return {text, FailureKind::Handset}; }

// The exchange itself.
ExchangeEnd Exchange(JobContext& ctx) {
  Console& con = ctx.con;
  ComLink& link = ctx.rec.m_linkRecord;

  // No settle and no rate change: the port runs at the selected rate.
  link = ComLink{};
  link.SetPortName(PortName(ctx));
  link.baudCode = SelectedBaudCode(ctx);
  if (OpenPort(link) != Result::Ok) return {"Comport error", FailureKind::Port};
  con.AppendLogPlain(" OpenComport success \r ");

  if (!SendByte(link, proto::kRawStart1)) return Broken("0xCF sending error");
  con.AppendLogPlain(" Send 0xCF success \r ");
  if (!SendByte(link, proto::kRawStart2)) return Broken("0xCC sending error");
  con.AppendLogPlain(" Send 0x success \r ");

  // The handset's RAM address: acknowledged, not interpreted.
  uint8_t word[4];
  if (ReceiveExactly(link, word, 4, kRawReceiveIdleSec) != Result::Ok) return Broken("0xCF sending error");
  con.AppendLogPlain(" recv ramaddress success \r ");
  uint8_t answer = 0;
  if (!SendByte(link, Sum8(word, 4)) || !ReceiveByte(link, &answer)) return Broken("0xCF sending error");
  if (answer != kRawAck) return Broken("0x77 error");

  // The length, least significant byte first.
  if (ReceiveExactly(link, word, 4, kRawReceiveIdleSec) != Result::Ok) return Broken("0xCF sending error");
  const uint32_t announced = static_cast<uint32_t>(word[0]) | static_cast<uint32_t>(word[1]) << 8 |
                             static_cast<uint32_t>(word[2]) << 16 | static_cast<uint32_t>(word[3]) << 24;
  const uint8_t lengthSum = Sum8(word, 4);
  if (!SendByte(link, lengthSum) || !ReceiveByte(link, &answer)) return Broken("0xCF sending error");
  if (answer != kRawAck) return Broken("0x77 error 1");

  con.SetProgressRange(0, static_cast<int>(announced >> 13));
  con.SetProgressPos(0);
  if (announced == 0) return kEnd;

  RawChunkDecoder decoder(announced);
  // The first chunk's sum also covers the four length bytes: the handset
  // counts them into it.
  uint8_t sum = lengthSum;
  for (;;) {
    if (maint::Halted()) return Broken("read error");
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      if (!ReceiveByte(link, &word[i])) return Broken("read error");
      sum = static_cast<uint8_t>(sum + word[i]);
      value = value << 8 | word[i];
    }
    uint32_t repeats = 0;
    if (word[0] == word[1] && word[1] == word[2] && word[2] == word[3]) {
      uint8_t n = 0;
      if (!ReceiveByte(link, &n)) return Broken("read error");
      sum = static_cast<uint8_t>(sum + n);
      repeats = n;
    }
    if (!decoder.AddWord(value, repeats)) continue;

    // Chunk complete (a run that ends it is acknowledged the same way).
    if (!SendByte(link, sum)) return Broken("write error");
    sum = 0;
    if (!ReceiveByte(link, &answer)) return Broken("write error");
    if (answer != kRawAck) return Broken("0x77 error 3");
    const bool done = decoder.NextChunk();
    if (maint::Halted()) return Broken("write error");
    con.SetProgressPos(static_cast<int>(decoder.Chunks()));
    if (done) return kEnd;
  }
}

}  // namespace

bool RawReadBackExchange(JobContext& ctx) {
  EnterPhase(ctx, Phase::Dump);
  const ExchangeEnd end = Exchange(ctx);
  // Nothing after the exchange uses the port: hand it back.
  if (ctx.rec.m_linkRecord.IsOpen()) ClosePort(ctx.rec.m_linkRecord);
  if (maint::Halted()) return false;
  if (end.failure == FailureKind::None)
    ShowNotice(ctx, end.text);
  else
    ShowFailure(ctx, end.failure, end.failure == FailureKind::Port ? Result::ComPort : Result::NoResponse, end.text);
  // The bar counted chunks; give it back its percentage range.
  ctx.con.SetProgressRange(0, 100);
  ctx.con.SetProgressPos(0);
  return end.failure == FailureKind::None;
}

int RawDumpProc(JobContext& ctx) {
  if (RawReadBackExchange(ctx)) RecordCompletion(ctx);
  return 0;
}

}  // namespace vantrel
