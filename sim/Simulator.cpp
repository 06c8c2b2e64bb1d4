#include "sim/Simulator.h"

#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "sim/Faults.h"
#include "sim/Flash.h"
#include "sim/Handset.h"
#include "sim/Recorder.h"
#include "sim/Wire.h"

namespace vantrel::sim {

struct Simulator::Impl {
  explicit Impl(Options o)
      : options(std::move(o)),
        nand("NAND", kNandBytes),
        nor("NOR", kNorBytes),
        wire(options, recorder, faults, control),
        handset(options, wire, recorder, faults, nand, nor) {}

  Options options;
  Recorder recorder;
  FaultBook faults;
  Control control;
  Flash nand;
  Flash nor;
  Wire wire;
  Handset handset;
  std::thread thread;
  bool running = false;

  void Request(int power) {
    control.power = power;
    control.Wake();
  }
};

Simulator::Simulator(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {
  Options& o = impl_->options;
  if (o.blockSize == 0) o.blockSize = 0x20000;
  if (o.timeScale < 0) o.timeScale = 0;
  for (const Fault& f : o.faults) impl_->faults.Add(f);
  impl_->recorder.SetEcho(o.echoTranscript);
  if (!o.transcriptFile.empty()) impl_->recorder.SetFile(o.transcriptFile);
}

Simulator::~Simulator() { Stop(); }

int Simulator::Start(std::string* error) {
  Impl& s = *impl_;
  if (s.running) return 0;
  if (!s.options.stateDir.empty()) {
    ::mkdir(s.options.stateDir.c_str(), 0755);
    if (int err = s.nand.Attach(s.options.stateDir + "/nand.flash", error); err != 0) return err;
    if (int err = s.nor.Attach(s.options.stateDir + "/nor.flash", error); err != 0) return err;
  }
  s.control.stop = false;
  s.control.wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (s.control.wakeFd < 0) {
    const int err = errno;
    if (error) *error = std::string("eventfd: ") + std::strerror(err);
    return err;
  }
  if (int err = s.wire.Open(error); err != 0) {
    ::close(s.control.wakeFd);
    s.control.wakeFd = -1;
    return err;
  }
  s.recorder.Note("handset simulator on " + s.wire.DevicePath() +
                  (s.options.comNumber > 0 ? " as COM" + std::to_string(s.options.comNumber) : std::string()) +
                  (s.options.usb ? " (USB link)" : " (UART link)"));
  s.thread = std::thread([&s] { s.handset.Run(); });
  s.running = true;
  return 0;
}

void Simulator::Stop() {
  Impl& s = *impl_;
  if (!s.running) return;
  s.control.stop = true;
  s.control.Wake();
  if (s.thread.joinable()) s.thread.join();
  s.wire.Close();
  ::close(s.control.wakeFd);
  s.control.wakeFd = -1;
  s.running = false;
}

bool Simulator::Running() const { return impl_->running; }
std::string Simulator::DevicePath() const { return impl_->wire.DevicePath(); }
std::string Simulator::ComName() const {
  return impl_->options.comNumber > 0 ? "COM" + std::to_string(impl_->options.comNumber) : std::string();
}

void Simulator::PowerOn() { impl_->Request(kPowerOn); }
void Simulator::PowerOff() { impl_->Request(kPowerOff); }
void Simulator::PowerCycle() { impl_->Request(kPowerCycle); }
void Simulator::PowerCycleWhenQuiet(double ms, bool repeat) {
  impl_->control.quietCycleRepeat = repeat;
  impl_->control.quietCycleMs = ms;
  impl_->control.Wake();
}

std::vector<uint8_t> Simulator::ReadFlash(FlashPart part, uint32_t address, uint32_t length) const {
  return (part == FlashPart::Nand ? impl_->nand : impl_->nor).Read(address, length);
}
void Simulator::WriteFlash(FlashPart part, uint32_t address, const std::vector<uint8_t>& data) {
  (part == FlashPart::Nand ? impl_->nand : impl_->nor).Write(address, data.data(), data.size());
}
void Simulator::EraseFlash(FlashPart part, uint32_t address, uint32_t length) {
  (part == FlashPart::Nand ? impl_->nand : impl_->nor).Erase(address, length);
}

void Simulator::AddFault(const Fault& fault) {
  impl_->faults.Add(fault);
  impl_->recorder.Note("fault armed: " + fault.ToString());
}
void Simulator::ClearFaults() { impl_->faults.Clear(); }

std::vector<std::string> Simulator::Transcript() const { return impl_->recorder.Lines(); }
std::vector<Simulator::Turnaround> Simulator::Turnarounds() const {
  std::vector<Turnaround> out;
  for (const auto& [at, ns] : impl_->recorder.Turnarounds()) out.push_back({at, ns});
  return out;
}
std::vector<std::string> Simulator::Violations() const { return impl_->recorder.Violations(); }
void Simulator::ClearViolations() { impl_->recorder.ClearViolations(); }
bool Simulator::WaitForTranscript(const std::string& text, int timeoutMs) const {
  return impl_->recorder.WaitFor(text, timeoutMs);
}

uint32_t Simulator::HandsetRate() const { return impl_->wire.HandsetRate(); }
uint32_t Simulator::HostRate() const { return impl_->wire.LastHostRate(); }
std::string Simulator::StateName() const { return impl_->handset.StateName(); }
std::string Simulator::LastDownloadDate() const { return impl_->handset.LastDownloadDate(); }
std::vector<std::string> Simulator::Uploads() const { return impl_->handset.Uploads(); }

}  // namespace vantrel::sim
