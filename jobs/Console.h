#pragma once
// What the jobs may do to the operator: the only way from the core to a
// person. The Qt window, the command line and the tests each implement it.
//
// Every call may come from the job's worker thread. An implementation on a
// toolkit with a GUI thread must deliver the calls there in order; the modal
// calls (message boxes, dialogs) block the calling worker until answered.
// The other calls must not wait for the GUI thread (queue them): a running
// job makes them under a lock that Cancel takes on the GUI thread. Calls made
// on the GUI thread itself must come after those a worker has queued already
// (Cancel's own log lines follow the stopped job's last ones).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jobs/Outcome.h"

namespace vantrel {

enum class MsgButtons { Ok, OkCancel };
enum class MsgAnswer { Ok, Cancel };
enum class ItemFont { Normal, Active, Done };

// Caption used when a message box has none of its own.
inline constexpr const char* kAppName = "VANTREL Downloader";
inline constexpr const char* kWindowTitleSuffix = "VANTREL Downloader v0.68(D)";

// Range chosen in a dump area dialog (FROM, TO, and for NAND the erase box).
struct DumpArea {
  uint32_t from = 0;
  uint32_t to = 0;
  int erase = 0;
};

// The texts of the jobs break lines with "\r\n" or a lone "\r"; a console
// that shows them turns each into one "\n".
inline std::string ShownLineBreaks(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The tick counter as the window shows it: " 3 / 9 ".
inline std::string TickText(int ticks, int expected) {
  // Appended in steps: GCC 12 at -O3 takes `" " + std::to_string(...)` for
  // an overlapping copy and warns.
  std::string text(1, ' ');
  text += std::to_string(ticks);
  text += " / ";
  text += std::to_string(expected);
  text += ' ';
  return text;
}

// How a log line is shown. The values are the kinds the jobs have always
// used (the CLI's JSON carries them as numbers): two blues and two reds that
// look alike in the log, and a kind that goes to the hidden scratch box.
enum class LogKind : int { Black = 0, Blue = 1, Red2 = 2, BlueNote = 3, Red = 4, Scratch = 5 };

// Which link indicator box shows a text, and in which colour: the hidden NOR
// id box or the Flash ID box, blue or red. The values are the kinds the
// jobs have always used.
enum class IndicatorKind : int { NorIdBlue = 1, FlashIdBlue = 2, NorIdRed = 3, FlashIdRed = 4 };

class Console {
 public:
  virtual ~Console() = default;

  // Log, indicators, controls.
  virtual void AppendLog(const std::string& text, LogKind kind) = 0;
  virtual void AppendLogPlain(const std::string& text) = 0;
  virtual void SetLinkIndicator(const std::string& text, IndicatorKind kind) = 0;
  virtual void SetControlText(int controlId, const std::string& text) = 0;
  virtual void EnableControl(int controlId, bool enabled) = 0;
  virtual void SetProgressRange(int low, int high) = 0;
  virtual void SetProgressPos(int pos) = 0;

  // What a running job shows of its progress, whatever shows it: the flash
  // region being written (the file button of `itemButton`: Active while its
  // blocks go out, Done after), the flash blocks done of those expected, and
  // the percentage in the title.
  virtual void ShowItemProgress(int itemButton, ItemFont font) = 0;
  virtual void ShowTicks(int ticks, int expected) = 0;
  virtual void ShowPercent(int percent) = 0;

  // What the words of a running job mean, for the front ends that act on it
  // (the command line, its JSON events, the station); a console that only
  // shows the words ignores them. The phase the operation is in, with the
  // item of a download; what the operator is to do with the handset now
  // (until the next prompt or phase); each block the handset took; the
  // flash type a loader reported.
  virtual void ShowPhase(Phase /*phase*/, ImageItem /*item*/) {}
  virtual void ShowPrompt(Prompt /*prompt*/) {}
  virtual void ShowWrittenBlock(const FlashRange& /*block*/) {}
  virtual void ShowFlashId(uint8_t /*id*/) {}

  // The three console states.
  virtual void EnterDisconnectedState() = 0;
  virtual void EnterReadyState() = 0;
  virtual void EnterBusyState() = 0;

  // Data exchange between the controls and the operation record.
  virtual void ControlsToRecord() = 0;
  virtual void RecordToControls() = 0;

  // Modal interaction. An empty caption means the application's name.
  virtual MsgAnswer MessageBox(const std::string& text, const std::string& caption = "",
                               MsgButtons buttons = MsgButtons::Ok) = 0;
  // Confirmation dialog with a title, several text lines, OK and Cancel.
  virtual bool Confirm(const std::string& title, const std::vector<std::string>& lines) = 0;
  // Save dialog proposing `proposedName`; `filter` in the "desc|pattern|...||" form.
  virtual std::optional<std::string> SaveFileDialog(const std::string& proposedName, const std::string& filter) = 0;
  virtual std::optional<DumpArea> NorDumpDialog() = 0;
  virtual std::optional<DumpArea> NandDumpDialog() = 0;
};

// Persistent operator settings (the INI store of the window). The command
// line has none; jobs and handlers must accept a null store.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual int ReadInt(const std::string& section, const std::string& key, int def) = 0;
  virtual std::string ReadString(const std::string& section, const std::string& key, const std::string& def) = 0;
  virtual void WriteInt(const std::string& section, const std::string& key, int value) = 0;
  virtual void WriteString(const std::string& section, const std::string& key, const std::string& value) = 0;
  // Why the last write did not reach the file, in words for the operator;
  // empty when it did (and for stores that cannot fail).
  virtual std::string LastWriteFailure() const { return {}; }
};

inline constexpr const char* kSettingsSection = "FennikDL";

}  // namespace vantrel
