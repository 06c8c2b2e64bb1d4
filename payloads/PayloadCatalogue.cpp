#include "payloads/PayloadCatalogue.h"

#include <filesystem>
#include <system_error>

#include "platform/Files.h"

namespace vantrel {

static_assert(kPayloadCatalogue[kPayloadCount - 1].id == PayloadId::Boot2);

namespace {

uint32_t HeaderLength(const std::vector<uint8_t>& b) {
  return static_cast<uint32_t>(b[4]) << 24 | static_cast<uint32_t>(b[5]) << 16 | static_cast<uint32_t>(b[6]) << 8 | b[7];
}

std::string Join(const std::vector<std::string>& parts, const char* between) {
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : between) + p;
  return out;
}

}  // namespace

std::string PayloadProblem(const PayloadSpec& spec, const std::string& path, const std::vector<uint8_t>& bytes) {
  if (bytes.size() != spec.size) {
    return path + ": " + std::to_string(bytes.size()) + " bytes, " + std::to_string(spec.size) + " expected";
  }
  const uint32_t rest = spec.size - kPayloadHeaderBytes;
  if (spec.header && HeaderLength(bytes) != rest) {
    return path + ": its header gives " + std::to_string(HeaderLength(bytes)) + " bytes after the header, " +
           std::to_string(rest) + " expected";
  }
  return "";
}

std::vector<std::string> PayloadFolder::Reasons() const {
  std::vector<std::string> out;
  if (!missing.empty()) out.push_back("missing in " + folder + ": " + Join(missing, ", "));
  out.insert(out.end(), problems.begin(), problems.end());
  return out;
}

PayloadFolder ReadPayloadFolder(const std::string& folder) {
  PayloadFolder f;
  f.folder = folder;
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    f.problems.push_back(folder + ": no such folder");
    return f;
  }
  for (const PayloadSpec& spec : kPayloadCatalogue) {
    const std::string path = folder + "/" + spec.file;
    // Each file is checked for what it is and its exact length before a
    // byte of it is read: a folder, a FIFO, a link to a device or a sparse
    // file of gigabytes is refused at once, saying what it is. Operators
    // link their payload files, so a link to a regular file is followed.
    std::vector<uint8_t>& bytes = f.bytes[static_cast<size_t>(spec.id)];
    if (platform::FileError e = platform::ReadExactFile(path, spec.size, platform::Links::Follow, &bytes)) {
      if (e.fault == platform::FileFault::Missing)
        f.missing.push_back(std::string(spec.file) + " (" + std::to_string(spec.size) + " bytes)");
      else if (e.fault == platform::FileFault::Failed)
        f.problems.push_back(path + ": cannot be read (" + platform::FileErrorText(e) + ")");
      else
        f.problems.push_back(path + ": " + platform::FileErrorText(e));
      continue;
    }
    std::string problem = PayloadProblem(spec, path, bytes);
    if (!problem.empty()) {
      f.problems.push_back(std::move(problem));
      bytes.clear();
    }
  }
  return f;
}

size_t PayloadFilesIn(const std::string& folder) {
  if (folder.empty()) return 0;
  size_t n = 0;
  std::error_code ec;
  for (const PayloadSpec& spec : kPayloadCatalogue) n += std::filesystem::exists(folder + "/" + spec.file, ec) ? 1 : 0;
  return n;
}

}  // namespace vantrel
