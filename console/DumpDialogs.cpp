#include "console/DumpDialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "console/ModalHost.h"

namespace vantrel {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

DumpAreaDialog::DumpAreaDialog(const DumpDialogDef& def, ModalHost& host, QWidget* parent)
    : QDialog(parent),
      model_(def, [this, &host](const std::string& text, const std::string& caption) {
        host.MessageBox(this, text, caption, MsgButtons::Ok);
      }) {
  setWindowTitle(Q(def.title));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

  auto* areaBox = new QGroupBox(QStringLiteral("Area Select"), this);
  auto* areaLayout = new QVBoxLayout(areaBox);
  auto* group = new QButtonGroup(this);
  for (size_t i = 0; i < def.areas.size(); ++i) {
    auto* radio = new QRadioButton(Q(def.areas[i].caption), areaBox);
    // Areas laid out but never offered stay hidden.
    radio->setVisible(def.areas[i].shown);
    group->addButton(radio, static_cast<int>(i));
    areaLayout->addWidget(radio);
    areas_.push_back(radio);
    connect(radio, &QRadioButton::clicked, this, [this, i] {
      model_.SelectArea(i);
      ShowModel();
    });
  }

  auto* manualBox = new QGroupBox(QStringLiteral("Manual Select"), this);
  auto* grid = new QGridLayout(manualBox);
  from_ = new QLineEdit(manualBox);
  to_ = new QLineEdit(manualBox);
  from_->setObjectName(QStringLiteral("from"));
  to_->setObjectName(QStringLiteral("to"));
  grid->addWidget(new QLabel(QStringLiteral("FROM"), manualBox), 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("TO"), manualBox), 0, 4);
  grid->addWidget(new QLabel(QStringLiteral("0x"), manualBox), 1, 0);
  grid->addWidget(from_, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("~"), manualBox), 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("0x"), manualBox), 1, 3);
  grid->addWidget(to_, 1, 4);
  connect(from_, &QLineEdit::textEdited, this, [this](const QString& t) {
    model_.EditFrom(t.toStdString());
    ShowModel();
  });
  connect(to_, &QLineEdit::textEdited, this, [this](const QString& t) {
    model_.EditTo(t.toStdString());
    ShowModel();
  });

  erase_ = new QCheckBox(QString::fromUtf8(kEraseBoxCaption), this);
  erase_->setEnabled(def.eraseBoxEnabled);
  connect(erase_, &QCheckBox::toggled, this, [this](bool on) { model_.SetEraseChecked(on); });

  ok_ = new QPushButton(Q(def.okCaption), this);
  cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &DumpAreaDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &DumpAreaDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(areaBox);
  layout->addWidget(manualBox);
  layout->addWidget(erase_);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  ShowModel();
}

void DumpAreaDialog::ShowModel() {
  // The model has already run the change handling; showing its texts must
  // not run it again.
  QSignalBlocker bf(from_), bt(to_), be(erase_);
  QString f = Q(model_.FromText()), t = Q(model_.ToText());
  if (from_->text() != f) from_->setText(f);
  if (to_->text() != t) to_->setText(t);
  erase_->setChecked(model_.EraseChecked());
}

void DumpAreaDialog::accept() {
  result_ = model_.Accept();
  QDialog::accept();
}

NorDumpDialog::NorDumpDialog(ModalHost& host, QWidget* parent) : DumpAreaDialog(NorDumpDialogDef(), host, parent) {}
NandDumpDialog::NandDumpDialog(ModalHost& host, QWidget* parent) : DumpAreaDialog(NandDumpDialogDef(), host, parent) {}

}  // namespace vantrel
