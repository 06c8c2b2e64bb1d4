#include "console/ModalHost.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "console/ConsoleText.h"
#include "console/DumpDialogs.h"
#include "jobs/FileInfo.h"

namespace vantrel {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(console::DisplayText(s)); }

std::optional<std::string> RunFileDialog(QFileDialog& dialog) {
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().first().toStdString();
}

void PlaceInitial(QFileDialog& dialog, const std::string& path) {
  if (path.empty()) return;
  QFileInfo info(QString::fromStdString(path));
  if (info.dir().exists()) dialog.setDirectory(info.dir());
  dialog.selectFile(info.fileName());
}

}  // namespace

MsgAnswer QtModalHost::MessageBox(QWidget* parent, const std::string& text, const std::string& caption,
                                  MsgButtons buttons) {
  QMessageBox box(QMessageBox::NoIcon, Q(caption), Q(text),
                  buttons == MsgButtons::OkCancel ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok, parent);
  return box.exec() == QMessageBox::Ok ? MsgAnswer::Ok : MsgAnswer::Cancel;
}

bool QtModalHost::Confirm(QWidget* parent, const std::string& title, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += (text.empty() ? "" : "\n") + l;
  QMessageBox box(QMessageBox::Warning, Q(title), Q(text), QMessageBox::Ok | QMessageBox::Cancel, parent);
  box.setDefaultButton(QMessageBox::Cancel);
  return box.exec() == QMessageBox::Ok;
}

std::optional<std::string> QtModalHost::OpenFile(QWidget* parent, const std::string& initialPath,
                                                 const std::string& filter, bool mustExist) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  dialog.setNameFilters(QString::fromStdString(console::QtFilterText(filter)).split(QStringLiteral(";;")));
  dialog.setOption(QFileDialog::HideNameFilterDetails);  // the letter classes are not for reading
  PlaceInitial(dialog, initialPath);
  return RunFileDialog(dialog);
}

std::optional<std::string> QtModalHost::SaveFile(QWidget* parent, const std::string& proposedName,
                                                 const std::string& filter) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  // The dialog's own prompt does not see a link whose target is missing; the
  // save would create that target unasked. Every taken name is asked about here.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setNameFilters(QString::fromStdString(console::QtFilterText(filter)).split(QStringLiteral(";;")));
  dialog.setOption(QFileDialog::HideNameFilterDetails);  // the letter classes are not for reading
  PlaceInitial(dialog, proposedName);
  for (;;) {
    std::optional<std::string> chosen = RunFileDialog(dialog);
    if (!chosen || !NameIsTaken(*chosen)) return chosen;
    const QString name = QFileInfo(QString::fromStdString(*chosen)).fileName();
    if (QMessageBox::question(parent, dialog.windowTitle(),
                              QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(name)) ==
        QMessageBox::Yes)
      return chosen;
  }
}

std::optional<DumpArea> QtModalHost::NorDumpArea(QWidget* parent) {
  NorDumpDialog dialog(*this, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Result();
}

std::optional<DumpArea> QtModalHost::NandDumpArea(QWidget* parent) {
  NandDumpDialog dialog(*this, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Result();
}

// --- ScriptedModalHost ---

void ScriptedModalHost::QueueMessageAnswer(MsgAnswer a) {
  std::lock_guard<std::mutex> l(mu_);
  answers_.push_back(a);
}
void ScriptedModalHost::QueueConfirm(bool ok) {
  std::lock_guard<std::mutex> l(mu_);
  confirms_.push_back(ok);
}
void ScriptedModalHost::QueueOpenFile(std::optional<std::string> path) {
  std::lock_guard<std::mutex> l(mu_);
  opens_.push_back(std::move(path));
}
void ScriptedModalHost::QueueSaveFile(std::optional<std::string> path) {
  std::lock_guard<std::mutex> l(mu_);
  saves_.push_back(std::move(path));
}
void ScriptedModalHost::QueueNorDumpArea(std::optional<DumpArea> area) {
  std::lock_guard<std::mutex> l(mu_);
  norAreas_.push_back(area);
}
void ScriptedModalHost::QueueNandDumpArea(std::optional<DumpArea> area) {
  std::lock_guard<std::mutex> l(mu_);
  nandAreas_.push_back(area);
}
void ScriptedModalHost::SetHook(Hook hook) {
  std::lock_guard<std::mutex> l(mu_);
  hook_ = std::move(hook);
}

std::vector<ScriptedModalHost::Question> ScriptedModalHost::Questions() const {
  std::lock_guard<std::mutex> l(mu_);
  return questions_;
}

std::vector<std::string> ScriptedModalHost::MessageTexts() const {
  std::lock_guard<std::mutex> l(mu_);
  std::vector<std::string> out;
  for (const Question& q : questions_)
    if (q.type == Type::Message) out.push_back(q.text);
  return out;
}

void ScriptedModalHost::Clear() {
  std::lock_guard<std::mutex> l(mu_);
  questions_.clear();
}

void ScriptedModalHost::Record(const Question& q) {
  Hook hook;
  {
    std::lock_guard<std::mutex> l(mu_);
    questions_.push_back(q);
    hook = hook_;
  }
  if (hook) hook(q);
}

MsgAnswer ScriptedModalHost::MessageBox(QWidget*, const std::string& text, const std::string& caption,
                                        MsgButtons buttons) {
  Record({Type::Message, text, caption, buttons, {}, false});
  std::lock_guard<std::mutex> l(mu_);
  return Take(answers_, MsgAnswer::Ok);
}

bool ScriptedModalHost::Confirm(QWidget*, const std::string& title, const std::vector<std::string>& lines) {
  Record({Type::Confirm, title, "", MsgButtons::OkCancel, lines, false});
  std::lock_guard<std::mutex> l(mu_);
  return Take(confirms_, true);
}

std::optional<std::string> ScriptedModalHost::OpenFile(QWidget*, const std::string& initialPath,
                                                       const std::string& filter, bool mustExist) {
  Record({Type::OpenFile, initialPath, filter, MsgButtons::Ok, {}, mustExist});
  std::lock_guard<std::mutex> l(mu_);
  return Take(opens_, std::optional<std::string>());
}

std::optional<std::string> ScriptedModalHost::SaveFile(QWidget*, const std::string& proposedName,
                                                       const std::string& filter) {
  Record({Type::SaveFile, proposedName, filter, MsgButtons::Ok, {}, false});
  std::lock_guard<std::mutex> l(mu_);
  return Take(saves_, std::optional<std::string>());
}

std::optional<DumpArea> ScriptedModalHost::NorDumpArea(QWidget*) {
  Record({Type::NorDump, "", "", MsgButtons::Ok, {}, false});
  std::lock_guard<std::mutex> l(mu_);
  return Take(norAreas_, std::optional<DumpArea>());
}

std::optional<DumpArea> ScriptedModalHost::NandDumpArea(QWidget*) {
  Record({Type::NandDump, "", "", MsgButtons::Ok, {}, false});
  std::lock_guard<std::mutex> l(mu_);
  return Take(nandAreas_, std::optional<DumpArea>());
}

}  // namespace vantrel
