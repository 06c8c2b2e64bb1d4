#pragma once
// The COM drop-down as an operator can read it: each name that reaches a
// device shows the device's path and description in the open list and in
// the tool tip; the entries themselves stay "COM1" to "COM50", so the
// selection, the stored settings and the title are untouched by a refresh.
//
// The list is refreshed when a serial device comes or goes (the lister's
// watch descriptor), each time it is opened (a link in the settings folder
// may have appeared, the simulator makes one), and after a mapping.
#include <QComboBox>

#include <functional>
#include <memory>
#include <string>

#include "link/PortList.h"

class QSocketNotifier;

namespace vantrel {

// A drop-down that says when it is about to open.
class ComPortBox : public QComboBox {
 public:
  using QComboBox::QComboBox;
  std::function<void()> beforePopup;
  void showPopup() override;
};

class ComPortList : public QObject {
 public:
  // Text shown for an entry in the open list, beside the entry's own "COMn".
  static constexpr int kLabelRole = Qt::UserRole + 1;

  // Owned by `box`, and so gone with it.
  ComPortList(ComPortBox* box, std::unique_ptr<PortLister> lister);

  // Replaces the device source (tests give a fixed list) and refreshes.
  void SetLister(std::unique_ptr<PortLister> lister);
  void Refresh();
  const PortTable& Table() const { return table_; }

  // Links COMn in the settings folder to `device` (its stable name where it
  // has one). On success the list is refreshed and `onMapped` gets the COM
  // index; on failure `onError` gets the text for the operator.
  bool MapDevice(const SerialPortInfo& device, int comNumber);
  std::function<void(int comIndex)> onMapped;
  std::function<void(const std::string& text)> onError;

 private:
  void Watch();
  void ShowMapMenu(const QPoint& pos);
  void UpdateToolTip();

  ComPortBox* box_;
  std::unique_ptr<PortLister> lister_;
  QSocketNotifier* notifier_ = nullptr;
  PortTable table_;
};

}  // namespace vantrel
