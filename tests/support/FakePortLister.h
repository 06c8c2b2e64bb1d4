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

// An FTDI adapter and a CDC modem, as udev describes them.
inline SerialPortInfo FtdiAdapter(const std::string& path) {
  SerialPortInfo p;
  p.path = path;
  p.subsystem = "usb-serial";
  p.driver = "ftdi_sio";
  p.usb = true;
  p.vendorId = "0403";
  p.productId = "6001";
  p.manufacturer = "FTDI";
  p.product = "FT232R USB UART";
  p.serial = "A50285BI";
  p.vendorName = "Future Technology Devices International, Ltd";
  p.modelName = "FT232 Serial (UART) IC";
  return p;
}

inline SerialPortInfo AcmModem(const std::string& path) {
  SerialPortInfo p;
  p.path = path;
  p.subsystem = "usb";
  p.driver = "cdc_acm";
  p.usb = true;
  p.vendorId = "1d6b";
  p.productId = "0104";
  p.vendorName = "Linux Foundation";
  p.modelName = "Multifunction Composite Gadget";
  return p;
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
