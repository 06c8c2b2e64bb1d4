#pragma once
// The two dump-area dialogs: thin views over DumpAreaModel.
#include <QDialog>

#include <vector>

#include "maintenance/DumpAreaModel.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace vantrel {

class ModalHost;

class DumpAreaDialog : public QDialog {
  Q_OBJECT
 public:
  DumpAreaDialog(const DumpDialogDef& def, ModalHost& host, QWidget* parent);

  // The range the operator chose; read after the dialog was accepted.
  DumpArea Result() const { return result_; }

  const DumpAreaModel& Model() const { return model_; }
  QLineEdit* FromBox() const { return from_; }
  QLineEdit* ToBox() const { return to_; }
  QCheckBox* EraseBox() const { return erase_; }
  QRadioButton* AreaButton(int index) const { return areas_.at(static_cast<size_t>(index)); }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

 public slots:
  void accept() override;

 private:
  void ShowModel();

  DumpAreaModel model_;
  QLineEdit* from_ = nullptr;
  QLineEdit* to_ = nullptr;
  QCheckBox* erase_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  std::vector<QRadioButton*> areas_;
  DumpArea result_;
};

class NorDumpDialog : public DumpAreaDialog {
  Q_OBJECT
 public:
  NorDumpDialog(ModalHost& host, QWidget* parent = nullptr);
};

class NandDumpDialog : public DumpAreaDialog {
  Q_OBJECT
 public:
  NandDumpDialog(ModalHost& host, QWidget* parent = nullptr);
};

}  // namespace vantrel
