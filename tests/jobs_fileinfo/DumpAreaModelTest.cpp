#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "maintenance/DumpAreaModel.h"

using namespace vantrel;

namespace {

struct Warnings {
  std::vector<std::string> seen;
  DumpAreaModel::WarnFn Fn() {
    return [this](const std::string& text, const std::string& caption) { seen.push_back(caption + ": " + text); };
  }
};

}  // namespace

TEST(DumpAreaModel, StartsWithAnEmptyRangeAndNoArea) {
  for (const DumpDialogDef* def : {&NorDumpDialogDef(), &NandDumpDialogDef()}) {
    DumpAreaModel m(*def, nullptr);
    EXPECT_EQ(m.SelectedArea(), -1);
    DumpArea a = m.Accept();
    EXPECT_EQ(a.from, 0u);
    EXPECT_EQ(a.to, 0u);
    EXPECT_EQ(a.erase, 0);
  }
}

TEST(DumpAreaModel, EveryPresetEndsAtItsOwnPairWhateverWasShownBefore) {
  for (const DumpDialogDef* def : {&NorDumpDialogDef(), &NandDumpDialogDef()}) {
    for (size_t i = 0; i < def->areas.size(); ++i) {
      Warnings w;
      DumpAreaModel m(*def, w.Fn());
      m.EditTo("FFFFFF");  // an old TO text that the FROM write reads first
      m.SelectArea(i);
      const DumpAreaPreset& p = def->areas[i];
      EXPECT_EQ(m.FromText(), p.fromText) << p.caption;
      EXPECT_EQ(m.ToText(), p.toText) << p.caption;
      DumpArea a = m.Accept();
      EXPECT_EQ(a.from, p.from) << p.caption;
      EXPECT_EQ(a.to, p.to) << p.caption;
      EXPECT_TRUE(w.seen.empty());
    }
  }
}

TEST(DumpAreaModel, CodeBinaryShowsItsTextsAndHandsBackTheRange) {
  DumpAreaModel m(NorDumpDialogDef(), nullptr);
  m.SelectArea(0);
  EXPECT_EQ(m.FromText(), "20000");
  EXPECT_EQ(m.ToText(), "1EAFFFF");
  DumpArea a = m.Accept();
  EXPECT_EQ(a.from, 0x20000u);
  EXPECT_EQ(a.to, 0x1EAFFFFu);
}

TEST(DumpAreaModel, FromAboveToPushesToOneAbove) {
  DumpAreaModel m(NorDumpDialogDef(), nullptr);
  m.EditTo("0");
  m.EditFrom("1F00000");
  EXPECT_EQ(m.ToText(), "1F00001");
  EXPECT_EQ(m.To(), 0x1F00001u);
  // Typed one key at a time the pair ends the same.
  DumpAreaModel k(NandDumpDialogDef(), nullptr);
  k.EditTo("0");
  std::string typed;
  for (char c : std::string("1F00000")) k.EditFrom(typed += c);
  EXPECT_EQ(k.ToText(), "1F00001");
  // Equal values change nothing, and TO below FROM is left alone.
  DumpAreaModel e(NorDumpDialogDef(), nullptr);
  e.EditTo("100");
  e.EditFrom("100");
  EXPECT_EQ(e.ToText(), "100");
  e.EditTo("10");
  EXPECT_EQ(e.FromText(), "100");
  EXPECT_EQ(e.To(), 0x10u);
  EXPECT_EQ(e.From(), 0x100u);
}

TEST(DumpAreaModel, BoxesAreHeldAtTheirLimits) {
  DumpAreaModel nand(NandDumpDialogDef(), nullptr);
  nand.EditFrom("8000000");
  EXPECT_EQ(nand.FromText(), "7FFFFFE");
  EXPECT_EQ(nand.From(), 0x7FFFFFEu);
  EXPECT_EQ(nand.ToText(), "7FFFFFF");  // pushed up to FROM + 1
  nand.EditTo("8000000");
  EXPECT_EQ(nand.ToText(), "7FFFFFF");
  EXPECT_EQ(nand.To(), 0x7FFFFFFu);

  DumpAreaModel nor(NorDumpDialogDef(), nullptr);
  nor.EditFrom("2000000");
  EXPECT_EQ(nor.FromText(), "1FFFFFE");
  EXPECT_EQ(nor.From(), 0x1FFFFFEu);
  nor.EditTo("20000000");
  EXPECT_EQ(nor.ToText(), "1FFFFFFF");
  EXPECT_EQ(nor.To(), 0x1FFFFFFFu);
  nor.EditTo("1FFFFFFF");  // at the limit: kept
  EXPECT_EQ(nor.ToText(), "1FFFFFFF");
}

TEST(DumpAreaModel, ANonHexCharacterWarnsAndResetsThatBox) {
  for (const DumpDialogDef* def : {&NorDumpDialogDef(), &NandDumpDialogDef()}) {
    Warnings w;
    DumpAreaModel m(*def, w.Fn());
    m.SelectArea(1);
    m.EditFrom("1g");
    EXPECT_EQ(m.FromText(), "0");
    EXPECT_EQ(m.From(), 0u);
    m.EditTo("g");
    EXPECT_EQ(m.ToText(), "0");
    EXPECT_EQ(m.To(), 0u);
    ASSERT_EQ(w.seen.size(), 2u);
    EXPECT_EQ(w.seen[0], "WARNING: Wrong value");
  }
}

TEST(DumpAreaModel, NandEraseBoxBecomesTheEraseFlagOnlyWhenTicked) {
  DumpAreaModel before(NandDumpDialogDef(), nullptr);
  before.SetEraseChecked(true);
  before.SelectArea(1);
  EXPECT_TRUE(before.EraseChecked());  // the area keeps the tick
  EXPECT_EQ(before.Accept().erase, 1);

  DumpAreaModel after(NandDumpDialogDef(), nullptr);
  after.SelectArea(0);
  after.SetEraseChecked(true);
  EXPECT_EQ(after.Accept().erase, 1);

  DumpAreaModel unticked(NandDumpDialogDef(), nullptr);
  unticked.SelectArea(0);
  EXPECT_EQ(unticked.Accept().erase, 0);

  DumpAreaModel nor(NorDumpDialogDef(), nullptr);  // its box is shown disabled
  nor.SetEraseChecked(true);
  nor.SelectArea(0);
  EXPECT_EQ(nor.Accept().erase, 0);
}
