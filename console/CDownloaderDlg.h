#pragma once
// The main window: every control the operator uses, the operation record the
// jobs read, and the console the jobs write to.
//
// Console calls may come from the job's worker thread. They are delivered to
// the GUI thread in the order they were made; the modal ones (message boxes,
// dialogs) and the data exchange block the worker until they are done there.
// Called on the GUI thread they run at once.
#include <QDialog>
#include <QFont>
#include <QPointer>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "console/ControlTable.h"
#include "jobs/Console.h"
#include "jobs/OperationRecord.h"

class QAbstractButton;
class QButtonGroup;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QTextEdit;
class QTimer;

namespace vantrel {

class ComPortList;
class ModalHost;
class OperationControl;
struct JobOutcome;

class CDownloaderDlg : public QDialog, public Console {
  Q_OBJECT
 public:
  // `settings` may be null (nothing is remembered). `host` null: real dialogs.
  explicit CDownloaderDlg(SettingsStore* settings, ModalHost* host = nullptr, QWidget* parent = nullptr);
  ~CDownloaderDlg() override;

  // --- Controls by identifier ---
  QWidget* Control(int id) const;
  template <class T>
  T* ControlAs(int id) const {
    return qobject_cast<T*>(Control(id));
  }
  std::vector<int> ControlIds() const;
  // Presses a button or check box by identifier, as the operator would
  // (hidden controls too; a disabled one does nothing). False if no such
  // button exists.
  bool Click(int id);
  QPlainTextEdit* LogView() const { return log_; }
  // The log as saved from its menu: every line with the time it began.
  QString LogWithTimes() const;
  // Plain text of a control (edits, buttons, rich-text boxes, the log).
  std::string ControlText(int id) const;

  OperationRecord& Record() { return rec_; }
  OperationControl& Operations() { return *ops_; }
  // The COM list's devices and the "map to COMn" action.
  ComPortList& ComPorts() const { return *comPorts_; }
  // Replaces the modal host; null restores the real dialogs.
  void SetModalHost(ModalHost* host);
  ModalHost& Host() const;

  // --- Console ---
  void AppendLog(const std::string& text, LogKind kind) override;
  void AppendLogPlain(const std::string& text) override;
  void SetLinkIndicator(const std::string& text, IndicatorKind kind) override;
  void SetControlText(int controlId, const std::string& text) override;
  void EnableControl(int controlId, bool enabled) override;
  void SetProgressRange(int low, int high) override;
  void SetProgressPos(int pos) override;
  void ShowItemProgress(int itemButton, ItemFont font) override;
  void ShowTicks(int ticks, int expected) override;
  void ShowPercent(int percent) override;
  void EnterDisconnectedState() override;
  void EnterReadyState() override;
  void EnterBusyState() override;
  void ControlsToRecord() override;
  void RecordToControls() override;
  MsgAnswer MessageBox(const std::string& text, const std::string& caption = "",
                       MsgButtons buttons = MsgButtons::Ok) override;
  bool Confirm(const std::string& title, const std::vector<std::string>& lines) override;
  std::optional<std::string> SaveFileDialog(const std::string& proposedName, const std::string& filter) override;
  std::optional<DumpArea> NorDumpDialog() override;
  std::optional<DumpArea> NandDumpDialog() override;

  // --- Handlers (GUI thread) ---
  void RefreshTitle();  // the one-second timer
  void OnComSelChange(int index);
  void OnBaudSelChange(int index);
  void OnByUart();
  void OnByUsb();
  void OnImgset();
  void OnFileSystem();
  // "Calset", "Rsrc1", "Rsrc2" and both "Ch. File" buttons.
  void OnChooseFile(int buttonId);
  void OnEntireFlashFile();  // hidden "VLF Download"
  void OnInfo(int buttonId);
  void OnStartAddressChanged(int boxId);

  // Lets workers that wait for an answer go (with "Cancel") and answers any
  // later modal call at once; called when the window closes.
  void Shutdown();
  bool ShuttingDown() const;

  const QFont& ItemFontFor(ItemFont font) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildControls();
  void CreateFonts();
  void NoticeIfAway(const JobOutcome& outcome);
  void ConnectHandlers();
  void Initialise();
  void ApplyState(console::ConsoleState state);
  void ResetDisplay();
  void Register(int id, QWidget* w);
  bool OnGuiThread() const;
  void Post(std::function<void()> fn);
  // Forgets every worker call queued so far. Only for a job that can say
  // nothing more (stopped, its console closed): its calls are out of date.
  void DropQueuedWorkerCalls();
  template <class R>
  R CallOnGui(std::function<R()> fn, R fallback);
  void NoteEnabled(int id, bool enabled);
  bool EnableAlreadyRequested(int id, bool enabled);
  void InsertLogText(const QString& text, const QColor* colour);
  void ShowLogMenu(const QPoint& at);
  void SetRichText(QTextEdit* box, const std::string& text, const QColor& colour, bool bold);
  void WriteSetting(const char* section, const char* key, const std::string& value);
  void WriteSettingInt(const char* key, int value);
  int ReadSettingInt(const char* key, int def);
  // A stored port index ("UartPort", "UsbPort"), kept to the COM list.
  int ReadStoredPort(const char* key);
  void SelectCom(int index);
  void StorePath(std::string OperationRecord::*member, int box, const char* key, const std::string& path);

  SettingsStore* settings_;
  bool settingsFailureShown_ = false;
  std::unique_ptr<ModalHost> ownHost_;
  ModalHost* host_ = nullptr;
  OperationRecord rec_;
  std::unique_ptr<OperationControl> ops_;

  std::map<int, QWidget*> controls_;
  QPlainTextEdit* log_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QComboBox* comList_ = nullptr;
  QComboBox* baudList_ = nullptr;
  ComPortList* comPorts_ = nullptr;
  QButtonGroup* itemGroup_ = nullptr;
  QTimer* titleTimer_ = nullptr;
  std::map<int, int*> checkBoxes_;  // check box id -> record member

  QFont fontBanner_, fontStatus_, fontStart_, fontItemActive_, fontItemDone_, fontItem_, fontSmall_;

  // Cross-thread delivery.
  mutable std::mutex waitMu_;
  std::condition_variable waitCv_;
  bool closing_ = false;
  std::atomic<unsigned> postGeneration_{0};
  std::mutex enableMu_;
  std::map<int, bool> requestedEnable_;
};

}  // namespace vantrel
