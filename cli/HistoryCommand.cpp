#include "cli/HistoryCommand.h"

#include <cstring>

#include "cli/ExitStatus.h"
#include "history/History.h"
#include "platform/Folders.h"
#include "platform/TerminalText.h"

namespace vantrel::cli {

namespace {

using platform::EscapeField;

// Ends with the log's place, which the platform words.
const char kHistoryHelp[] =
    "Usage: vantrel-cli history [--since WHEN] [--port COMn] [--failed] [--csv | --json]\n"
    "\n"
    "Prints the station log, one line per handset and run, oldest first:\n"
    "  --since WHEN   runs that began at WHEN or later: 2026-12-08, \"2026-12-08 14:30\",\n"
    "                 2026-12-08T14:30:00 (local time; a trailing Z means UTC)\n"
    "  --port COMn    runs on that port only\n"
    "  --failed       failed runs only\n"
    "  --csv          comma-separated values with a header line, for a spreadsheet\n"
    "  --json         the records themselves, one JSON object per line\n"
    "The log is ";

}  // namespace

int RunHistoryCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  history::Filter filter;
  bool csv = false, json = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--help" || a == "-h") {
      std::string help = kHistoryHelp;
      const std::vector<std::string> place = platform::DataFolderWords("history.jsonl");
      for (size_t k = 0; k < place.size(); ++k) help += (k > 0 ? "\n" : "") + place[k];
      std::fputs((help + ".\n").c_str(), out);
      return kExitOk;
    } else if (a == "--since" && hasValue) {
      filter.since = history::ParseTime(args[++i]);
      if (!filter.since) {
        std::fprintf(err, "vantrel-cli: history: '%s' is not a date such as 2026-12-08 or \"2026-12-08 14:30\"\n",
                     EscapeField(args[i]).c_str());
        return kExitUsage;
      }
    } else if (a == "--port" && hasValue) {
      filter.port = args[++i];
    } else if (a == "--failed") {
      filter.failedOnly = true;
    } else if (a == "--csv") {
      csv = true;
    } else if (a == "--json") {
      json = true;
    } else {
      std::fprintf(err, "vantrel-cli: history: unknown or incomplete option %s (see history --help)\n",
                   EscapeField(a).c_str());
      return kExitUsage;
    }
  }
  if (csv && json) {
    std::fputs("vantrel-cli: history: give --csv or --json, not both\n", err);
    return kExitUsage;
  }
  const std::string path = history::HistoryPath();
  auto cannotRead = [&](const platform::FileError& e) {
    std::fprintf(err, "vantrel-cli: history: cannot read %s: %s\n", EscapeField(path).c_str(),
                 platform::FileErrorText(e).c_str());
    return kExitFile;
  };
  // One record at a time: a long log costs the memory of one line.
  history::RecordReader log(path);
  if (log.Error()) return cannotRead(log.Error());
  if (csv) std::fprintf(out, "%s\r\n", history::CsvHeader().c_str());
  for (nlohmann::json r; log.Next(&r);) {
    if (!history::Matches(r, filter)) continue;
    if (csv) std::fprintf(out, "%s\r\n", history::CsvRow(r).c_str());
    else if (json) std::fprintf(out, "%s\n", r.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    // Every field of a record came from outside: one line per record.
    else std::fprintf(out, "%s\n", EscapeField(history::TextLine(r)).c_str());
  }
  if (log.Error()) return cannotRead(log.Error());
  // A line torn by a crash is left out; say so, so that nobody wonders.
  if (log.Damaged() > 0)
    std::fprintf(err, "vantrel-cli: history: skipped %d damaged line%s in %s\n", log.Damaged(),
                 log.Damaged() == 1 ? "" : "s", EscapeField(path).c_str());
  return kExitOk;
}

}  // namespace vantrel::cli
