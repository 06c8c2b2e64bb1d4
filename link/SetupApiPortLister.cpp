// Serial ports from SetupAPI: the present devices of the Ports class with
// their COM name, names and instance IDs. What is made of the strings is in
// WindowsPorts.cpp; only the reading is here.
#include <windows.h>
// windows.h first: the SetupAPI headers build on its types. initguid.h makes
// devpkey.h define the property keys here; no import library holds them.
#include <initguid.h>
#include <cfgmgr32.h>
#include <devguid.h>
#include <devpkey.h>
#include <setupapi.h>

#include <string>
#include <vector>

#include "link/PortList.h"
#include "platform/Win32.h"
#include "link/WindowsPorts.h"

namespace vantrel {
namespace {

using platform::Narrow;

std::string RegistryText(HDEVINFO set, SP_DEVINFO_DATA& dev, DWORD property) {
  wchar_t buf[512] = {};
  if (!::SetupDiGetDeviceRegistryPropertyW(set, &dev, property, nullptr, reinterpret_cast<BYTE*>(buf),
                                           sizeof buf - sizeof(wchar_t), nullptr))
    return {};
  return Narrow(buf);
}

std::string PortNameOf(HDEVINFO set, SP_DEVINFO_DATA& dev) {
  HKEY key = ::SetupDiOpenDevRegKey(set, &dev, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == INVALID_HANDLE_VALUE) return {};
  wchar_t buf[64] = {};
  DWORD size = sizeof buf - sizeof(wchar_t);
  DWORD type = 0;
  const LONG rc = ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  ::RegCloseKey(key);
  return rc == ERROR_SUCCESS && type == REG_SZ ? Narrow(buf) : std::string();
}

std::string InstanceIdOf(DEVINST node) {
  wchar_t buf[MAX_DEVICE_ID_LEN + 1] = {};
  return ::CM_Get_Device_IDW(node, buf, MAX_DEVICE_ID_LEN, 0) == CR_SUCCESS ? Narrow(buf) : std::string();
}

// The product string the device itself reports over its bus.
std::string BusDescription(DEVINST node) {
  wchar_t buf[256] = {};
  ULONG size = sizeof buf - sizeof(wchar_t);
  DEVPROPTYPE type = 0;
  if (::CM_Get_DevNode_PropertyW(node, &DEVPKEY_Device_BusReportedDeviceDesc, &type, reinterpret_cast<BYTE*>(buf),
                                 &size, 0) != CR_SUCCESS ||
      type != DEVPROP_TYPE_STRING)
    return {};
  return Narrow(buf);
}

class SetupApiPortLister : public PortLister {
 public:
  std::vector<SerialPortInfo> List() override {
    std::vector<WindowsPortRecord> records;
    HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return {};
    SP_DEVINFO_DATA dev{};
    dev.cbSize = sizeof dev;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &dev); ++i) {
      WindowsPortRecord r;
      r.portName = PortNameOf(set, dev);
      r.friendlyName = RegistryText(set, dev, SPDRP_FRIENDLYNAME);
      r.manufacturer = RegistryText(set, dev, SPDRP_MFG);
      r.service = RegistryText(set, dev, SPDRP_SERVICE);
      r.instanceId = InstanceIdOf(dev.DevInst);
      r.busDescription = BusDescription(dev.DevInst);
      DEVINST parent = 0;
      if (::CM_Get_Parent(&parent, dev.DevInst, 0) == CR_SUCCESS) {
        r.parentInstanceId = InstanceIdOf(parent);
        if (r.busDescription.empty()) r.busDescription = BusDescription(parent);
      }
      records.push_back(std::move(r));
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return PortsFromRecords(records);
  }
};

}  // namespace

std::unique_ptr<PortLister> MakeSystemPortLister() { return std::make_unique<SetupApiPortLister>(); }

}  // namespace vantrel
