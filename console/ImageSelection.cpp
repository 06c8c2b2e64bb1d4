// File buttons, INFO buttons, start-address boxes, and the port and rate
// choices with their settings memory.
#include <QComboBox>
#include <QLineEdit>

#include <algorithm>
#include <cstdio>

#include "console/CDownloaderDlg.h"
#include "console/ModalHost.h"
#include "jobs/ControlIds.h"
#include "jobs/FileInfo.h"
#include "link/ComNames.h"
#include "maintenance/HexText.h"
#include "maintenance/OperationControl.h"

namespace vantrel {

namespace {

// The companion paths of an image set are written under this spelling of the
// section; the store matches sections without regard to case.
constexpr const char* kDerivedSection = "FennikDl";

constexpr const char* kImageSizeError = "Image File Size Error";
constexpr const char* kFileOpenFailed = "File open failed";
constexpr const char* kImageFilter = "?.img File(*.img)|*.img|*.*|*.*||";

// The entire-flash image has one size; the DOWNLOAD check of its item uses
// the same number.
constexpr uint32_t kEntireFlashBytes = 0x2A69000;

}  // namespace

void CDownloaderDlg::WriteSetting(const char* section, const char* key, const std::string& value) {
  if (!settings_) return;
  settings_->WriteString(section, key, value);
  ReportSettingsWrite(*this, *settings_, &settingsFailureShown_);
}

int CDownloaderDlg::ReadSettingInt(const char* key, int def) {
  return settings_ ? settings_->ReadInt(kSettingsSection, key, def) : def;
}

int CDownloaderDlg::ReadStoredPort(const char* key) {
  // A damaged settings file may hold any number; the port names and the
  // title add one to it, so it is kept to the list's range as it is read.
  return std::clamp(ReadSettingInt(key, rec_.m_nComPort), 0, kComPortCount - 1);
}

void CDownloaderDlg::SelectCom(int index) {
  // A stored port outside the list shows no selection; the record keeps it.
  comList_->setCurrentIndex(index >= 0 && index < comList_->count() ? index : -1);
}

// --- Port and rate ---

void CDownloaderDlg::WriteSettingInt(const char* key, int value) {
  if (!settings_) return;
  settings_->WriteInt(kSettingsSection, key, value);
  ReportSettingsWrite(*this, *settings_, &settingsFailureShown_);
}

void CDownloaderDlg::OnComSelChange(int index) {
  rec_.m_nComPort = index;
  if (rec_.m_nCommType == 0) WriteSettingInt("UartPort", index);
  else if (rec_.m_nCommType == 1) WriteSettingInt("UsbPort", index);
}

void CDownloaderDlg::OnBaudSelChange(int index) {
  rec_.m_nBaudRate = index;
  WriteSettingInt("m_nBaudRate", index);
}

void CDownloaderDlg::OnByUart() {
  rec_.m_nComPort = ReadStoredPort("UartPort");
  SelectCom(rec_.m_nComPort);
  ControlsToRecord();
}

void CDownloaderDlg::OnByUsb() {
  rec_.m_nComPort = ReadStoredPort("UsbPort");
  SelectCom(rec_.m_nComPort);
  ControlsToRecord();
}

// --- Files ---

namespace {

struct PathRow {
  int button;
  std::string OperationRecord::*member;
  int box;
  const char* key;
  const char* filter;
  const char* failText;
};

const PathRow kRows[] = {
    {ctl::kCalsetButton, &OperationRecord::m_strParamDepFileName, ctl::kCalsetPath, "m_strParamDepFileName",
     "sysparm_dep.img File(*.img)|*.img|*.*|*.*||", kImageSizeError},
    {ctl::kRsrc1Button, &OperationRecord::m_strRscrFileName, ctl::kRsrc1Path, "m_strRscrFileName",
     "Rscr.cnt File(*.rc1)|*.rc1|*.*|*.*||", kFileOpenFailed},
    {ctl::kRsrc2Button, &OperationRecord::m_strRscr2FileName, ctl::kRsrc2Path, "m_strRscr2FileName",
     "Rscr2.cnt File(*.rc2)|*.rc2|*.*|*.*||", kFileOpenFailed},
    {ctl::kNandChFile, &OperationRecord::m_strManualNandImage, ctl::kNandManualPath, "m_strManualNandImage",
     kImageFilter, kImageSizeError},
    {ctl::kNorChFile, &OperationRecord::m_strManualImage, ctl::kNorManualPath, "m_strManualImage", kImageFilter,
     kImageSizeError},
};

const PathRow* FindRow(int button) {
  for (const auto& row : kRows)
    if (row.button == button) return &row;
  return nullptr;
}

}  // namespace

void CDownloaderDlg::OnChooseFile(int buttonId) {
  const PathRow* row = FindRow(buttonId);
  if (!row) return;
  std::string& member = rec_.*(row->member);
  std::optional<std::string> chosen = host_->OpenFile(this, member, row->filter, false);
  if (!chosen) return;
  member = *chosen;
  if (CanReadFile(member))
    SetControlText(row->box, member);
  else
    MessageBox(row->failText);
  // Saved even when the file did not open, so a later INFO or DOWNLOAD
  // reports the missing file again.
  WriteSetting(kSettingsSection, row->key, member);
}

void CDownloaderDlg::StorePath(std::string OperationRecord::*member, int box, const char* key,
                               const std::string& path) {
  rec_.*member = path;
  SetControlText(box, path);
  WriteSetting(kDerivedSection, key, path);
}

void CDownloaderDlg::OnImgset() {
  std::optional<std::string> chosen =
      host_->OpenFile(this, rec_.m_strImageFileName, "Image File(*.img)|*.img|*.*|*.*||", false);
  if (!chosen) return;
  rec_.m_strImageFileName = *chosen;
  if (!CanReadFile(*chosen)) {
    MessageBox(kImageSizeError);
    return;
  }
  SetControlText(ctl::kImgsetPath, *chosen);
  WriteSetting(kSettingsSection, "m_strImageFileName", *chosen);
  ShowFileName(*this, *chosen);

  CompanionPaths c = DeriveCompanionPaths(*chosen);
  StorePath(&OperationRecord::m_strParamDepFileName, ctl::kCalsetPath, "m_strParamDepFileName", c.calset);
  StorePath(&OperationRecord::m_strRscrFileName, ctl::kRsrc1Path, "m_strRscrFileName", c.rsrc1);
  StorePath(&OperationRecord::m_strRscr2FileName, ctl::kRsrc2Path, "m_strRscr2FileName", c.rsrc2);
  StorePath(&OperationRecord::m_strFactoryFSFileName, ctl::kFsPath, "m_strFactoryFSFileName", c.fileSystem);
}

void CDownloaderDlg::OnFileSystem() {
  rec_.m_bFsChosen = 0;
  std::optional<std::string> chosen = host_->OpenFile(this, rec_.m_strFactoryFSFileName,
                                                      "VLF Files (*.vlf)|*.vlf|All Files (*.*)|*.*||", true);
  if (!chosen) return;
  rec_.m_strFactoryFSFileName = *chosen;
  rec_.m_strOgmPath = *chosen;
  if (!CanReadFile(*chosen)) {
    MessageBox("Fail to open OGM file!");
    return;
  }
  SetControlText(ctl::kFsPath, *chosen);
  rec_.m_bFsChosen = 1;
  WriteSetting(kSettingsSection, "m_strOgmPath", *chosen);
}

void CDownloaderDlg::OnEntireFlashFile() {
  std::optional<std::string> chosen =
      host_->OpenFile(this, rec_.m_strEntireFlashFileName, "*.dmp File(*.dmp)|*.dmp|*.*|*.*||", false);
  if (!chosen) return;
  rec_.m_strEntireFlashFileName = *chosen;
  if (!CanReadFile(*chosen)) {
    MessageBox(kFileOpenFailed);
    return;
  }
  if (GetFileLength(*chosen) != kEntireFlashBytes) {
    // Name the size that is actually required (44,470,272 bytes).
    char text[64];
    std::snprintf(text, sizeof text, "File size must be %.2fMB", kEntireFlashBytes / (1024.0 * 1024.0));
    MessageBox(text);
    return;
  }
  SetControlText(ctl::kEntireFlashPath, *chosen);
  WriteSetting(kSettingsSection, "m_strEntireFlashFileName", *chosen);
}

void CDownloaderDlg::OnInfo(int buttonId) {
  struct InfoRow {
    int button;
    std::string OperationRecord::*member;
    const char* caption;
    const char* notSelected;
    const char* openError;
  };
  static const InfoRow rows[] = {
      {ctl::kInfoImgset, &OperationRecord::m_strImageFileName, "Imgset Information", "Imgset file not selected",
       "Imgset File open Error"},
      {ctl::kInfoCalset, &OperationRecord::m_strParamDepFileName, "Calset Information", "Calset file not selected",
       "Calset File open Error"},
      {ctl::kInfoRsrc1, &OperationRecord::m_strRscrFileName, "Rsrc Information", "Rsrc file not selected",
       "Rsrc File open Error"},
      {ctl::kInfoRsrc2, &OperationRecord::m_strRscr2FileName, "Rsrc2 Information", "Rsrc2 file not selected",
       "Rsrc2 File open Error"},
      {ctl::kInfoFs, &OperationRecord::m_strFactoryFSFileName, "FactoryFS Information",
       "FactoryFS file not selected", "FactoryFS File open Error"},
  };
  for (const InfoRow& row : rows) {
    if (row.button != buttonId) continue;
    const std::string& path = rec_.*(row.member);
    if (path.empty()) {
      MessageBox(row.notSelected);
      return;
    }
    std::optional<FileSummary> summary = SummariseFile(path);
    if (!summary) {
      MessageBox(row.openError);
      return;
    }
    char text[96];
    std::snprintf(text, sizeof text, "File size : %llu byte\r\nChecksum : 0x%x",
                  static_cast<unsigned long long>(summary->length),
                  static_cast<unsigned>(summary->sum));
    MessageBox(text, row.caption);
    return;
  }
}

// --- Start addresses ---

void CDownloaderDlg::OnStartAddressChanged(int boxId) {
  auto* box = ControlAs<QLineEdit>(boxId);
  ControlsToRecord();
  std::string text = box->text().toStdString();
  if (!IsHexText(text)) {
    MessageBox("Wrong value", "WARNING");
    box->setText(QStringLiteral("0"));  // runs this handler again with "0"
    rec_.m_nStartAddress = 0;
    ControlsToRecord();
    return;
  }
  rec_.m_nStartAddress = ParseHexText(text);
  uint32_t above = boxId == ctl::kNandStartAddress ? 0x7E60000u : 0x1FFFFFEu;
  uint32_t replacement = boxId == ctl::kNandStartAddress ? 0x7E40000u : 0x1FE0000u;
  if (rec_.m_nStartAddress > above) {
    rec_.m_nStartAddress = replacement;
    box->setText(QString::fromStdString(FormatHexUpper(replacement)));
    ControlsToRecord();
  }
}

}  // namespace vantrel
