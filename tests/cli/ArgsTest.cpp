// Argument handling of vantrel-cli: operations in order with their own
// arguments, global options anywhere, and refusals that name the problem.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "cli/Args.h"

namespace vantrel::cli {
namespace {

ParseResult Parse(std::initializer_list<const char*> words) {
  std::vector<std::string> args(words.begin(), words.end());
  return ParseArguments(args);
}

TEST(CliArgs, OperationsKeepTheirOrderAndArguments) {
  auto r = Parse({"--port", "COM7", "connect", "-b", "921K", "download", "imgset", "demo.img", "nand-dump", "0x4A0000",
                  "52ffff", "back.dmp", "--verify", "erase", "boot", "info", "demo.img"});
  ASSERT_TRUE(r.ok) << r.error;
  const Options& o = r.options;
  EXPECT_EQ(o.port, "COM7");
  EXPECT_EQ(o.baudIndex, 2);
  EXPECT_TRUE(o.verify);
  ASSERT_EQ(o.ops.size(), 5u);
  EXPECT_EQ(o.ops[0].kind, OpKind::Connect);
  EXPECT_EQ(o.ops[1].kind, OpKind::Download);
  EXPECT_EQ(o.ops[1].item, kItemImgset);
  EXPECT_EQ(o.ops[1].file, "demo.img");
  EXPECT_EQ(o.ops[1].text, "download imgset demo.img");
  EXPECT_EQ(o.ops[2].kind, OpKind::NandDump);
  EXPECT_EQ(o.ops[2].from, 0x4A0000u);
  EXPECT_EQ(o.ops[2].to, 0x52FFFFu);
  EXPECT_EQ(o.ops[2].file, "back.dmp");
  EXPECT_EQ(o.ops[3].kind, OpKind::EraseBoot);
  EXPECT_EQ(o.ops[4].kind, OpKind::Info);
}

TEST(CliArgs, OptionalFileIsNotTakenFromTheNextOperation) {
  auto r = Parse({"-p", "/dev/ttyUSB0", "nand-dump", "0", "ABFFFF", "nor-dump", "20000", "1EAFFFF", "disconnect"});
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.options.ops.size(), 3u);
  EXPECT_EQ(r.options.ops[0].file, "");  // the proposed name is used
  EXPECT_EQ(r.options.ops[1].kind, OpKind::NorDump);
  EXPECT_EQ(r.options.ops[1].file, "");
  EXPECT_EQ(r.options.ops[2].kind, OpKind::Disconnect);
}

TEST(CliArgs, DumpAreasByTheDialogsNames) {
  auto r = Parse({"-p", "COM1", "nand-dump", "rsrc1", "r.dmp", "nor-dump", "code-binary", "nand-erase", "vlf-full",
                  "nor-dump", "sysparm-ind", "s.dmp"});
  ASSERT_TRUE(r.ok) << r.error;
  const auto& ops = r.options.ops;
  ASSERT_EQ(ops.size(), 4u);
  EXPECT_EQ(ops[0].from, 0u);
  EXPECT_EQ(ops[0].to, 0xABFFFFu);
  EXPECT_EQ(ops[0].file, "r.dmp");
  EXPECT_EQ(ops[1].from, 0x20000u);
  EXPECT_EQ(ops[1].to, 0x1EAFFFFu);
  EXPECT_EQ(ops[1].file, "");
  EXPECT_EQ(ops[2].kind, OpKind::NandErase);
  EXPECT_EQ(ops[2].from, 0xE20000u);
  EXPECT_EQ(ops[2].to, 0x1EFFFFFu);
  EXPECT_EQ(ops[3].from, 0x1F20000u);
  // A NAND area is not a NOR area.
  EXPECT_FALSE(Parse({"-p", "COM1", "nor-dump", "vlf-full"}).ok);
  EXPECT_NE(UsageText().find("engineer-area"), std::string::npos);
  EXPECT_NE(UsageText().find("wcdma-cal-data"), std::string::npos);
}

TEST(CliArgs, DownloadItemsAndTheirFiles) {
  auto r = Parse({"-p", "COM1", "--imgset", "a.img", "--fs", "a.vlf", "download", "imgset", "download", "fs",
                  "download", "nand", "m.img", "0x20000", "download", "nor", "n.img", "1fe0000", "download",
                  "entire", "e.dmp", "download", "calset", "c.img"});
  ASSERT_TRUE(r.ok) << r.error;
  const auto& ops = r.options.ops;
  ASSERT_EQ(ops.size(), 6u);
  EXPECT_EQ(ops[0].file, "a.img");  // from --imgset
  EXPECT_EQ(ops[1].item, kItemFs);
  EXPECT_EQ(ops[1].file, "a.vlf");
  EXPECT_EQ(ops[2].item, kItemNandManual);
  EXPECT_EQ(ops[2].address, 0x20000u);
  EXPECT_EQ(ops[3].item, kItemNorManual);
  EXPECT_EQ(ops[3].address, 0x1FE0000u);
  EXPECT_EQ(ops[4].item, kItemEntire);
  EXPECT_EQ(ops[5].item, kItemCalset);
  EXPECT_EQ(ops[5].file, "c.img");
}

TEST(CliArgs, RefusalsNameTheProblem) {
  struct Case {
    std::vector<std::string> args;
    const char* expect;
  } cases[] = {
      {{"connect"}, "--port"},
      {{"-p", "COM1"}, "no operation"},
      {{"-p", "COM1", "flash"}, "unknown operation 'flash'"},
      {{"-p", "COM1", "download"}, "needs an item"},
      {{"-p", "COM1", "download", "everything"}, "unknown download item"},
      {{"-p", "COM1", "download", "imgset"}, "needs a FILE"},
      {{"-p", "COM1", "download", "nand", "m.img"}, "start ADDRESS"},
      {{"-p", "COM1", "download", "nand", "m.img", "12G"}, "'12G' is not a hexadecimal address"},
      {{"-p", "COM1", "nand-dump", "0"}, "FROM and TO"},
      {{"-p", "COM1", "nand-dump", "0", "1FFFFFFFF"}, "not a hexadecimal address"},
      {{"-p", "COM1", "erase"}, "'all'"},
      {{"-p", "COM1", "erase", "everything"}, "'all'"},
      {{"-p", "COM1", "--rate", "1M", "connect"}, "unknown rate '1M'"},
      {{"-p", "COM1", "--frobnicate", "connect"}, "unknown option --frobnicate"},
      {{"connect", "--port"}, "needs a value"},
      {{"--yes=1", "-p", "COM1", "connect"}, "takes no value"},
      {{"-p", "COM1", "--color=sometimes", "connect"}, "--color"},
      {{"-p", "COM1", "--poll-scale", "0", "connect"}, "above 0"},
      {{"-p", "COM1", "--imgset", "a.img", "download", "all"}, "needs --rsrc1, --rsrc2 and --fs"},
      {{"-p", "COM1", "--rsrc1", "r", "--rsrc2", "r2", "--fs", "f", "--imgset", "i", "--with-calset", "download",
        "all"},
       "needs --calset"},
      {{"-p", "COM1", "download", "rsrc1-fs"}, "needs --rsrc1 and --fs"},
      {{"-p", "COM1", "auto-all"}, "needs --imgset"},
  };
  for (const Case& c : cases) {
    auto r = ParseArguments(c.args);
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    EXPECT_FALSE(r.ok) << joined;
    EXPECT_NE(r.error.find(c.expect), std::string::npos) << joined << "-> " << r.error;
  }
}

TEST(CliArgs, InfoNeedsNoPortAndOptionsTakeBothForms) {
  auto r = Parse({"info", "a.img", "--json", "--color=never"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.options.json);
  EXPECT_EQ(r.options.color, ColorMode::Never);
  r = Parse({"--port=COM3", "--rate=460800", "--usb", "--pause-scale=0", "--poll-scale", "0.05", "connect"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.port, "COM3");
  EXPECT_EQ(r.options.baudIndex, 1);
  EXPECT_EQ(r.options.commType, 1);
  EXPECT_EQ(r.options.pauseScale, 0.0);
  EXPECT_DOUBLE_EQ(r.options.pollScale, 0.05);
}

TEST(CliArgs, DoubleDashLetsAFileStartWithADash) {
  auto r = Parse({"-p", "COM1", "--", "download", "imgset", "-odd.img"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.ops[0].file, "-odd.img");
}

TEST(CliArgs, HelpAndVersionNeedNothingElse) {
  EXPECT_TRUE(Parse({"--help"}).ok);
  EXPECT_TRUE(Parse({"-V"}).ok);
  EXPECT_TRUE(Parse({"bogus", "--help"}).options.help);
}

TEST(CliArgs, HexAddresses) {
  EXPECT_EQ(ParseHexAddress("4a0000"), 0x4A0000u);
  EXPECT_EQ(ParseHexAddress("0X1EAFFFF"), 0x1EAFFFFu);
  EXPECT_EQ(ParseHexAddress("FFFFFFFF"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseHexAddress("0"), 0u);
  EXPECT_FALSE(ParseHexAddress(""));
  EXPECT_FALSE(ParseHexAddress("0x"));
  EXPECT_FALSE(ParseHexAddress("100000000"));  // would wrap to 0
  EXPECT_FALSE(ParseHexAddress("12G"));
  EXPECT_FALSE(ParseHexAddress("-1"));
}

TEST(CliArgs, RatesByNameOrBits) {
  EXPECT_EQ(ParseRate("115k"), 0);
  EXPECT_EQ(ParseRate("460K"), 1);
  EXPECT_EQ(ParseRate("921600"), 2);
  EXPECT_FALSE(ParseRate("812000"));  // not an operator's choice
  EXPECT_STREQ(RateName(2), "921K");
}

// Every operation and option the parser accepts is documented in --help and
// in the man page, with an example.
TEST(CliArgs, HelpAndManPageListEveryOperationAndOption) {
  const char* words[] = {"connect", "auto-all", "download imgset", "download calset", "download rsrc1",
                         "download rsrc2", "download fs", "download entire", "download nand", "download nor",
                         "download all", "download rsrc1-fs", "bootloader", "erase all", "erase boot",
                         "nand-dump", "nand-erase", "nor-dump", "nor-format", "vlf-format", "pzl-format",
                         "raw-readback", "info", "disconnect"};
  const char* options[] = {"--port", "--rate", "--uart", "--usb", "--imgset", "--calset", "--rsrc1", "--rsrc2",
                           "--fs", "--with-calset", "--calset-default", "--include-bootloader", "--reboot", "--yes",
                           "--verify", "--json", "--color", "--no-color", "--no-progress", "--trace",
                           "--pause-scale", "--poll-scale", "--help", "--version",
                           "--list-ports"};
  std::ifstream f(VANTREL_CLI_MANPAGE);
  ASSERT_TRUE(f) << VANTREL_CLI_MANPAGE;
  std::stringstream ss;
  ss << f.rdbuf();
  // Roff escapes the dashes of option names.
  std::string man;
  for (size_t i = 0; i < ss.str().size(); ++i) {
    if (ss.str().compare(i, 2, "\\-") == 0) {
      man += '-';
      ++i;
    } else {
      man += ss.str()[i];
    }
  }
  std::string help = UsageText();
  for (const char* w : words) {
    EXPECT_NE(help.find(w), std::string::npos) << "help lacks " << w;
    EXPECT_NE(man.find(w), std::string::npos) << "man page lacks " << w;
  }
  for (const char* o : options) {
    EXPECT_NE(help.find(o), std::string::npos) << "help lacks " << o;
    EXPECT_NE(man.find(o), std::string::npos) << "man page lacks " << o;
    // And the parser knows it.
    std::vector<std::string> args = {o};
    if (std::string(o) == "--color") args = {"--color=auto"};
    auto r = ParseArguments(args);
    EXPECT_EQ(r.error.find("unknown option"), std::string::npos) << o;
  }
  EXPECT_NE(help.find("Examples:"), std::string::npos);
  EXPECT_NE(man.find("EXAMPLES"), std::string::npos);
  EXPECT_NE(man.find("EXIT STATUS"), std::string::npos);
}

}  // namespace
}  // namespace vantrel::cli
