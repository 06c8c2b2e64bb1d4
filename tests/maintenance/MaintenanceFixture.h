#pragma once
// The operator's view of the maintenance operations: the real button
// handlers and jobs, a recording console that answers the dialogs from a
// script, and the handset simulator on COM7, with the timing sped up.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "jobs/JobState.h"
#include "jobs/OperationRecord.h"
#include "maintenance/OperationControl.h"
#include "tests/support/RecordingConsole.h"
#include "tests/support/SimFixture.h"

namespace vantrel::test {

class MaintenanceTest : public sim::SimTest {
 protected:
  void SetUp() override {
    sim::SimTest::SetUp();
    rec.m_nComPort = 6;  // COM7
    rec.m_nBaudRate = 0;
    rec.m_nCommType = 0;
    rec.m_nLinkMode = LinkMode::Uart;
    op = std::make_unique<OperationControl>(rec, con, nullptr);
    dumps = Config().Root() + "/dumps";
    std::filesystem::create_directories(dumps);
  }
  void TearDown() override {
    op.reset();
    sim::SimTest::TearDown();
  }

  JobState& Job() { return op->Context().job; }

  // START over the chosen link: the NAND flash loader runs afterwards.
  void Connect() {
    op->OnStart();
    op->WaitForJob();
    ASSERT_EQ(Job().loaderState.load(), 2) << con.Dump();
  }

  // Fills a flash range with bytes that differ from their neighbours.
  std::vector<uint8_t> Seed(sim::FlashPart part, uint32_t address, uint32_t length, uint32_t seed = 1) {
    std::vector<uint8_t> bytes(length);
    std::mt19937 gen(seed);
    for (auto& b : bytes) b = static_cast<uint8_t>(gen());
    Sim().WriteFlash(part, address, bytes);
    return bytes;
  }

  static std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // Runs one NAND Dump press with the dialog answered by `area` and the save
  // dialog by `path`.
  void NandDump(std::optional<DumpArea> area, std::optional<std::string> path) {
    con.QueueNandDumpArea(area);
    if (path) con.QueueSaveFile(path);
    op->OnNandDump();
    op->WaitForJob();
  }
  void NorDump(std::optional<DumpArea> area, std::optional<std::string> path) {
    con.QueueNorDumpArea(area);
    if (path) con.QueueSaveFile(path);
    op->OnNorDump();
    op->WaitForJob();
  }

  std::vector<std::string> MessagesSince(size_t mark) const {
    std::vector<std::string> out;
    for (const auto& c : con.CallsSince(mark))
      if (c.type == CallType::MessageBox) out.push_back(c.text + " | " + c.ShownCaption());
    return out;
  }
  std::vector<std::string> SaveProposalsSince(size_t mark) const {
    std::vector<std::string> out;
    for (const auto& c : con.CallsSince(mark))
      if (c.type == CallType::SaveDialog) out.push_back(c.text);
    return out;
  }
  int TranscriptCount(const std::string& text) const {
    int n = 0;
    for (const auto& line : const_cast<MaintenanceTest*>(this)->Sim().Transcript())
      if (line.find(text) != std::string::npos) ++n;
    return n;
  }

  RecordingConsole con;
  OperationRecord rec;
  std::unique_ptr<OperationControl> op;
  std::string dumps;
};

}  // namespace vantrel::test
