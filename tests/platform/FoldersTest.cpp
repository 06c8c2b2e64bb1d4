// The settings, data and payload folders from a given environment, the
// platform's way; and the calendar conversions the station log relies on.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/Folders.h"
#include "platform/Host.h"

namespace vantrel::platform {
namespace {

struct FolderCase {
  std::map<std::string, std::string> env;
  std::string settings, data;
  std::vector<std::string> payloads;
};

TEST(Folders, FollowTheEnvironmentWithItsDefaults) {
#ifdef _WIN32
  const std::vector<FolderCase> cases = {
      {{{"APPDATA", "C:\\Users\\op\\AppData\\Roaming"}, {"LOCALAPPDATA", "D:\\local\\"}},
       "C:\\Users\\op\\AppData\\Roaming\\vantrel-downloader",
       "D:\\local\\vantrel-downloader",
       {"D:\\local\\vantrel-downloader\\payloads"}},
      {{{"USERPROFILE", "C:\\Users\\op"}},
       "C:\\Users\\op\\AppData\\Roaming\\vantrel-downloader",
       "C:\\Users\\op\\AppData\\Local\\vantrel-downloader",
       {"C:\\Users\\op\\AppData\\Local\\vantrel-downloader\\payloads"}},
  };
#else
  const std::string sub = "/vantrel-downloader/payloads";
  const std::vector<FolderCase> cases = {
      {{{"XDG_CONFIG_HOME", "/cfg/"}, {"XDG_DATA_HOME", "/data"}, {"XDG_DATA_DIRS", "/site1:relative:/site2/"}},
       "/cfg/vantrel-downloader",
       "/data/vantrel-downloader",
       {"/data" + sub, "/site1" + sub, "/site2" + sub}},
      // Relative values are no values; the defaults live in the home.
      {{{"XDG_CONFIG_HOME", "rel"}, {"XDG_DATA_HOME", "rel"}, {"HOME", "/home/op"}},
       "/home/op/.config/vantrel-downloader",
       "/home/op/.local/share/vantrel-downloader",
       {"/home/op/.local/share" + sub, "/usr/local/share" + sub, "/usr/share" + sub}},
  };
#endif
  for (const FolderCase& c : cases) {
    const Environment env = [&c](const char* name) {
      auto it = c.env.find(name);
      return it != c.env.end() ? it->second : std::string();
    };
    EXPECT_EQ(SettingsFolder(env), c.settings);
    EXPECT_EQ(DataFolder(env), c.data);
    EXPECT_EQ(PayloadFolders(env), c.payloads);
  }
}

TEST(Host, ReadsCalendarTextAndTurnsUtcFieldsIntoInstants) {
  struct Case {
    const char* text;
    const char* format;
    std::time_t utc;  // -1: the text does not match
  };
  const Case cases[] = {
      {"2024-02-29T23:59:58", "%Y-%m-%dT%H:%M:%S", 1709251198},
      {"2000-01-01 00:00", "%Y-%m-%d %H:%M", 946684800},
      {"2024-03-01", "%Y-%m-%d", 1709251200},
      {"2024-03-01 junk", "%Y-%m-%d", -1},
      {"2024-03", "%Y-%m-%d", -1},
  };
  for (const Case& c : cases) {
    std::tm tm{};
    const bool read = ParseCalendar(c.text, c.format, &tm);
    EXPECT_EQ(read, c.utc != -1) << c.text;
    if (!read) continue;
    EXPECT_EQ(FromUtc(tm), c.utc) << c.text;
    const std::tm back = UtcTime(c.utc);
    EXPECT_EQ(back.tm_year, tm.tm_year);
    EXPECT_EQ(back.tm_yday, UtcTime(FromUtc(tm)).tm_yday);
    EXPECT_EQ(back.tm_hour * 60 + back.tm_min, tm.tm_hour * 60 + tm.tm_min) << c.text;
  }
}

}  // namespace
}  // namespace vantrel::platform
