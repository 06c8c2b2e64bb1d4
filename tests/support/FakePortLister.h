#pragma once
// A fixed list of serial devices in place of udev, with a pipe standing in
// for the hotplug monitor: Plug() changes the list and makes the watch
// descriptor readable, as a device coming or going does.
#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "link/PortList.h"

namespace vantrel::test {

// A USB serial device known to the ID database, without strings of its own.
inline SerialPortInfo UsbDevice(const std::string& path, const char* driver, const char* vendorId,
                                const char* productId, const char* vendorName, const char* modelName) {
  SerialPortInfo p;
  p.path = path;
  p.subsystem = "usb";
  p.driver = driver;
  p.usb = true;
  p.vendorId = vendorId;
  p.productId = productId;
  p.vendorName = vendorName;
  p.modelName = modelName;
  return p;
}

// An FTDI adapter and a CDC modem, as udev describes them.
inline SerialPortInfo FtdiAdapter(const std::string& path) {
  SerialPortInfo p = UsbDevice(path, "ftdi_sio", "0403", "6001", "Future Technology Devices International, Ltd",
                               "FT232 Serial (UART) IC");
  p.subsystem = "usb-serial";
  p.manufacturer = "FTDI";
  p.product = "FT232R USB UART";
  p.serial = "A50285BI";
  return p;
}

inline SerialPortInfo AcmModem(const std::string& path) {
  return UsbDevice(path, "cdc_acm", "1d6b", "0104", "Linux Foundation", "Multifunction Composite Gadget");
}

class FakePortLister : public PortLister {
 public:
  struct Shared {
    std::vector<SerialPortInfo> devices;
    int pipe[2] = {-1, -1};
    ~Shared() {
      for (int fd : pipe)
        if (fd >= 0) ::close(fd);
    }
    void Plug(std::vector<SerialPortInfo> now) {
      devices = std::move(now);
      (void)!::write(pipe[1], "x", 1);
    }
  };

  // The test keeps `shared` to change the list after handing the lister over.
  explicit FakePortLister(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {
    if (shared_->pipe[0] < 0 && ::pipe2(shared_->pipe, O_NONBLOCK | O_CLOEXEC) != 0) shared_->pipe[0] = -1;
  }
  std::vector<SerialPortInfo> List() override { return shared_->devices; }
  int WatchFd() override { return shared_->pipe[0]; }
  bool TakeChanges() override {
    char buf[16];
    bool any = false;
    while (::read(shared_->pipe[0], buf, sizeof buf) > 0) any = true;
    return any;
  }

 private:
  std::shared_ptr<Shared> shared_;
};

}  // namespace vantrel::test
