#include "console/ComPortList.h"

#include <QAbstractItemView>
#include <QMenu>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QStyledItemDelegate>

#include <cstring>

#include "link/ComNames.h"

namespace vantrel {
namespace {

// The open list draws an entry's label where it has one; the closed box
// keeps showing the entry's own "COMn", which is all its width holds.
class LabelDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    const QVariant label = index.data(ComPortList::kLabelRole);
    if (label.isValid()) option->text = label.toString();
  }
};

}  // namespace

void ComPortBox::showPopup() {
  if (beforePopup) beforePopup();
  QComboBox::showPopup();
}

ComPortList::ComPortList(ComPortBox* box, std::unique_ptr<PortLister> lister) : QObject(box), box_(box) {
  box_->setItemDelegate(new LabelDelegate(box_));
  // A list that drops below the box, as many entries high as the layout
  // gives it, rather than fifty wide entries laid over the whole window.
  box_->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
  box_->beforePopup = [this] { Refresh(); };
  if (ComNamesCanBeMapped()) {
    box_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(box_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) { ShowMapMenu(pos); });
  }
  connect(box_, &QComboBox::currentIndexChanged, this, [this] { UpdateToolTip(); });
  SetLister(std::move(lister));
}

void ComPortList::SetLister(std::unique_ptr<PortLister> lister) {
  delete notifier_;
  notifier_ = nullptr;
  lister_ = std::move(lister);
  Watch();
  Refresh();
}

void ComPortList::Watch() {
  const int fd = lister_->WatchFd();
  if (fd < 0) return;
  notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    if (lister_->TakeChanges()) Refresh();
  });
}

void ComPortList::Refresh() {
  table_ = BuildPortTable(lister_->List());
  // Item data only: the entries, the current index and the enabled state
  // stay as they are, so a running job and the operator's choice are not
  // disturbed.
  const int count = std::min(box_->count(), static_cast<int>(table_.coms.size()));
  QFont bold = box_->font();
  bold.setBold(true);
  for (int i = 0; i < count; ++i) {
    const ComEntry& e = table_.coms[static_cast<size_t>(i)];
    const QString label = QString::fromStdString(ComLabel(e));
    const bool marked = e.present || e.linked;
    box_->setItemData(i, marked ? QVariant(label) : QVariant(), kLabelRole);
    box_->setItemData(i, marked ? QVariant(label) : QVariant(), Qt::ToolTipRole);
    box_->setItemData(i, e.present ? QVariant(bold) : QVariant(), Qt::FontRole);
  }
  // The open list is as wide as its longest label.
  QAbstractItemView* view = box_->view();
  view->setMinimumWidth(view->sizeHintForColumn(0) + view->verticalScrollBar()->sizeHint().width() + 8);
  UpdateToolTip();
}

void ComPortList::UpdateToolTip() {
  const QVariant label = box_->currentData(kLabelRole);
  box_->setToolTip(label.isValid() ? label.toString() : QString());
}

bool ComPortList::MapDevice(const SerialPortInfo& device, int comNumber) {
  const std::string target = device.stablePath.empty() ? device.path : device.stablePath;
  if (const int err = MapComPort(comNumber, target); err != 0) {
    if (onError) {
      onError("COM" + std::to_string(comNumber) + " could not be mapped to " + target + ":\r\n" +
              std::strerror(err) + " (" + ComLinkPath(comNumber) + ")");
    }
    return false;
  }
  Refresh();
  if (onMapped) onMapped(comNumber - 1);
  return true;
}

void ComPortList::ShowMapMenu(const QPoint& pos) {
  Refresh();
  QMenu menu(box_);
  // The selected name when it reaches nothing, so the operator can pick the
  // name first; else the lowest free one.
  const int com = FreeComNumber(table_, box_->currentIndex() + 1);
  for (const SerialPortInfo& d : table_.unreached) {
    if (com == 0) break;
    menu.addSection(QString::fromStdString(d.path + "  " + DescribePort(d)));
    QAction* map = menu.addAction(QStringLiteral("map to COM%1").arg(com));
    connect(map, &QAction::triggered, this, [this, d, com] { MapDevice(d, com); });
  }
  if (menu.isEmpty()) menu.addAction(QStringLiteral("Every serial device has a COM name"))->setEnabled(false);
  menu.exec(box_->mapToGlobal(pos));
}

}  // namespace vantrel
