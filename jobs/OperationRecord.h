#pragma once
// The operation settings record: what the operator chose and what the jobs
// read and write. The main window holds one and keeps it in step with its
// controls; the command line fills one from its arguments.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "link/ComLink.h"

namespace vantrel {

struct OperationRecord {
  // Choices.
  int m_nComPort = 0;        // 0 for "COM1"; -1 none
  int m_nBaudRate = 0;       // baud list selection: 0 "115K", 1 "460K", 2 "921K"; anything else has no code
  // The comm type radios' choice and the mode the handset link speaks. START
  // sets the mode from the choice; they part when a Boot2 download, which
  // always goes over the UART, leaves the mode on UART for good while the
  // radios (and the Bootloader button's USB refusal) keep the choice.
  int m_nCommType = -1;  // 0 "by UART", 1 "by USB", -1 none
  LinkMode m_nLinkMode = LinkMode::Unset;
  int m_nDownloadItem = -1;  // item radio 0..10, -1 none
  int m_nDownloadNum = 0;

  // Image paths with the byte sizes the console measured before the job started.
  std::string m_strImageFileName;      uint32_t m_nImageFileSize = 0;
  std::string m_strParamDepFileName;   uint32_t m_nParamDepFileSize = 0;
  std::string m_strManualImage;        uint32_t m_nManualImageSize = 0;
  std::string m_strRscrFileName;       uint32_t m_nRscrFileSize = 0;
  std::string m_strRscr2FileName;      uint32_t m_nRscr2FileSize = 0;
  std::string m_strFactoryFSFileName;  uint32_t m_nFactoryFSFileSize = 0;
  std::string m_strEntireFlashFileName; uint32_t m_nEntireFlashFileSize = 0;
  std::string m_strManualNandImage;    uint32_t m_nManualNandImageSize = 0;
  std::string m_strOgmPath;            uint32_t m_nOgmSize = 0;
  int m_bFsChosen = 0;
  uint32_t m_nStartAddress = 0;

  // Check boxes (0 or 1).
  int m_bHwEcc = 0;
  int m_bAutoAllDownload = 0;    // 1020, hidden
  int m_bReboot = 0;             // 1120, hidden
  int m_bCalsetDefault = 0;      // 1127 "Calset Data (Default value)", hidden
  int m_bIncludeBootloader = 0;  // 1135, hidden
  int m_bImage = 0;              // 1019
  int m_bResource1157 = 0;
  int m_bBoot2 = 0;              // 1160
  int m_bCalset = 0;             // 1163 "Calset" (NAND calset flag), visible
  int m_bErRo = 0;               // 1161
  int m_bParam = 0;              // 1162
  int m_bResource1164 = 0;

  // Progress and status; read by the window's timer while a job runs.
  std::atomic<int> m_nProgress{0};
  double m_dTotalElapsed = 0.0;
  std::atomic<int> m_bConnected{0};
  std::string m_strToday;  // eight digits, refreshed by the title timer
  int m_nConnectResult = 0;

  // Job working fields.
  uint32_t m_nDumpAddress = 0;
  std::FILE* m_dumpFile = nullptr;
  ComLink m_linkRecord;  // boot-ROM steps: port name and baud code
  LinkPtr m_pLink;       // the running job's persistent link
};

}  // namespace vantrel
