#include "sim/Faults.h"

#include <cstdio>
#include <cstdlib>

namespace vantrel::sim {
namespace {

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : text) {
    if (c == sep) {
      parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  parts.push_back(cur);
  return parts;
}

bool Number(const std::string& text, uint64_t max, uint64_t* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (end == nullptr || *end != '\0' || v > max) return false;
  *out = v;
  return true;
}

struct KindName {
  Fault::Kind kind;
  const char* name;
};
constexpr KindName kKinds[] = {
    {Fault::Kind::Silence, "silence"},        {Fault::Kind::SilenceAfter, "silence-after"},
    {Fault::Kind::BadEcho, "bad-echo"},       {Fault::Kind::Resend, "resend"},
    {Fault::Kind::Failed, "failed"},          {Fault::Kind::Stray, "stray"},
    {Fault::Kind::RefuseAddress, "refuse"},   {Fault::Kind::TooLarge, "too-large"},
    {Fault::Kind::HangUp, "hangup"},          {Fault::Kind::FlipBit, "flip"},
    {Fault::Kind::HangUpUpload, "hangup-upload"},
};

const char* KindText(Fault::Kind kind) {
  for (const auto& k : kKinds) {
    if (k.kind == kind) return k.name;
  }
  return "?";
}

}  // namespace

bool Fault::Parse(const std::string& text, Fault* out, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = "fault \"" + text + "\": " + why;
    return false;
  };
  const std::vector<std::string> p = Split(text, ':');
  Fault f;
  bool known = false;
  for (const auto& k : kKinds) {
    if (p[0] == k.name) {
      f.kind = k.kind;
      known = true;
    }
  }
  if (!known) {
    return fail(
        "unknown kind (silence, silence-after, stray, bad-echo, resend, failed, refuse, too-large, hangup, "
        "hangup-upload, flip)");
  }
  uint64_t v = 0;
  auto occurrence = [&](size_t index) {
    if (p.size() <= index) return true;
    if (p.size() > index + 1) return false;
    if (!Number(p[index], 0xFFFFFFFF, &v) || v == 0) return false;
    f.occurrence = static_cast<uint32_t>(v);
    return true;
  };
  switch (f.kind) {
    case Kind::Silence:
    case Kind::SilenceAfter:
      if (p.size() < 2 || p[1].empty()) return fail("needs an event name, e.g. silence:speed-req");
      f.event = p[1];
      if (!occurrence(2)) return fail("bad occurrence number");
      break;
    case Kind::Stray: {
      if (p.size() < 3 || p[1].empty()) return fail("needs an event and bytes, e.g. stray:flash-type:00,00");
      f.event = p[1];
      for (const std::string& b : Split(p[2], ',')) {
        if (!Number(b.rfind("0x", 0) == 0 ? b : "0x" + b, 0xFF, &v)) return fail("bad byte \"" + b + "\"");
        f.bytes.push_back(static_cast<uint8_t>(v));
      }
      if (!occurrence(3)) return fail("bad occurrence number");
      break;
    }
    case Kind::BadEcho:
    case Kind::Resend:
    case Kind::Failed:
    case Kind::RefuseAddress:
    case Kind::TooLarge:
    case Kind::HangUp:
    case Kind::HangUpUpload:
      if (!occurrence(1)) return fail("bad occurrence number");
      break;
    case Kind::FlipBit:
      if (p.size() != 4) return fail("form is flip:nand|nor:ADDRESS:BIT");
      if (p[1] == "nand") {
        f.part = FlashPart::Nand;
      } else if (p[1] == "nor") {
        f.part = FlashPart::Nor;
      } else {
        return fail("part must be nand or nor");
      }
      if (!Number(p[2], 0xFFFFFFFF, &v)) return fail("bad address");
      f.address = static_cast<uint32_t>(v);
      if (!Number(p[3], 7, &v)) return fail("bit must be 0 to 7");
      f.bit = static_cast<uint8_t>(v);
      break;
  }
  *out = f;
  return true;
}

std::string Fault::ToString() const {
  std::string s = KindText(kind);
  char buf[64];
  switch (kind) {
    case Kind::Silence:
    case Kind::SilenceAfter:
      return s + ":" + event + ":" + std::to_string(occurrence);
    case Kind::Stray: {
      s += ":" + event + ":";
      for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%s%02X", i ? "," : "", bytes[i]);
        s += buf;
      }
      return s + ":" + std::to_string(occurrence);
    }
    case Kind::FlipBit:
      std::snprintf(buf, sizeof buf, ":%s:0x%X:%u", part == FlashPart::Nand ? "nand" : "nor", address, bit);
      return s + buf;
    default:
      return s + ":" + std::to_string(occurrence);
  }
}

void FaultBook::Add(const Fault& fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.push_back(Entry{fault});
}

void FaultBook::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
}

FaultBook::SendPlan FaultBook::PlanSend(const std::string& event) {
  SendPlan plan;
  std::lock_guard<std::mutex> lock(mutex_);
  for (Entry& e : entries_) {
    const Fault& f = e.fault;
    if (e.done) continue;
    if (f.kind != Fault::Kind::Silence && f.kind != Fault::Kind::SilenceAfter && f.kind != Fault::Kind::Stray) continue;
    if (f.event != event && f.event != "any") continue;
    if (++e.seen != f.occurrence) continue;
    e.done = true;
    plan.fired.push_back(f.ToString());
    if (f.kind == Fault::Kind::Silence) {
      plan.suppress = true;
      plan.muteAfter = true;
    } else if (f.kind == Fault::Kind::SilenceAfter) {
      plan.muteAfter = true;
    } else {
      plan.strayBefore.insert(plan.strayBefore.end(), f.bytes.begin(), f.bytes.end());
    }
  }
  return plan;
}

FaultBook::BlockAction FaultBook::Block(std::string* fired) {
  BlockAction action = BlockAction::None;
  std::lock_guard<std::mutex> lock(mutex_);
  for (Entry& e : entries_) {
    const Fault& f = e.fault;
    if (e.done) continue;
    BlockAction a = BlockAction::None;
    switch (f.kind) {
      case Fault::Kind::BadEcho: a = BlockAction::BadEcho; break;
      case Fault::Kind::Resend: a = BlockAction::Resend; break;
      case Fault::Kind::Failed: a = BlockAction::Failed; break;
      case Fault::Kind::HangUp: a = BlockAction::HangUp; break;
      default: continue;
    }
    if (++e.seen != f.occurrence) continue;
    e.done = true;
    if (action == BlockAction::None) {
      action = a;
      if (fired) *fired = f.ToString();
    }
  }
  return action;
}

bool FaultBook::Upload(std::string* fired) {
  bool hangUp = false;
  std::lock_guard<std::mutex> lock(mutex_);
  for (Entry& e : entries_) {
    const Fault& f = e.fault;
    if (e.done || f.kind != Fault::Kind::HangUpUpload) continue;
    if (++e.seen != f.occurrence) continue;
    e.done = true;
    if (!hangUp && fired) *fired = f.ToString();
    hangUp = true;
  }
  return hangUp;
}

FaultBook::SessionAction FaultBook::Session(std::string* fired) {
  SessionAction action = SessionAction::None;
  std::lock_guard<std::mutex> lock(mutex_);
  for (Entry& e : entries_) {
    const Fault& f = e.fault;
    if (e.done) continue;
    SessionAction a = SessionAction::None;
    if (f.kind == Fault::Kind::RefuseAddress) {
      a = SessionAction::RefuseAddress;
    } else if (f.kind == Fault::Kind::TooLarge) {
      a = SessionAction::TooLarge;
    } else {
      continue;
    }
    if (++e.seen != f.occurrence) continue;
    e.done = true;
    if (action == SessionAction::None) {
      action = a;
      if (fired) *fired = f.ToString();
    }
  }
  return action;
}

void FaultBook::ApplyFlips(FlashPart part, uint32_t address, uint8_t* data, size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Entry& e : entries_) {
    const Fault& f = e.fault;
    if (f.kind != Fault::Kind::FlipBit || f.part != part) continue;
    if (f.address < address || f.address - address >= length) continue;
    data[f.address - address] ^= static_cast<uint8_t>(1u << f.bit);
  }
}

}  // namespace vantrel::sim
