#include "console/ControlTable.h"

namespace vantrel::console {

namespace {

constexpr int kNoItem = -1;

}  // namespace

const std::vector<ControlDef>& MainWindowControls() {
  // Hidden controls have no place of their own in the layout; they sit at the
  // window's origin, never shown.
  static const std::vector<ControlDef> table = {
      // Configuration
      {0, Kind::GroupBox, "Configuration", 4, 3, 67, 43, 0, kNoItem},
      {0, Kind::Static, "COM", 9, 16, 18, 8, 0, kNoItem},
      {1021, Kind::ComboBox, "", 27, 14, 39, 90, 0, kNoItem},
      {0, Kind::Static, "Baud", 10, 31, 17, 8, 0, kNoItem},
      {1022, Kind::ComboBox, "", 27, 29, 39, 44, 0, kNoItem},
      // Top row
      {1125, Kind::PushButton, "DL. Bootloader", 75, 7, 58, 15, 0, kNoItem},
      {1129, Kind::PushButton, "Er. Bootloader", 135, 7, 57, 15, 0, kNoItem},
      {1089, Kind::PushButton, "&START", 195, 7, 74, 15, 0, kNoItem},
      {1092, Kind::PushButton, "Disconnect", 273, 7, 44, 15, 0, kNoItem},
      {0, Kind::GroupBox, " Operation ", 76, 24, 96, 23, 0, kNoItem},
      {1149, Kind::Radio, " by UART", 82, 35, 43, 8, 0, kNoItem},
      {1150, Kind::Radio, " by USB", 127, 35, 41, 8, kChecked, kNoItem},
      {1047, Kind::PushButton, "&DOWNLOAD", 175, 27, 81, 20, 0, kNoItem},
      {1090, Kind::PushButton, "&Cancel", 260, 27, 57, 20, kDisabled, kNoItem},
      // Main menu
      {0, Kind::GroupBox, "Main Menu", 4, 49, 312, 126, 0, kNoItem},
      {1046, Kind::PushButton, "NAND Dump", 21, 62, 48, 13, 0, kNoItem},
      {1060, Kind::BitmapButton, "PUSH", 82, 62, 67, 12, 0, kNoItem},
      {0, Kind::Static, "Flash ID", 230, 63, 29, 9, 0, kNoItem},
      {1119, Kind::RichText, "", 261, 61, 52, 13, kDisabled | kReadOnly, kNoItem},
      {1081, Kind::Radio, "", 10, 82, 9, 12, 0, 10},
      {0, Kind::Static, "0 x", 21, 83, 12, 11, 0, kNoItem},
      {1013, Kind::Edit, "0", 33, 81, 35, 12, kRightAlign, kNoItem},
      {1014, Kind::Edit, "", 71, 81, 209, 12, kReadOnly, kNoItem},
      {1005, Kind::PushButton, "Ch. File", 283, 80, 29, 13, 0, kNoItem},
      {1076, Kind::Radio, "", 10, 95, 9, 12, 0, 5},
      {1001, Kind::PushButton, "&Imgset", 21, 95, 48, 11, 0, kNoItem},
      {1007, Kind::Edit, "", 71, 94, 209, 12, kReadOnly, kNoItem},
      {1126, Kind::PushButton, "INFO", 283, 94, 29, 11, 0, kNoItem},
      {1079, Kind::Radio, "", 10, 107, 9, 12, 0, 6},
      {1004, Kind::PushButton, "Calset", 21, 107, 48, 11, 0, kNoItem},
      {1010, Kind::Edit, "", 71, 107, 209, 12, kReadOnly, kNoItem},
      {1134, Kind::PushButton, "INFO", 283, 107, 29, 11, 0, kNoItem},
      {1069, Kind::Radio, "", 10, 120, 9, 12, 0, 0},
      {1042, Kind::PushButton, "Rsrc1", 21, 120, 48, 11, 0, kNoItem},
      {1035, Kind::Edit, "", 71, 120, 209, 12, kReadOnly, kNoItem},
      {1131, Kind::PushButton, "INFO", 283, 120, 29, 11, 0, kNoItem},
      {1071, Kind::Radio, "", 10, 134, 9, 12, 0, 2},
      {1043, Kind::PushButton, "Rsrc2", 21, 134, 48, 11, 0, kNoItem},
      {1036, Kind::Edit, "", 71, 134, 209, 12, kReadOnly, kNoItem},
      {1132, Kind::PushButton, "INFO", 283, 134, 29, 11, 0, kNoItem},
      {1072, Kind::Radio, "", 10, 147, 9, 12, 0, 3},
      {1044, Kind::PushButton, "File System", 21, 147, 48, 11, 0, kNoItem},
      {1037, Kind::Edit, "", 71, 147, 209, 12, kReadOnly, kNoItem},
      {1133, Kind::PushButton, "INFO", 283, 147, 29, 11, 0, kNoItem},
      {1102, Kind::Radio, "Radio14", 10, 162, 10, 9, 0, 7},
      {0, Kind::Static, "All Download", 22, 163, 101, 10, 0, kNoItem},
      {1163, Kind::CheckBox, "Calset", 278, 163, 36, 8, 0, kNoItem},
      // File information row
      {0, Kind::Static, "Filename", 11, 177, 36, 8, 0, kNoItem},
      {1105, Kind::Edit, "", 46, 177, 59, 12, kReadOnly, kNoItem},
      {0, Kind::Static, "File Size", 120, 177, 28, 10, 0, kNoItem},
      {1103, Kind::Edit, "", 151, 177, 60, 12, kReadOnly, kNoItem},
      {0, Kind::Static, "CheckSum", 218, 177, 34, 8, 0, kNoItem},
      {1104, Kind::Edit, "", 255, 177, 61, 12, kReadOnly, kNoItem},
      {1065, Kind::Log, "", 4, 190, 327, 89, 0, kNoItem},
      {1084, Kind::Progress, "", 322, 7, 12, 168, 0, kNoItem},

      // Hidden item radios (items 1, 4, 8, 9).
      {1070, Kind::Radio, "", 0, 0, 9, 12, kHidden, 1},
      {1075, Kind::Radio, "", 0, 0, 9, 12, kHidden, 4},
      {1073, Kind::Radio, "", 0, 0, 9, 12, kHidden, 8},
      {1080, Kind::Radio, "", 0, 0, 9, 12, kHidden, 9},
      // Hidden buttons and check boxes.
      {1, Kind::PushButton, "&Exit", 0, 0, 40, 14, kHidden | kDisabled, kNoItem},
      {1091, Kind::CheckBox, "HW ECC", 0, 0, 40, 10, kHidden, kNoItem},
      {1020, Kind::CheckBox, "Auto All Download", 0, 0, 80, 10, kHidden, kNoItem},
      {1120, Kind::CheckBox, "Reboot", 0, 0, 40, 10, kHidden, kNoItem},
      {1127, Kind::CheckBox, "Calset Data (Default value)", 0, 0, 100, 10, kHidden, kNoItem},
      {1135, Kind::CheckBox, "Include Bootloader", 0, 0, 80, 10, kHidden, kNoItem},
      {1019, Kind::CheckBox, "Image", 0, 0, 40, 10, kHidden, kNoItem},
      {1157, Kind::CheckBox, "Resource", 0, 0, 40, 10, kHidden, kNoItem},
      {1160, Kind::CheckBox, "Boot2", 0, 0, 40, 10, kHidden, kNoItem},
      {1161, Kind::CheckBox, "ER-RO", 0, 0, 40, 10, kHidden, kNoItem},
      {1162, Kind::CheckBox, "Param", 0, 0, 40, 10, kHidden, kNoItem},
      {1164, Kind::CheckBox, "Resource", 0, 0, 40, 10, kHidden, kNoItem},
      {1096, Kind::PushButton, "About", 0, 0, 40, 14, kHidden, kNoItem},
      {1097, Kind::PushButton, "", 0, 0, 60, 20, kHidden, kNoItem},
      {1061, Kind::PushButton, "VLF Format", 0, 0, 48, 13, kHidden, kNoItem},
      {1128, Kind::PushButton, "Check Bad block ", 0, 0, 60, 13, kHidden, kNoItem},
      {1045, Kind::PushButton, "VLF Download", 0, 0, 48, 13, kHidden, kNoItem},
      {1002, Kind::PushButton, "NOR Dump", 0, 0, 48, 13, kHidden, kNoItem},
      {1130, Kind::PushButton, "NOR All Sectors Erase", 0, 0, 80, 13, kHidden, kNoItem},
      {1003, Kind::PushButton, "Ch. File", 0, 0, 29, 13, kHidden, kNoItem},
      {1155, Kind::PushButton, "PZL_Format", 0, 0, 48, 13, kHidden, kNoItem},
      {1165, Kind::PushButton, "DUMP!!", 0, 0, 48, 13, kHidden, kNoItem},
      {1159, Kind::PushButton, "Off", 0, 0, 60, 20, kHidden, kNoItem},
      {1008, Kind::Edit, "0", 0, 0, 35, 12, kHidden | kRightAlign, kNoItem},
      {1009, Kind::Edit, "", 0, 0, 209, 12, kHidden | kReadOnly, kNoItem},
      {1011, Kind::Edit, "", 0, 0, 60, 12, kHidden, kNoItem},
      {1012, Kind::Edit, "", 0, 0, 40, 12, kHidden, kNoItem},
      {1038, Kind::Edit, "", 0, 0, 209, 12, kHidden | kReadOnly, kNoItem},
      {1106, Kind::Edit, "", 0, 0, 60, 12, kHidden, kNoItem},
      {1117, Kind::RichText, "", 0, 0, 52, 13, kHidden | kReadOnly, kNoItem},
      {1118, Kind::RichText, "", 0, 0, 52, 13, kHidden | kReadOnly, kNoItem},
      {0, Kind::Static, "All Images Download to NOR", 0, 0, 100, 10, kHidden, kNoItem},
      {0, Kind::Static, "All Images Download to NAND", 0, 0, 100, 10, kHidden, kNoItem},
      {0, Kind::Static, "NOR Flash", 0, 0, 40, 10, kHidden, kNoItem},
      {0, Kind::Static, "T-Flash Image Download", 0, 0, 90, 10, kHidden, kNoItem},
      {0, Kind::Static, "0 x", 0, 0, 12, 11, kHidden, kNoItem},
      {0, Kind::GroupBox, " TIME ", 0, 0, 60, 30, kHidden, kNoItem},
  };
  return table;
}

const ControlDef* FindControlDef(int id) {
  if (id == 0) return nullptr;
  for (const ControlDef& c : MainWindowControls())
    if (c.id == id) return &c;
  return nullptr;
}

const std::vector<StateRow>& StateEnablingTable() {
  static const std::vector<StateRow> table = {
      {1089, true, false, false}, {1125, true, false, false}, {1021, true, false, false},
      {1022, true, false, false}, {1001, true, true, false},  {1004, true, true, false},
      {1042, true, true, false},  {1043, true, true, false},  {1044, true, true, false},
      {1045, true, true, false},  {1047, false, true, false}, {1060, false, true, false},
      {1129, false, true, false}, {1046, false, true, false}, {1092, false, true, false},
      {1005, false, true, false}, {1013, false, true, false}, {1130, false, true, false},
      {1002, false, true, false}, {1061, false, true, false}, {1155, false, true, false},
      {1128, false, true, false}, {1003, false, true, false}, {1008, false, true, false},
      {1090, false, false, false},
      // The link radios reload the port from the settings: once connected,
      // a click would send the next job to another port than START used.
      {1149, true, false, false}, {1150, true, false, false},
      // The "Calset" box rewrites the record a running job reads.
      {1163, true, true, false},
  };
  return table;
}

bool EnabledIn(const StateRow& row, ConsoleState state) {
  switch (state) {
    case ConsoleState::Disconnected:
      return row.disconnected;
    case ConsoleState::Ready:
      return row.ready;
    case ConsoleState::Busy:
      return row.busy;
  }
  return false;
}

}  // namespace vantrel::console
