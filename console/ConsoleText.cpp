#include "console/ConsoleText.h"

#include <cctype>
#include <cstdio>
#include <ctime>
#include <vector>

#include "jobs/Console.h"
#include "platform/Host.h"

namespace vantrel::console {

std::optional<std::string> TitleText(int progress, int connected, LinkMode linkMode, int comPort) {
  char buf[160];
  if (progress != 0) {
    if (progress > 100) progress = 100;
    std::snprintf(buf, sizeof buf, " %d%% Done...   %s", progress, kWindowTitleSuffix);
  } else if (connected == 1 && linkMode == LinkMode::Uart) {
    std::snprintf(buf, sizeof buf, " COM%d (UART)   %s", comPort + 1, kWindowTitleSuffix);
  } else if (connected == 1 && linkMode == LinkMode::Usb) {
    std::snprintf(buf, sizeof buf, " COM%d (USB)   %s", comPort + 1, kWindowTitleSuffix);
  } else if (connected == 0) {
    std::snprintf(buf, sizeof buf, " Disconnected             %s", kWindowTitleSuffix);
  } else {
    return std::nullopt;
  }
  return std::string(buf);
}

std::string TodayText() {
  const std::tm local = platform::LocalTime(std::time(nullptr));
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  return buf;
}

namespace {

std::vector<std::string> SplitBars(const std::string& s) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : s) {
    if (c == '|') {
      parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

std::string QtPatterns(const std::string& windowsPatterns) {
  std::string out;
  size_t start = 0;
  while (start <= windowsPatterns.size()) {
    size_t semi = windowsPatterns.find(';', start);
    std::string p = windowsPatterns.substr(start, semi == std::string::npos ? std::string::npos : semi - start);
    start = semi == std::string::npos ? windowsPatterns.size() + 1 : semi + 1;
    if (p.empty()) continue;
    if (!out.empty()) out += ' ';
    if (p == "*.*" || p == "*") {
      out += '*';
      continue;
    }
    // File names on Linux keep their case: "Phone.Img" must match "*.img"
    // as it does where the layout came from. Each letter becomes a class.
    for (char c : p) {
      const char up = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      const char low = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (up != low) {
        out += '[';
        out += low;
        out += up;
        out += ']';
      } else {
        out += c;
      }
    }
  }
  return out;
}

}  // namespace

std::string QtFilterText(const std::string& pairs) {
  std::vector<std::string> parts = SplitBars(pairs);
  std::string out;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::string desc = parts[i];
    // The description often names its pattern already, "Image File(*.img)";
    // the toolkit reads the patterns from that last bracket, so it is
    // rewritten rather than doubled.
    if (!desc.empty() && desc.back() == ')') {
      size_t open = desc.rfind('(');
      if (open != std::string::npos) desc.erase(open);
    }
    while (!desc.empty() && desc.back() == ' ') desc.pop_back();
    if (desc.empty()) desc = parts[i + 1];
    if (!out.empty()) out += ";;";
    out += desc + " (" + QtPatterns(parts[i + 1]) + ")";
  }
  return out;
}

std::string DisplayText(const std::string& text) { return ShownLineBreaks(text); }

}  // namespace vantrel::console
