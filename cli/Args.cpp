#include "cli/Args.h"

#include <cctype>
#include <cstdlib>
#include <map>

#include "maintenance/DumpAreaModel.h"
#include "platform/Folders.h"

namespace vantrel::cli {

namespace {

const std::map<std::string, OpKind>& OpWords() {
  static const std::map<std::string, OpKind> words = {
      {"connect", OpKind::Connect},         {"auto-all", OpKind::AutoAll},
      {"download", OpKind::Download},       {"bootloader", OpKind::Bootloader},
      {"erase", OpKind::EraseAll},          {"nand-dump", OpKind::NandDump},
      {"nand-erase", OpKind::NandErase},    {"nor-dump", OpKind::NorDump},
      {"nor-format", OpKind::NorFormat},    {"vlf-format", OpKind::VlfFormat},
      {"pzl-format", OpKind::PzlFormat},    {"raw-readback", OpKind::RawReadback},
      {"info", OpKind::Info},               {"disconnect", OpKind::Disconnect},
  };
  return words;
}

struct ItemWord {
  const char* word;
  int item;
  bool file;     // takes a FILE
  bool address;  // takes an ADDRESS after the file
};

const ItemWord kItems[] = {
    {"imgset", kItemImgset, true, false},   {"calset", kItemCalset, true, false},
    {"rsrc1", kItemRsrc1, true, false},     {"rsrc2", kItemRsrc2, true, false},
    {"fs", kItemFs, true, false},           {"entire", kItemEntire, true, false},
    {"nand", kItemNandManual, true, true},  {"nor", kItemNorManual, true, true},
    {"all", kItemAll, false, false},        {"rsrc1-fs", kItemRsrc1Fs, false, false},
};

bool IsOpWord(const std::string& s) { return OpWords().count(s) != 0; }

// Options that take a value, with the member they fill.
std::string* FileOption(Options& o, const std::string& name) {
  if (name == "--imgset") return &o.imgset;
  if (name == "--calset") return &o.calset;
  if (name == "--rsrc1") return &o.rsrc1;
  if (name == "--rsrc2") return &o.rsrc2;
  if (name == "--fs") return &o.fs;
  return nullptr;
}

bool TakesValue(const std::string& name) {
  return name == "--port" || name == "-p" || name == "--rate" || name == "-b" || name == "--color" ||
         name == "--pause-scale" || name == "--poll-scale" || name == "--imgset" || name == "--calset" ||
         name == "--rsrc1" || name == "--rsrc2" || name == "--fs" || name == "--payload-dir";
}

std::optional<double> ParseScale(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (end == nullptr || *end != '\0' || !(v >= 0.0) || v > 1000.0) return std::nullopt;
  return v;
}

// An area of the dump dialogs by name: its caption in lower case, blanks as
// hyphens ("rsrc1", "vlf-full", "code-binary").
std::string AreaName(const std::string& caption) {
  std::string name;
  for (char c : caption) {
    if (c == ' ') {
      if (!name.empty() && name.back() != '-') name += '-';
    } else if (c != '-' || (!name.empty() && name.back() != '-')) {
      name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  return name;
}

const DumpAreaPreset* FindArea(const DumpDialogDef& spec, const std::string& word) {
  for (const DumpAreaPreset& a : spec.areas)
    if (AreaName(a.caption) == word) return &a;
  return nullptr;
}

class Parser {
 public:
  explicit Parser(const std::vector<std::string>& args) : args_(args) {}

  ParseResult Run() {
    ParseResult r;
    Options& o = r.options;
    std::vector<std::string> words;
    bool optionsEnded = false;
    for (size_t i = 0; i < args_.size(); ++i) {
      const std::string& a = args_[i];
      if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
        words.push_back(a);
        continue;
      }
      if (a == "--") {
        optionsEnded = true;
        continue;
      }
      std::string name = a;
      std::optional<std::string> value;
      if (a.rfind("--", 0) == 0) {
        size_t eq = a.find('=');
        if (eq != std::string::npos) {
          name = a.substr(0, eq);
          value = a.substr(eq + 1);
        }
      }
      if (TakesValue(name)) {
        if (!value) {
          if (i + 1 >= args_.size()) return Fail(r, "option " + name + " needs a value");
          value = args_[++i];
        }
        if (!Apply(o, name, *value, r.error)) return Fail(r, r.error);
        continue;
      }
      if (value) return Fail(r, "option " + name + " takes no value");
      if (!ApplyFlag(o, name)) return Fail(r, "unknown option " + name);
    }
    if (o.help || o.version || o.listPorts) {
      r.ok = true;
      return r;
    }
    if (!ParseOperations(o, words, r.error)) return Fail(r, r.error);
    if (o.ops.empty()) return Fail(r, "no operation given");
    for (const Operation& op : o.ops) {
      if (NeedsPort(op.kind) && o.port.empty())
        return Fail(r, "'" + op.text + "' talks to the handset: give the port with --port");
      std::string missing = MissingFiles(o, op);
      if (!missing.empty()) return Fail(r, "'" + op.text + "' needs " + missing);
    }
    r.ok = true;
    return r;
  }

 private:
  static ParseResult& Fail(ParseResult& r, const std::string& error) {
    r.ok = false;
    r.error = error;
    return r;
  }

  static bool Apply(Options& o, const std::string& name, const std::string& value, std::string& error) {
    if (name == "--port" || name == "-p") {
      if (value.empty()) {
        error = "empty port name";
        return false;
      }
      o.port = value;
    } else if (name == "--rate" || name == "-b") {
      auto idx = ParseRate(value);
      if (!idx) {
        error = "unknown rate '" + value + "' (use 115K, 460K or 921K)";
        return false;
      }
      o.baudIndex = *idx;
    } else if (name == "--color") {
      if (value == "auto") o.color = ColorMode::Auto;
      else if (value == "always") o.color = ColorMode::Always;
      else if (value == "never") o.color = ColorMode::Never;
      else {
        error = "--color takes auto, always or never";
        return false;
      }
    } else if (name == "--pause-scale" || name == "--poll-scale") {
      auto v = ParseScale(value);
      if (!v || (name == "--poll-scale" && *v <= 0.0)) {
        error = name + " takes a factor such as 1, 0.1 or 0" + (name == "--poll-scale" ? " (above 0)" : "");
        return false;
      }
      (name == "--pause-scale" ? o.pauseScale : o.pollScale) = *v;
    } else if (name == "--payload-dir") {
      if (value.empty()) {
        error = "empty folder name for --payload-dir";
        return false;
      }
      o.payloadDir = value;
    } else if (std::string* file = FileOption(o, name)) {
      if (value.empty()) {
        error = "empty file name for " + name;
        return false;
      }
      *file = value;
    }
    return true;
  }

  static bool ApplyFlag(Options& o, const std::string& name) {
    if (name == "--uart") o.commType = 0;
    else if (name == "--usb") o.commType = 1;
    else if (name == "--yes" || name == "-y") o.yes = true;
    else if (name == "--verify") o.verify = true;
    else if (name == "--json") o.json = true;
    else if (name == "--no-progress") o.progress = false;
    else if (name == "--no-color") o.color = ColorMode::Never;
    else if (name == "--trace") o.trace = true;
    else if (name == "--follow-simulator") o.followSimulator = true;
    else if (name == "--with-calset") o.withCalset = true;
    else if (name == "--calset-default") o.calsetDefault = true;
    else if (name == "--include-bootloader") o.includeBootloader = true;
    else if (name == "--reboot") o.reboot = true;
    else if (name == "--help" || name == "-h") o.help = true;
    else if (name == "--version" || name == "-V") o.version = true;
    else if (name == "--list-ports") o.listPorts = true;
    else return false;
    return true;
  }

  // Takes the next word as an argument of the current operation unless it
  // names an operation itself.
  static bool NextArg(const std::vector<std::string>& w, size_t& i, std::string& out) {
    if (i + 1 < w.size() && !IsOpWord(w[i + 1])) {
      out = w[++i];
      return true;
    }
    return false;
  }

  static bool ParseOperations(Options& o, const std::vector<std::string>& w, std::string& error) {
    for (size_t i = 0; i < w.size(); ++i) {
      auto it = OpWords().find(w[i]);
      if (it == OpWords().end()) {
        error = "unknown operation '" + w[i] + "'";
        return false;
      }
      Operation op;
      op.kind = it->second;
      op.text = w[i];
      size_t first = i;
      std::string a, b, c;
      switch (op.kind) {
        case OpKind::Download: {
          if (!NextArg(w, i, a)) {
            error = "'download' needs an item: imgset, calset, rsrc1, rsrc2, fs, entire, nand, nor, all, rsrc1-fs";
            return false;
          }
          const ItemWord* item = nullptr;
          for (const ItemWord& iw : kItems)
            if (a == iw.word) item = &iw;
          if (item == nullptr) {
            error = "unknown download item '" + a + "'";
            return false;
          }
          op.item = item->item;
          if (item->file) {
            if (NextArg(w, i, b)) {
              op.file = b;
            } else {
              op.file = DefaultFile(o, op.item);
            }
            if (op.file.empty()) {
              error = "'download " + a + "' needs a FILE";
              return false;
            }
          }
          if (item->address) {
            if (!NextArg(w, i, c)) {
              error = "'download " + a + "' needs a FILE and a start ADDRESS (hexadecimal)";
              return false;
            }
            auto addr = ParseHexAddress(c);
            if (!addr) {
              error = "'" + c + "' is not a hexadecimal address";
              return false;
            }
            op.address = *addr;
          }
          break;
        }
        case OpKind::EraseAll: {
          if (!NextArg(w, i, a) || (a != "all" && a != "boot")) {
            error = "'erase' takes 'all' (NAND all blocks) or 'boot' (bootloader area)";
            return false;
          }
          if (a == "boot") op.kind = OpKind::EraseBoot;
          break;
        }
        case OpKind::NandDump:
        case OpKind::NandErase:
        case OpKind::NorDump: {
          const DumpDialogDef& spec = op.kind == OpKind::NorDump ? NorDumpDialogDef() : NandDumpDialogDef();
          if (!NextArg(w, i, a)) {
            error = "'" + w[first] + "' needs FROM and TO (hexadecimal) or an area";
            return false;
          }
          if (const DumpAreaPreset* area = FindArea(spec, a)) {
            // The dialog's area button: the same FROM and TO as in the window.
            op.from = area->from;
            op.to = area->to;
            if (op.kind != OpKind::NandErase && NextArg(w, i, c)) op.file = c;
            break;
          }
          if (!NextArg(w, i, b)) {
            error = "'" + w[first] + "' needs FROM and TO (hexadecimal) or an area";
            return false;
          }
          auto from = ParseHexAddress(a), to = ParseHexAddress(b);
          if (!from || !to) {
            error = "'" + (from ? b : a) + "' is not a hexadecimal address";
            return false;
          }
          op.from = *from;
          op.to = *to;
          if (op.kind != OpKind::NandErase && NextArg(w, i, c)) op.file = c;
          break;
        }
        case OpKind::Info: {
          if (!NextArg(w, i, a)) {
            error = "'info' needs a FILE";
            return false;
          }
          op.file = a;
          break;
        }
        default:
          break;
      }
      for (size_t k = first + 1; k <= i; ++k) op.text += " " + w[k];
      o.ops.push_back(op);
    }
    return true;
  }

  static std::string DefaultFile(const Options& o, int item) {
    switch (item) {
      case kItemImgset: return o.imgset;
      case kItemCalset: return o.calset;
      case kItemRsrc1: return o.rsrc1;
      case kItemRsrc2: return o.rsrc2;
      case kItemFs: return o.fs;
      default: return "";
    }
  }

  // The chains read the files of several rows: name the options still missing.
  static std::string MissingFiles(const Options& o, const Operation& op) {
    std::vector<std::string> need;
    auto want = [&need](const std::string& value, const char* option) {
      if (value.empty()) need.push_back(option);
    };
    if (op.kind == OpKind::AutoAll || (op.kind == OpKind::Download && op.item == kItemAll)) {
      want(o.imgset, "--imgset");
      if ((op.kind == OpKind::AutoAll && o.calsetDefault) || (op.kind == OpKind::Download && o.withCalset))
        want(o.calset, "--calset");
      want(o.rsrc1, "--rsrc1");
      want(o.rsrc2, "--rsrc2");
      want(o.fs, "--fs");
    } else if (op.kind == OpKind::Download && op.item == kItemRsrc1Fs) {
      want(o.rsrc1, "--rsrc1");
      want(o.fs, "--fs");
    }
    std::string text;
    for (size_t k = 0; k < need.size(); ++k) {
      if (k > 0) text += k + 1 == need.size() ? " and " : ", ";
      text += need[k];
    }
    return text;
  }

  const std::vector<std::string>& args_;
};

}  // namespace

ParseResult ParseArguments(const std::vector<std::string>& args) { return Parser(args).Run(); }

std::optional<uint32_t> ParseHexAddress(const std::string& text) {
  std::string t = text;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t = t.substr(2);
  if (t.empty() || t.size() > 8) return std::nullopt;
  uint32_t v = 0;
  for (char ch : t) {
    uint32_t d;
    if (ch >= '0' && ch <= '9') d = static_cast<uint32_t>(ch - '0');
    else if (ch >= 'a' && ch <= 'f') d = static_cast<uint32_t>(ch - 'a' + 10);
    else if (ch >= 'A' && ch <= 'F') d = static_cast<uint32_t>(ch - 'A' + 10);
    else return std::nullopt;
    v = v * 16 + d;
  }
  return v;
}

std::optional<int> ParseRate(const std::string& text) {
  std::string t;
  for (char ch : text) t += static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch);
  if (t == "115K" || t == "115200") return 0;
  if (t == "460K" || t == "460800") return 1;
  if (t == "921K" || t == "921600") return 2;
  return std::nullopt;
}

const char* RateName(int baudIndex) {
  switch (baudIndex) {
    case 0: return "115K";
    case 1: return "460K";
    case 2: return "921K";
    default: return "?";
  }
}

bool NeedsPort(OpKind kind) { return kind != OpKind::Info; }

const char* OpName(OpKind kind) {
  switch (kind) {
    case OpKind::Connect: return "connect";
    case OpKind::AutoAll: return "auto-all";
    case OpKind::Download: return "download";
    case OpKind::Bootloader: return "bootloader";
    case OpKind::EraseAll: return "erase all";
    case OpKind::EraseBoot: return "erase boot";
    case OpKind::NandDump: return "nand-dump";
    case OpKind::NandErase: return "nand-erase";
    case OpKind::NorDump: return "nor-dump";
    case OpKind::NorFormat: return "nor-format";
    case OpKind::VlfFormat: return "vlf-format";
    case OpKind::PzlFormat: return "pzl-format";
    case OpKind::RawReadback: return "raw-readback";
    case OpKind::Info: return "info";
    case OpKind::Disconnect: return "disconnect";
  }
  return "?";
}

const char* UsageHint() { return "Try 'vantrel-cli --help'."; }

std::string DumpAreaNames(bool nor) {
  std::string names;
  for (const DumpAreaPreset& a : (nor ? NorDumpDialogDef() : NandDumpDialogDef()).areas)
    names += (names.empty() ? "" : ", ") + AreaName(a.caption);
  return names;
}

namespace {
// Each line after `indent` spaces, each ended.
std::string Indented(const std::vector<std::string>& lines, size_t indent) {
  std::string out;
  for (const std::string& line : lines) out += std::string(indent, ' ') + line + "\n";
  return out;
}

// `text` broken into lines of at most `width` characters, each continuation
// line indented by `indent` blanks.
std::string Wrap(const std::string& text, size_t indent, size_t width) {
  std::string out, line;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    std::string word = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && indent + line.size() + 1 + word.size() > width) {
      out += line + "\n" + std::string(indent, ' ');
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out + line;
}
}  // namespace

std::string UsageText() {
  return R"(Usage: vantrel-cli [OPTIONS] OPERATION [ARGS] [OPERATION [ARGS]...]

Runs the download tool's operations on one handset, headless, in the order
given, in one process: a flash loader left running by one operation serves the
next, as in the window. Stops at the first operation that fails.

Operations:
  connect                      catch the boot ROM and start the NAND flash loader (START)
  download imgset [FILE]       write the image set into NAND flash
  download calset [FILE]       write the calibration set
  download rsrc1 [FILE]        write Rsrc1
  download rsrc2 [FILE]        write Rsrc2
  download fs [FILE]           format the file-system (VLF) area and write the file system
  download entire FILE         write an entire-flash image (44,470,272 bytes)
  download nand FILE ADDRESS   write FILE into NAND at ADDRESS (rounded down to 0x20000)
  download nor FILE ADDRESS    write FILE into NOR at ADDRESS less its low 7 bits x 1024
                               (shows the address and asks for confirmation)
  download all                 erase NAND, then image set, [calset,] Rsrc1, Rsrc2, file system
                               (needs --imgset, --rsrc1, --rsrc2, --fs; --calset with --with-calset)
  download rsrc1-fs            Rsrc1, then the file system (needs --rsrc1 and --fs)
  auto-all                     connect, NOR image set [and calset], NAND erase, Rsrc1, Rsrc2,
                               file system (needs --imgset, --rsrc1, --rsrc2, --fs)
  bootloader                   write SEC_BOOT, BOOT1a, BOOT1b and Boot2 (UART only; the handset
                               is switched off and on between stages)
  erase all                    erase every NAND block (asks for confirmation)
  erase boot                   erase the bootloader area (asks for confirmation)
  nand-dump FROM TO [FILE]     read NAND FROM..TO (TO included) into FILE
                               (default nanddump0x<FROM>_0x<TO+1>.dmp)
  nand-erase FROM TO           erase NAND FROM..TO (TO included; asks for confirmation)
  nor-dump FROM TO [FILE]      read NOR FROM up to TO (TO excluded) into FILE
                               (default nordump0x<FROM>_0x<TO>.dmp)
                               An area of the dump dialog may stand for FROM TO:
                               NAND: )" + Wrap(DumpAreaNames(false), 37, 95) + R"(
                               NOR: )" + Wrap(DumpAreaNames(true), 36, 95) + R"(
  nor-format                   format the NOR file-system area (asks for confirmation)
  vlf-format                   format the NAND file-system area (asks for confirmation)
  pzl-format                   format the block-management (PZL) layer
  raw-readback                 run the raw read-back exchange (DUMP!!)
  info FILE                    show the size and byte checksum of FILE
  disconnect                   forget the running loader (the handset must be switched off)
  history [--since WHEN] [--port COMn] [--failed] [--csv | --json]
                               alone: print the station log (see vantrel-cli history --help)
FILE after download may be left out when the matching file option names it.
Addresses are hexadecimal, with or without 0x.

Port and line:
  -p, --port PORT              COM1..COM50, or a device path such as /dev/ttyUSB0
      --list-ports             list the COM names that reach a device, with its path and
                               description, and the devices no COM name reaches (with --json:
                               one object per port)
  -b, --rate RATE              115K (default), 460K or 921K
      --uart                   handset on a UART cable (default)
      --usb                    handset on USB

Files read by the chains (and by download ITEM without FILE):
      --imgset FILE   --calset FILE   --rsrc1 FILE   --rsrc2 FILE   --fs FILE

Handset payloads (the nine programs and boot images sent to the handset:
sdraminit.img preboot.img flashdrv_all.img flashdrv_nor.img flashdrv_nand.img
sec_boot.img boot1a.img boot1b.img boot2.img), looked up in this order; the
first folder holding any of them must hold all nine, checked, or nothing is sent:
      --payload-dir DIR        the folder DIR
)" + Indented(platform::PayloadFolderWords(), 31) + R"(                               else the built-in set (stand-ins unless built with the files)

Check boxes of the window:
      --with-calset            download all: write the calibration set too ("Calset")
      --calset-default         auto-all: write the NOR calibration set too
      --include-bootloader     NOR image set: the file includes the bootloader
      --reboot                 end the loader session after a lone NOR download or file system

Behaviour and output:
  -y, --yes                    answer every confirmation with OK; without it they are asked on
                               the terminal, and refused when there is none
      --verify                 after each download read the written ranges back and compare
                               them byte for byte with the file
      --json                   print one JSON object per event on standard output
      --color=WHEN             colour the log: auto (default, on a terminal), always, never
      --no-color               the same as --color=never
      --no-progress            no progress bar
      --trace                  print the developer traces on standard error
      --pause-scale F          run the protocol's fixed pauses at F times real time
      --poll-scale F           run its polls at F times real time (both for the simulator only;
                               a real handset needs 1)
      --follow-simulator       end pauses and count idle polls on the simulator's word of what
                               it does, not on the clock alone (tests on a busy machine)
  -h, --help                   show this help
  -V, --version                show the version

Exit status:
  0 every operation succeeded      4 handset: no answer, transfer failed
  1 other failure                  5 file: input missing or unusable, output not writable
  2 bad arguments                  6 --verify found flash differing from the file
  3 port: missing, busy, denied    7 a confirmation was refused or could not be asked
  130 interrupted

Examples:
  vantrel-cli --port COM3 --rate 921K connect download imgset Q77T_0612.img --verify
  vantrel-cli -p /dev/ttyACM0 --usb connect nand-dump 0 ABFFFF rsrc1.dmp
  vantrel-cli -p COM3 --imgset a.img --rsrc1 a.rc1 --rsrc2 a.rc2 --fs a.vlf -y connect download all
  vantrel-cli -p COM3 bootloader --yes
  vantrel-cli info Q77T_0612.img
  vantrel-cli --list-ports
)";
}

}  // namespace vantrel::cli
