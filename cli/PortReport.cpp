#include "cli/PortReport.h"

#include "cli/Json.h"
#include "link/ComNames.h"
#include "platform/TerminalText.h"

namespace vantrel::cli {
namespace {

// One "port" object. Device strings are whatever the device says; the
// writer turns bytes that are not UTF-8 into U+FFFD.
void Emit(std::FILE* out, const std::string* com, const std::string& path, const std::string& description,
          bool present, bool linked, const SerialPortInfo* d) {
  JsonObject j("port");
  if (com != nullptr) j.Add("com", *com);
  else j.AddNull("com");
  j.AddPath("path", path).Add("description", description).Add("present", present).Add("linked", linked);
  if (d != nullptr) {
    j.Add("usb", d->usb).Add("subsystem", d->subsystem).Add("driver", d->driver);
    if (d->usb) {
      j.Add("vendor_id", d->vendorId).Add("product_id", d->productId).Add("manufacturer", d->manufacturer);
      j.Add("product", d->product).Add("serial", d->serial);
    }
  }
  std::fprintf(out, "%s\n", j.Text().c_str());
}

}  // namespace

// Link targets and the device's own strings are whatever someone put there:
// each line is shown escaped.
void PrintPorts(const PortTable& table, bool json, std::FILE* out) {
  using platform::EscapeField;
  bool any = !table.unreached.empty();
  for (const ComEntry& e : table.coms) {
    if (!e.present && !e.linked) continue;
    any = true;
    if (!json) {
      std::fprintf(out, "%s\n", EscapeField(ComLabel(e)).c_str());
      continue;
    }
    const std::string name = e.Name();
    Emit(out, &name, e.path, e.description, e.present, e.linked, e.device ? &*e.device : nullptr);
  }
  for (const SerialPortInfo& d : table.unreached) {
    if (!json) {
      std::fprintf(out, "%s\n", EscapeField(UnreachedLabel(d)).c_str());
      continue;
    }
    Emit(out, nullptr, d.path, DescribePort(d), true, false, &d);
  }
  if (!json && !any) std::fprintf(stderr, "No serial device found.\n");
  if (!json && !table.unreached.empty()) {
    std::fprintf(stderr, "Devices marked - have no COM name: give one in the window, or link it as %s/COMn.\n",
                 EscapeField(SettingsFolder()).c_str());
  }
}

}  // namespace vantrel::cli
