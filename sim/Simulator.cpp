// Placeholder until the handset lands: the interface compiles and links, and
// Start() reports that no handset is available yet.
#include "sim/Simulator.h"

#include <cerrno>

namespace vantrel::sim {

struct Simulator::Impl {
  Options options;
};

bool Fault::Parse(const std::string& text, Fault* out, std::string* error) {
  (void)text;
  (void)out;
  if (error) *error = "faults are not available yet";
  return false;
}
std::string Fault::ToString() const { return {}; }

Simulator::Simulator(Options options) : impl_(std::make_unique<Impl>()) { impl_->options = std::move(options); }
Simulator::~Simulator() { Stop(); }
int Simulator::Start(std::string* error) {
  if (error) *error = "the handset simulator is not built yet";
  return ENOSYS;
}
void Simulator::Stop() {}
bool Simulator::Running() const { return false; }
std::string Simulator::DevicePath() const { return {}; }
std::string Simulator::ComName() const { return {}; }
void Simulator::PowerOn() {}
void Simulator::PowerOff() {}
void Simulator::PowerCycle() {}
void Simulator::PowerCycleWhenQuiet(double, bool) {}
std::vector<uint8_t> Simulator::ReadFlash(FlashPart, uint32_t, uint32_t length) const {
  return std::vector<uint8_t>(length, 0xFF);
}
void Simulator::WriteFlash(FlashPart, uint32_t, const std::vector<uint8_t>&) {}
void Simulator::EraseFlash(FlashPart, uint32_t, uint32_t) {}
void Simulator::AddFault(const Fault&) {}
void Simulator::ClearFaults() {}
std::vector<std::string> Simulator::Transcript() const { return {}; }
std::vector<std::string> Simulator::Violations() const { return {}; }
void Simulator::ClearViolations() {}
bool Simulator::WaitForTranscript(const std::string&, int) const { return false; }
uint32_t Simulator::HandsetRate() const { return 115200; }
uint32_t Simulator::HostRate() const { return 0; }
std::string Simulator::StateName() const { return "off"; }
std::string Simulator::LastDownloadDate() const { return {}; }
std::vector<std::string> Simulator::Uploads() const { return {}; }

}  // namespace vantrel::sim
