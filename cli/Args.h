#pragma once
// Command line of vantrel-cli: global options and a list of operations, run
// in the order given. Parsing only: nothing here touches a port or a file.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::cli {

enum class OpKind {
  Connect,      // START
  AutoAll,      // START with "Auto All Download": NOR image set (and calset), then the NAND chain
  Download,     // DOWNLOAD with one item
  Bootloader,   // "DL. Bootloader"
  EraseAll,     // "PUSH": NAND all erase
  EraseBoot,    // "Er. Bootloader": boot area erase
  NandDump,     // "NAND Dump"
  NandErase,    // "NAND Dump" with "Erase && Initialization" ticked
  NorDump,      // "NOR Dump"
  NorFormat,    // "NOR All Sectors Erase"
  VlfFormat,    // "VLF Format"
  PzlFormat,    // "PZL_Format"
  RawReadback,  // "DUMP!!"
  Info,         // INFO: size and checksum of a file
  Disconnect    // "Disconnect"
};

// Download items, numbered as the window's item radio buttons.
inline constexpr int kItemRsrc1 = 0;
inline constexpr int kItemRsrc1Fs = 1;
inline constexpr int kItemRsrc2 = 2;
inline constexpr int kItemFs = 3;
inline constexpr int kItemImgset = 5;
inline constexpr int kItemCalset = 6;
inline constexpr int kItemAll = 7;
inline constexpr int kItemEntire = 8;
inline constexpr int kItemNorManual = 9;
inline constexpr int kItemNandManual = 10;

struct Operation {
  OpKind kind = OpKind::Connect;
  int item = -1;             // Download: the item radio
  std::string file;          // Download/Info: the file; dumps: the output file (empty: proposed name)
  uint32_t address = 0;      // manual downloads: start address
  uint32_t from = 0;         // dumps and partial erase
  uint32_t to = 0;
  std::string text;          // the words as typed, for messages ("download imgset demo.img")
};

enum class ColorMode { Auto, Always, Never };

struct Options {
  std::string port;          // "COM7" or a device path
  int baudIndex = 0;         // 0 "115K", 1 "460K", 2 "921K"
  int commType = 0;          // 0 UART, 1 USB
  bool yes = false;
  bool verify = false;
  bool json = false;
  bool progress = true;
  bool trace = false;
  ColorMode color = ColorMode::Auto;

  // Folder of the handset payload files; empty: the usual lookup.
  std::string payloadDir;

  // Files the window keeps in its rows; the chains read several of them.
  std::string imgset, calset, rsrc1, rsrc2, fs;

  // The window's check boxes that change what the jobs do.
  bool withCalset = false;         // "Calset": the All Download chain writes the calset too
  bool calsetDefault = false;      // "Calset Data (Default value)": auto-all writes the NOR calset
  bool includeBootloader = false;  // "Include Bootloader": NOR image set record marker
  bool reboot = false;             // "Reboot": end the loader session after a lone NOR or VLF job

  // Real-time factors of the protocol's fixed pauses and polls (demos and tests
  // against the simulator; a real handset needs 1).
  double pauseScale = 1.0;
  double pollScale = 1.0;
  // Pauses and idle polls wait on the handset simulator's own word of what
  // it does (link/SimulatedLine.h), so that scaled timing holds on a busy
  // machine (tests).
  bool followSimulator = false;

  bool help = false;
  bool version = false;
  bool listPorts = false;  // print the COM names with their devices, and nothing else
  std::vector<Operation> ops;
};

struct ParseResult {
  bool ok = false;
  std::string error;  // one line, for "vantrel-cli: <error>"
  Options options;
};

ParseResult ParseArguments(const std::vector<std::string>& args);

// Hexadecimal address as operators type it: "4A0000", "0x4a0000". At most
// eight digits; nothing else is accepted.
std::optional<uint32_t> ParseHexAddress(const std::string& text);

// Index in the rate list for "115K", "460K", "921K" (also 115200, 460800, 921600).
std::optional<int> ParseRate(const std::string& text);
const char* RateName(int baudIndex);

// True when the operation talks to the handset (needs --port).
bool NeedsPort(OpKind kind);
// Canonical name of an operation ("connect", "download", ...).
const char* OpName(OpKind kind);

// The names of the dump dialog's areas, as the command line takes them.
std::string DumpAreaNames(bool nor);

// The --help text.
std::string UsageText();
// One line pointing at --help, for usage errors.
const char* UsageHint();

}  // namespace vantrel::cli
