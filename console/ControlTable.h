#pragma once
// The main window's controls as data: identifier, kind, caption, place in
// dialog units and initial state, and the console states' enabling table.
// The window builds its widgets from these tables; tests read them too.
#include <vector>

namespace vantrel::console {

enum class Kind {
  GroupBox,
  Static,
  ComboBox,
  PushButton,
  BitmapButton,
  Radio,
  CheckBox,
  Edit,
  RichText,
  Log,
  Progress,
};

// Initial-state flags.
enum : unsigned {
  kHidden = 1u << 0,
  kDisabled = 1u << 1,
  kReadOnly = 1u << 2,
  kRightAlign = 1u << 3,
  kChecked = 1u << 4,
};

struct ControlDef {
  int id;  // 0 for captions and frames that nothing refers to
  Kind kind;
  const char* caption;
  int x, y, w, h;  // dialog units
  unsigned flags;
  int item;  // item number of an item radio, -1 otherwise
};

const std::vector<ControlDef>& MainWindowControls();
const ControlDef* FindControlDef(int id);

// Window size in dialog units.
inline constexpr int kDialogWidthDu = 339;
inline constexpr int kDialogHeightDu = 283;

enum class ConsoleState { Disconnected, Ready, Busy };

struct StateRow {
  int id;
  bool disconnected;
  bool ready;
  bool busy;
};
const std::vector<StateRow>& StateEnablingTable();
bool EnabledIn(const StateRow& row, ConsoleState state);

// The five file buttons whose font shows the image being written.
inline constexpr int kFileButtons[] = {1001, 1004, 1042, 1043, 1044};

}  // namespace vantrel::console
