// The dump-area dialogs as the operator sees them.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "console/DumpDialogs.h"
#include "console/ModalHost.h"

using namespace vantrel;

TEST(DumpDialogs, NorDialogShowsItsAreasAndHandsBackTheChosenRange) {
  ScriptedModalHost host;
  NorDumpDialog d(host);
  d.show();
  EXPECT_EQ(d.windowTitle(), "NOR Flash DUMP");
  EXPECT_EQ(d.OkButton()->text(), "START");
  EXPECT_EQ(d.EraseBox()->text(), "Erase && Initialization");
  EXPECT_FALSE(d.EraseBox()->isEnabled());
  EXPECT_TRUE(d.AreaButton(6)->isVisible());   // Bootloader
  EXPECT_FALSE(d.AreaButton(7)->isVisible());  // Rsrc2, laid out hidden
  EXPECT_FALSE(d.AreaButton(8)->isVisible());
  for (int i = 0; i < 9; ++i) EXPECT_FALSE(d.AreaButton(i)->isChecked());
  d.AreaButton(0)->click();
  EXPECT_EQ(d.FromBox()->text(), "20000");
  EXPECT_EQ(d.ToBox()->text(), "1EAFFFF");
  d.OkButton()->click();
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_EQ(d.Result().from, 0x20000u);
  EXPECT_EQ(d.Result().to, 0x1EAFFFFu);
  EXPECT_EQ(d.Result().erase, 0);
}

TEST(DumpDialogs, TypedValuesAreCheckedAsTheyAreTyped) {
  ScriptedModalHost host;
  NorDumpDialog d(host);
  d.ToBox()->setFocus();
  QTest::keyClicks(d.ToBox(), "0");
  QTest::keyClicks(d.FromBox(), "1F00000");
  EXPECT_EQ(d.ToBox()->text(), "1F00001");
  d.FromBox()->clear();
  QTest::keyClicks(d.FromBox(), "2000000");
  EXPECT_EQ(d.FromBox()->text(), "1FFFFFE");
  QTest::keyClicks(d.ToBox(), "g");
  EXPECT_EQ(d.ToBox()->text(), "0");
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{"Wrong value"});
  EXPECT_EQ(host.Questions()[0].caption, "WARNING");
  d.CancelButton()->click();
  EXPECT_EQ(d.result(), QDialog::Rejected);
}

TEST(DumpDialogs, NandDialogCarriesTheEraseTick) {
  ScriptedModalHost host;
  NandDumpDialog d(host);
  EXPECT_EQ(d.windowTitle(), "NAND Flash DUMP");
  EXPECT_EQ(d.OkButton()->text(), "OK");
  EXPECT_TRUE(d.EraseBox()->isEnabled());
  EXPECT_FALSE(d.EraseBox()->isChecked());
  d.EraseBox()->click();
  d.AreaButton(1)->click();  // VLF Full
  EXPECT_TRUE(d.EraseBox()->isChecked());
  EXPECT_EQ(d.FromBox()->text(), "E20000");
  EXPECT_EQ(d.ToBox()->text(), "1EFFFFF");
  QTest::keyClicks(d.FromBox(), "0");  // E200000 lies above the NAND limit
  EXPECT_EQ(d.FromBox()->text(), "7FFFFFE");
  EXPECT_EQ(d.ToBox()->text(), "7FFFFFF");
  d.OkButton()->click();
  EXPECT_EQ(d.Result().from, 0x7FFFFFEu);
  EXPECT_EQ(d.Result().to, 0x7FFFFFFu);
  EXPECT_EQ(d.Result().erase, 1);

  NandDumpDialog untouched(host);
  untouched.OkButton()->click();
  EXPECT_EQ(untouched.Result().from, 0u);
  EXPECT_EQ(untouched.Result().to, 0u);
  EXPECT_EQ(untouched.Result().erase, 0);
}
