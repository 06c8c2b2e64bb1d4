// Catching the boot ROM and bringing up the NAND flash loader (START), and
// making a running flash loader give way to the other one.
#include "jobs/Connect.h"

#include "jobs/Console.h"
#include "jobs/ControlIds.h"
#include "jobs/Jobs.h"
#include "jobs/OperationRecord.h"
#include "jobs/Printf.h"
#include "link/ResultCodes.h"
#include "link/Timing.h"
#include "protocol/Constants.h"
#include "protocol/LoaderCommands.h"

namespace vantrel {

namespace {

constexpr uint8_t kNothingHeard = 0xFF;

const char* const kListenText = "      Listen for the BOOT signal\t\t\t> > > ";

bool UsableHandshakeCode(uint8_t code) {
  return code == kBaud115200 || code == kBaud460800 || code == kBaud921600;
}

}  // namespace

ConnectResult ConnectTarget(JobContext& ctx) {
  OperationRecord& rec = ctx.rec;
  Console& con = ctx.con;
  con.EnterBusyState();

  if (rec.m_nComPort == -1 && rec.m_nBaudRate == 0) return ConnectResult::InvalidEnv;
  // The start signal already commits the handset to an upload: with a
  // refused payload folder nothing goes on the line.
  if (!PayloadsReady(ctx, false)) {
    con.EnterDisconnectedState();
    return ConnectResult::PayloadsRefused;
  }

  ComLink& link = rec.m_linkRecord;
  link = ComLink{};
  link.SetPortName(PortName(ctx));
  link.baudCode = SelectedBaudCode(ctx);

  const bool usb = rec.m_nLinkMode == LinkMode::Usb;
  ConnectResult result = ConnectResult::Ok;
  enum class Step { Listen, Send, Wait, Loader, End };
  Step step = Step::End;
  uint8_t startSignal = proto::kStartSignal;

  if (!UsableHandshakeCode(link.baudCode)) {
    result = ConnectResult::WrongBaud;
  } else {
    // The handshake always runs at the boot ROM's rate, whatever the operator
    // chose for the transfers.
    link.baudCode = kBaseBaudCode;
    const Result rc = OpenPort(link);
    timing::Pause(kConnectOpenSettleMs, "ConnectOpen");
    if (rc != Result::Ok || !link.IsOpen()) {
      con.AppendLog(" Fail\n", LogKind::Red);
      // "Comm Error" alone does not tell a missing adapter from a port that
      // another program holds.
      if (!link.openFailure.empty()) con.AppendLog("     " + link.openFailure + "\n", LogKind::Red);
      RecordFailure(ctx, FailureKind::Port, Result::ComPort, link.openFailure);
      return ConnectResult::CommError;
    }
    con.AppendLog("Success!!\n", LogKind::BlueNote);
    if (usb) {
      // No BOOT byte comes over USB; the start signal that answers the usual
      // BOOT byte is sent at once.
      startSignal = proto::kStartSignal;
      step = Step::Send;
    } else {
      AskOperator(ctx, Prompt::SwitchOn);
      con.AppendLog("\n   - Turn on the target phone immediately!!!!\n", LogKind::Red);
      con.AppendLogPlain(kListenText);
      step = Step::Listen;
    }
  }

  while (step != Step::End && step != Step::Loader) {
    if (step == Step::Listen) {
      uint8_t received = kNothingHeard;
      for (;;) {
        uint8_t byte = 0;
        if (ReceiveExactly(link, &byte, 1, kBootByteIdleSec) != Result::Ok) {
          if (received == kNothingHeard) {
            con.AppendLog("FAIL\n", LogKind::Red);
            con.AppendLog("      (Check Comport connection & Bootloader existence)\n", LogKind::BlueNote);
            result = ConnectResult::Timeout;
          } else {
            con.AppendLog("Wrong code! Try again\n", LogKind::Red);
            result = ConnectResult::WrongChar;
          }
          step = Step::End;
          break;
        }
        received = byte;
        if (byte == proto::kBootSignal) {
          con.AppendLogPlain("OK\n");
          startSignal = proto::kStartSignal;
          step = Step::Send;
          break;
        }
        if (byte == proto::kBootSignalAlt) {
          con.AppendLogPlain("OK\n");
          startSignal = proto::kStartSignalAlt;
          ctx.job.connectRetryAllowed.store(true);
          step = Step::Send;
          break;
        }
        if (byte == 0x00) received = kNothingHeard;
      }
      // The BOOT byte came, or the wait is over.
      AskOperator(ctx, Prompt::None);
    } else if (step == Step::Send) {
      con.AppendLogPlain("      Send the Download start signal\t\t> > > ");
      // Some boot ROMs repeat the BOOT byte 0x77 while the host waits, and
      // the acceptance of the start signal is the same byte: only a byte
      // that arrives after the signal may count as its answer.
      PurgeInput(link);
      uint32_t written = 0;
      if (WritePort(link, &startSignal, 1, &written) != Result::Ok || written != 1) {
        con.AppendLogPlain("FAIL\n");
        result = ConnectResult::CommError;
        step = Step::End;
        continue;
      }
      step = Step::Wait;
    } else if (step == Step::Wait) {
      uint8_t received = kNothingHeard;
      for (;;) {
        uint8_t byte = 0;
        if (ReceiveExactly(link, &byte, 1, kStartAnswerIdleSec) == Result::Ok) {
          received = byte;
          if (!usb && (byte == proto::kStartSignal || byte == proto::kStartSignalAlt)) {
            con.AppendLogPlain("OK\n");
            rec.m_bConnected = 1;
            PauseAfterSend(link, kStartAcceptedPauseMs, "StartAccepted");
            step = Step::Loader;
            break;
          }
          continue;
        }
        // A second of silence ends the answer.
        if (received == kNothingHeard) {
          con.AppendLogPlain("Timeout\n");
          result = ConnectResult::Timeout;
          step = Step::End;
        } else if (received == proto::kStartSignal || received == proto::kStartSignalAlt) {
          // USB: the last byte before the silence accepted the start signal.
          // The link is up as on the UART, so the title names it.
          rec.m_bConnected = 1;
          step = Step::Loader;
        } else if (!ctx.job.connectRetryAllowed.load()) {
          result = ConnectResult::WrongChar;
          step = Step::End;
        } else {
          ctx.job.connectRetryAllowed.store(false);
          con.AppendLogPlain("Try again\n");
          if (received == proto::kBootSignal) {
            startSignal = proto::kStartSignal;
            step = Step::Send;
          } else {
            con.AppendLogPlain(kListenText);
            step = Step::Listen;
          }
        }
        break;
      }
    }
  }

  if (step == Step::Loader) {
    if (DownloadNandFlashDriver(ctx, link, 32)) {
      con.AppendLogPlain("OK\n");
      con.AppendLogPlain("\n     UART Download Mode\t> > > ");
      return ConnectResult::Ok;
    }
    con.AppendLogPlain("\n      Loader download fail!\n ");
    result = ConnectResult::CommError;
  }

  con.EnterDisconnectedState();
  if (link.IsOpen()) ClosePort(link);
  return result;
}

Result ReconnectForDriverChange(JobContext& ctx) {
  OperationRecord& rec = ctx.rec;
  Console& con = ctx.con;
  ctx.job.loaderState = kLoaderNone;

  if (rec.m_nLinkMode == LinkMode::Usb) {
    con.EnterReadyState();
    con.EnableControl(ctl::kCancel, true);
    return Result::Ok;
  }

  const std::string port = PortName(ctx);
  con.AppendLog("\n   * Reconnecting (Flash Driver Change)", LogKind::Red);
  con.AppendLogPlain("\n    Open Comport\t\t\t\t> > > ");

  Result rc = Result::ComPort;
  bool sent = false;
  rec.m_pLink = OpenLink(port, kBaseBaudCode);
  if (!rec.m_pLink) {
    con.AppendLog("FAIL", LogKind::Red);
  } else {
    con.AppendLog("OK", LogKind::BlueNote);
    timing::Pause(kReconnectCommandPauseMs, "Reconnect");
    con.AppendLogPlain("\n    Now Reconnecting\t\t\t> > > ");
    rc = TOOL_Reconnect(ctx.session, *rec.m_pLink);
    sent = rc == Result::Ok;
    con.AppendLog(sent ? "OK" : "FAIL", sent ? LogKind::BlueNote : LogKind::Red);
    CloseLink(rec.m_pLink);
  }

  con.EnableControl(ctl::kCancel, true);
  const int item = rec.m_nDownloadItem;
  // The jobs of these items go on after the reconnect with the controls as they are.
  if (!(sent && (item == 1 || item == 4 || item == 7))) con.EnterReadyState();
  return rc;
}

}  // namespace vantrel
