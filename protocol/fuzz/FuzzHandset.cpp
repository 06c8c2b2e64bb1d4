#include "protocol/fuzz/FuzzHandset.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "link/ComNames.h"
#include "link/SerialDevice.h"
#include "link/Stop.h"
#include "link/Timing.h"
#include "link/Trace.h"

namespace vantrel::fuzz {
namespace {

struct Handset {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
  uint8_t writeKind = 0;   // 0 accept, 1 short writes, 2 error, 3 stall
  unsigned writesLeft = 0; // before an error or a stall sets in
};

Handset g_handset;

class FuzzSerial final : public SerialDevice {
 public:
  int Open(const std::string&, std::string*) override {
    open_ = true;
    return 0;
  }
  void Close() override { open_ = false; }
  bool IsOpen() const override { return open_; }
  int Configure(uint32_t rate) override {
    rate_ = rate;
    return 0;
  }
  uint32_t Rate() override { return rate_; }
  int SetRate(uint32_t rate) override {
    rate_ = rate;
    return 0;
  }
  void Purge() override {}

  IoCount Write(const uint8_t*, size_t len) override {
    Handset& h = g_handset;
    switch (h.writeKind) {
      case 1: return static_cast<IoCount>(len < 7 ? len : 7);
      case 2:
        if (h.writesLeft == 0) return -EIO;
        --h.writesLeft;
        return static_cast<IoCount>(len);
      case 3:
        if (h.writesLeft == 0) return 0;
        --h.writesLeft;
        return static_cast<IoCount>(len);
      default: return static_cast<IoCount>(len);
    }
  }

  IoCount Read(uint8_t* buf, size_t len) override {
    Handset& h = g_handset;
    const size_t n = len < h.size - h.pos ? len : h.size - h.pos;
    if (n != 0) std::memcpy(buf, h.data + h.pos, n);
    h.pos += n;
    return static_cast<IoCount>(n);
  }

  void WaitReadable(int64_t) override {}
  void WaitWritable(int64_t) override {}

 private:
  bool open_ = false;
  uint32_t rate_ = 0;
};

std::string g_scratchPath;

}  // namespace

void Init() {
  static bool done = false;
  if (done) return;
  done = true;
  // The link marks each open attempt on standard output.
  std::freopen("/dev/null", "w", stdout);
  MuteTraces();
  timing::SetPauseScale(0);
  timing::SetPollScale(0);
  stop::Clear();
  SetSerialFactory([] { return std::make_unique<FuzzSerial>(); });
  SetComOverride("COM1", "/dev/null");
  char tmpl[] = "/tmp/vantrel-fuzz-XXXXXX";
  const int fd = mkstemp(tmpl);
  if (fd < 0) std::abort();
  close(fd);
  g_scratchPath = tmpl;
  std::atexit([] { unlink(g_scratchPath.c_str()); });
}

void SetHandset(const uint8_t* data, size_t size, uint8_t writeMode) {
  g_handset = Handset{data, size, 0, static_cast<uint8_t>(writeMode & 3), static_cast<unsigned>(writeMode >> 2)};
}

std::string FileFromInput(Input& in, size_t maxBytes) {
  size_t length = in.Byte();
  length |= static_cast<size_t>(in.Byte()) << 8;
  if (length > maxBytes) length = maxBytes;
  const std::string bytes = in.Bytes(length);
  std::FILE* f = std::fopen(g_scratchPath.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return g_scratchPath;
}

bool OpenFuzzLink(ComLink& link, uint8_t code) {
  link.SetPortName("COM1");
  link.baudCode = code;
  return OpenPort(link) == Result::Ok;
}

}  // namespace vantrel::fuzz
