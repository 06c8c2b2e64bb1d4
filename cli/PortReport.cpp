#include "cli/PortReport.h"

#include <nlohmann/json.hpp>

#include "link/ComNames.h"

namespace vantrel::cli {
namespace {

using Json = nlohmann::ordered_json;

Json DeviceFields(Json j, const SerialPortInfo& d) {
  j["usb"] = d.usb;
  j["subsystem"] = d.subsystem;
  j["driver"] = d.driver;
  if (d.usb) {
    j["vendor_id"] = d.vendorId;
    j["product_id"] = d.productId;
    j["manufacturer"] = d.manufacturer;
    j["product"] = d.product;
    j["serial"] = d.serial;
  }
  return j;
}

void Emit(std::FILE* out, const Json& j) {
  // Device strings are whatever the device says; bytes that are not UTF-8
  // are replaced rather than ending the listing.
  std::fprintf(out, "%s\n", j.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
}

}  // namespace

void PrintPorts(const PortTable& table, bool json, std::FILE* out) {
  bool any = !table.unreached.empty();
  for (const ComEntry& e : table.coms) {
    if (!e.present && !e.linked) continue;
    any = true;
    if (!json) {
      std::fprintf(out, "%s\n", ComLabel(e).c_str());
      continue;
    }
    Json j = {{"event", "port"}, {"com", e.Name()}, {"path", e.path}, {"description", e.description},
              {"present", e.present}, {"linked", e.linked}};
    Emit(out, e.device ? DeviceFields(std::move(j), *e.device) : j);
  }
  for (const SerialPortInfo& d : table.unreached) {
    if (!json) {
      std::fprintf(out, "%s\n", UnreachedLabel(d).c_str());
      continue;
    }
    Json j = {{"event", "port"}, {"com", nullptr}, {"path", d.path}, {"description", DescribePort(d)},
              {"present", true}, {"linked", false}};
    Emit(out, DeviceFields(std::move(j), d));
  }
  if (!json && !any) std::fprintf(stderr, "No serial device found.\n");
  if (!json && !table.unreached.empty()) {
    std::fprintf(stderr, "Devices marked - have no COM name: give one in the window, or link it as %s/COMn.\n",
                 SettingsFolder().c_str());
  }
}

}  // namespace vantrel::cli
