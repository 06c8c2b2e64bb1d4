#pragma once
// Everything the window asks the operator in a modal way goes through one
// host: message boxes, confirmations, open and save dialogs, dump-area
// dialogs. The window uses QtModalHost; tests install a ScriptedModalHost
// and answer without a modal loop. Hosts are called on the GUI thread only.
#include <QtCore/QtGlobal>

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "jobs/Console.h"

QT_BEGIN_NAMESPACE
class QWidget;
QT_END_NAMESPACE

namespace vantrel {

class ModalHost {
 public:
  virtual ~ModalHost() = default;
  // `caption` is never empty here: the window fills in the application name.
  virtual MsgAnswer MessageBox(QWidget* parent, const std::string& text, const std::string& caption,
                               MsgButtons buttons) = 0;
  virtual bool Confirm(QWidget* parent, const std::string& title, const std::vector<std::string>& lines) = 0;
  // `filter` in the "desc|pattern|...||" form. `mustExist`: only existing files.
  virtual std::optional<std::string> OpenFile(QWidget* parent, const std::string& initialPath,
                                              const std::string& filter, bool mustExist) = 0;
  virtual std::optional<std::string> SaveFile(QWidget* parent, const std::string& proposedName,
                                              const std::string& filter) = 0;
  virtual std::optional<DumpArea> NorDumpArea(QWidget* parent) = 0;
  virtual std::optional<DumpArea> NandDumpArea(QWidget* parent) = 0;
};

// The real dialogs.
class QtModalHost : public ModalHost {
 public:
  MsgAnswer MessageBox(QWidget* parent, const std::string& text, const std::string& caption,
                       MsgButtons buttons) override;
  bool Confirm(QWidget* parent, const std::string& title, const std::vector<std::string>& lines) override;
  std::optional<std::string> OpenFile(QWidget* parent, const std::string& initialPath, const std::string& filter,
                                      bool mustExist) override;
  std::optional<std::string> SaveFile(QWidget* parent, const std::string& proposedName,
                                      const std::string& filter) override;
  std::optional<DumpArea> NorDumpArea(QWidget* parent) override;
  std::optional<DumpArea> NandDumpArea(QWidget* parent) override;
};

// Records every question and answers from a script (first in, first used).
// With an empty script: message boxes OK, confirmations OK, file dialogs and
// dump dialogs cancelled. A hook sees each question before it is answered
// (it may look at the window, or change the script).
class ScriptedModalHost : public ModalHost {
 public:
  enum class Type { Message, Confirm, OpenFile, SaveFile, NorDump, NandDump };
  struct Question {
    Type type;
    std::string text;     // message text, confirmation title, initial path, proposed name
    std::string caption;  // message caption, file filter
    MsgButtons buttons = MsgButtons::Ok;
    std::vector<std::string> lines;  // confirmation lines
    bool mustExist = false;
  };
  using Hook = std::function<void(const Question&)>;

  void QueueMessageAnswer(MsgAnswer answer);
  void QueueConfirm(bool ok);
  void QueueOpenFile(std::optional<std::string> path);
  void QueueSaveFile(std::optional<std::string> path);
  void QueueNorDumpArea(std::optional<DumpArea> area);
  void QueueNandDumpArea(std::optional<DumpArea> area);
  void SetHook(Hook hook);

  std::vector<Question> Questions() const;
  std::vector<std::string> MessageTexts() const;  // message boxes only, in order
  void Clear();

  MsgAnswer MessageBox(QWidget* parent, const std::string& text, const std::string& caption,
                       MsgButtons buttons) override;
  bool Confirm(QWidget* parent, const std::string& title, const std::vector<std::string>& lines) override;
  std::optional<std::string> OpenFile(QWidget* parent, const std::string& initialPath, const std::string& filter,
                                      bool mustExist) override;
  std::optional<std::string> SaveFile(QWidget* parent, const std::string& proposedName,
                                      const std::string& filter) override;
  std::optional<DumpArea> NorDumpArea(QWidget* parent) override;
  std::optional<DumpArea> NandDumpArea(QWidget* parent) override;

 private:
  void Record(const Question& q);
  template <class T>
  static T Take(std::deque<T>& queue, T fallback) {
    if (queue.empty()) return fallback;
    T v = std::move(queue.front());
    queue.pop_front();
    return v;
  }

  mutable std::mutex mu_;
  std::vector<Question> questions_;
  std::deque<MsgAnswer> answers_;
  std::deque<bool> confirms_;
  std::deque<std::optional<std::string>> opens_;
  std::deque<std::optional<std::string>> saves_;
  std::deque<std::optional<DumpArea>> norAreas_;
  std::deque<std::optional<DumpArea>> nandAreas_;
  Hook hook_;
};

}  // namespace vantrel
