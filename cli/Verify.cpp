#include "cli/Verify.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "jobs/OperationRecord.h"
#include "link/ComLink.h"
#include "link/ResultCodes.h"
#include "link/Stop.h"
#include "link/Timing.h"
#include "platform/TerminalText.h"
#include "protocol/Constants.h"
#include "protocol/LoaderCommands.h"
#include "protocol/ReadBack.h"

namespace vantrel::cli {

namespace {

// The dump jobs wait this long between the rate change and the dump command,
// and after a successful dump before the rate goes back: the loader needs it.
constexpr unsigned kBeforeDumpMs = 1000;
constexpr unsigned kAfterDumpMs = 2000;
// Where the loader writes a file-system stream (no record headers): the
// file-system area. The stream's own start command carries no address.
constexpr uint32_t kStreamFlashBase = 0x5000000;

struct FileRecord {
  uint32_t address;
  uint32_t length;
  uint64_t offset;  // of the data in the file
};

class FileReader {
 public:
  explicit FileReader(const std::string& path) : f_(std::fopen(path.c_str(), "rb")) {}
  ~FileReader() {
    if (f_ != nullptr) std::fclose(f_);
  }
  bool Ok() const { return f_ != nullptr; }
  int64_t Length() {
    if (std::fseek(f_, 0, SEEK_END) != 0) return -1;
    return std::ftell(f_);
  }
  bool Read(uint64_t offset, uint32_t length, std::vector<uint8_t>& out) {
    out.resize(length);
    if (std::fseek(f_, static_cast<long>(offset), SEEK_SET) != 0) return false;
    return std::fread(out.data(), 1, length, f_) == length;
  }
  // The records of an address/length record file, in file order; a cut
  // header ends the list, a cut record keeps the bytes that are there.
  std::vector<FileRecord> Records() {
    std::vector<FileRecord> recs;
    int64_t size = Length();
    uint64_t pos = 0;
    uint8_t h[8];
    while (size >= 0 && pos + 8 <= static_cast<uint64_t>(size)) {
      if (std::fseek(f_, static_cast<long>(pos), SEEK_SET) != 0 || std::fread(h, 1, 8, f_) != 8) break;
      uint32_t addr = h[0] | h[1] << 8 | h[2] << 16 | static_cast<uint32_t>(h[3]) << 24;
      uint32_t len = h[4] | h[5] << 8 | h[6] << 16 | static_cast<uint32_t>(h[7]) << 24;
      uint64_t avail = static_cast<uint64_t>(size) - (pos + 8);
      recs.push_back({addr, static_cast<uint32_t>(std::min<uint64_t>(len, avail)), pos + 8});
      pos += 8 + static_cast<uint64_t>(len);
    }
    return recs;
  }

 private:
  std::FILE* f_;
};

}  // namespace

namespace {

struct ItemWords {
  ImageItem item;
  const char* nand;  // the transfer's name in the notes
  const char* nor;
};

constexpr ItemWords kItemWords[] = {
    {ImageItem::Imgset, "NAND : Imgset Download", "NOR : Imgset Download"},
    {ImageItem::Calset, "NAND : Calset Download", "NOR : Calset Download"},
    {ImageItem::Rsrc1, "NAND : Rsrc1 Download", nullptr},
    {ImageItem::Rsrc2, "NAND : Rsrc2 Download", nullptr},
    {ImageItem::FileSystem, "NAND : VLF Format & Download", nullptr},
    {ImageItem::EntireFlash, "NAND : Entire Flash Download", nullptr},
    {ImageItem::Manual, "NAND : Manual Download", "NOR : Manual Download"},
    {ImageItem::Boot2, "Boot2 Download", nullptr},
};

}  // namespace

std::string TransferName(const ImageTransfer& t) {
  for (const ItemWords& w : kItemWords) {
    const char* name = t.region == FlashRegion::Nor ? w.nor : w.nand;
    if (w.item == t.item && name != nullptr) return name;
  }
  return std::string(FlashRegionName(t.region)) + " " + ImageItemName(t.item);
}

VerifySource SourceForTransfer(const ImageTransfer& transfer, const OperationRecord& rec) {
  VerifySource s;
  s.flash = transfer.region;
  auto set = [&s](Layout layout, const std::string& path, uint32_t base = 0) {
    s.layout = layout;
    s.path = path;
    s.base = base;
  };
  const bool nor = transfer.region == FlashRegion::Nor;
  switch (transfer.item) {
    case ImageItem::Imgset: set(Layout::Records, rec.m_strImageFileName); break;
    case ImageItem::Calset: set(Layout::Records, rec.m_strParamDepFileName); break;
    case ImageItem::Manual:
      set(Layout::Raw, nor ? rec.m_strManualImage : rec.m_strManualNandImage, rec.m_nStartAddress);
      break;
    case ImageItem::Rsrc1:
      if (!nor) set(Layout::Records, rec.m_strRscrFileName);
      break;
    case ImageItem::Rsrc2:
      if (!nor) set(Layout::Records, rec.m_strRscr2FileName);
      break;
    case ImageItem::FileSystem:
      // Over USB the file-system image is a record file; over the UART one stream.
      if (!nor)
        set(rec.m_nLinkMode == LinkMode::Usb ? Layout::Records : Layout::Stream, rec.m_strFactoryFSFileName,
            kStreamFlashBase);
      break;
    case ImageItem::EntireFlash: s.why = "an entire-flash image carries spare bytes beside each block"; break;
    case ImageItem::Boot2: s.why = "Boot2 is built into the program"; break;
    default: break;
  }
  if (s.layout == Layout::None && s.why.empty()) s.why = "no file is known for \"" + TransferName(transfer) + "\"";
  return s;
}

bool BuildSpans(const VerifySource& source, const std::vector<FlashRange>& ranges, std::vector<Span>& out,
                std::string& error) {
  FileReader file(source.path);
  // The reason is shown on a terminal: the file name is one field of it.
  const std::string shownPath = platform::EscapeField(source.path);
  if (!file.Ok()) {
    error = "cannot read " + shownPath;
    return false;
  }
  int64_t fileLength = file.Length();
  std::vector<FileRecord> records;
  if (source.layout == Layout::Records) records = file.Records();

  // Expected bytes by flash address; a block sent twice (a resend) simply
  // lands on the same addresses again.
  std::map<uint32_t, std::vector<uint8_t>> pieces;
  size_t cursor = 0;
  uint64_t streamOffset = 0;
  const FlashRange* previous = nullptr;
  for (const FlashRange& r : ranges) {
    if (r.length == 0) continue;
    uint64_t offset = 0;
    uint32_t flashAddress = r.address;
    bool found = false;
    switch (source.layout) {
      case Layout::Records:
        // Blocks arrive in record order: look from the last record on, then wrap.
        for (size_t k = 0; k < records.size() && !found; ++k) {
          size_t i = (cursor + k) % records.size();
          const FileRecord& fr = records[i];
          if (r.address >= fr.address &&
              static_cast<uint64_t>(r.address) + r.length <= static_cast<uint64_t>(fr.address) + fr.length) {
            offset = fr.offset + (r.address - fr.address);
            cursor = i;
            found = true;
          }
        }
        break;
      case Layout::Raw:
        if (r.address >= source.base) {
          offset = r.address - source.base;
          found = true;
        }
        break;
      case Layout::Stream:
        // The file goes out block after block; a block reported again at the
        // same address is a resend of the one before.
        if (previous != nullptr && previous->address == r.address && previous->length == r.length) {
          offset = streamOffset - r.length;
        } else {
          offset = streamOffset;
          streamOffset += r.length;
        }
        flashAddress = source.base + static_cast<uint32_t>(offset);
        found = true;
        break;
      case Layout::None:
        break;
    }
    previous = &r;
    if (!found || fileLength < 0 || offset + r.length > static_cast<uint64_t>(fileLength)) {
      char buf[128];
      std::snprintf(buf, sizeof buf, "the block at 0x%X (%u bytes) is not in ", r.address, r.length);
      error = buf + shownPath;
      return false;
    }
    std::vector<uint8_t> bytes;
    if (!file.Read(offset, r.length, bytes)) {
      error = "cannot read " + shownPath;
      return false;
    }
    pieces[flashAddress] = std::move(bytes);
  }
  // Merge what touches or overlaps into spans (later pieces win where they overlap).
  for (auto& [address, bytes] : pieces) {
    if (!out.empty() && out.back().flash == source.flash &&
        static_cast<uint64_t>(out.back().address) + out.back().expected.size() >= address) {
      Span& s = out.back();
      size_t at = address - s.address;
      if (s.expected.size() < at + bytes.size()) s.expected.resize(at + bytes.size());
      std::copy(bytes.begin(), bytes.end(), s.expected.begin() + static_cast<std::ptrdiff_t>(at));
    } else {
      out.push_back({source.flash, address, std::move(bytes), ""});
    }
  }
  return true;
}

std::optional<uint32_t> FirstDifference(uint32_t address, const std::vector<uint8_t>& expected,
                                        const std::vector<uint8_t>& actual) {
  size_t n = std::min(expected.size(), actual.size());
  for (size_t i = 0; i < n; ++i)
    if (expected[i] != actual[i]) return address + static_cast<uint32_t>(i);
  if (actual.size() < expected.size()) return address + static_cast<uint32_t>(n);
  return std::nullopt;
}

Result ReadBackFlash(TargetSession& session, OperationRecord& rec, FlashRegion flash, uint32_t address, uint32_t length,
                  std::vector<uint8_t>& out, const ReadBackTick& tick) {
  out.clear();
  out.reserve(length);
  const std::string port = "COM" + std::to_string(rec.m_nComPort + 1);
  const uint8_t start = kBaseBaudCode;
  const uint8_t selected = OperatorBaudCode(rec.m_nBaudRate);
  if (selected == 0) return Result::InvalidValue;
  const bool usb = rec.m_nLinkMode == LinkMode::Usb;
  const LinkMode mode = usb ? LinkMode::Usb : LinkMode::Uart;

  // Over USB the port runs at the operator's rate from the start; over the
  // UART the loader listens at the base rate and is raised like in the dump jobs.
  LinkPtr link = OpenLink(port, usb ? selected : start);
  if (!link) return Result::ComPort;
  Result rc = Result::Ok;
  if (!usb) {
    rc = TOOL_SetTargetBaud(session, *link, selected, 1);
    if (rc == Result::Ok) SetHostBaud(*link, selected);
  }
  bool overrun = false;
  if (rc == Result::Ok && !stop::Requested()) {
    timing::Pause(kBeforeDumpMs, "VerifyReadBack");
    const uint32_t command = flash == FlashRegion::Nand ? proto::kCmdNandDump : proto::kCmdNorDump;
    rc = TOOL_Dump(
        session, mode, "", *link, address, length, command,
        [&tick](uint8_t final, const uint8_t*, uint32_t at) {
          if (final != 0 && tick) tick(at);
        },
        [&out, &overrun, length](const uint8_t* data, uint32_t n) {
          // A handset that keeps sending blocks must not grow the buffer
          // without end: more than the range asked for ends the read-back.
          if (n > length - out.size()) {
            overrun = true;
            return false;
          }
          out.insert(out.end(), data, data + n);
          return true;
        });
    if (overrun) rc = Result::Internal;
    // Give the handset back at the base rate, as every job leaves it.
    if (!usb && selected != start) {
      if (rc == Result::Ok) timing::Pause(kAfterDumpMs, "VerifyReadBack");
      if (TOOL_SetTargetBaud(session, *link, start, 0) == Result::Ok) SetHostBaud(*link, start);
    }
  }
  if (stop::Requested() && rc == Result::Ok) rc = Result::ComPort;
  CloseLink(link);
  return rc;
}

}  // namespace vantrel::cli
