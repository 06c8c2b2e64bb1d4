// The Windows backend of Process.h. A child is created suspended, put into a
// job object of its own that ends it (and whatever it starts) when the last
// handle to the job closes, which the system does when the parent dies, and
// then let run.
//
// Anonymous pipes cannot be waited on, and overlapped named pipes would be
// waited on with WaitForMultipleObjects, which takes at most 64 handles: two
// pipes for each of 32 handsets and the wake are 65. So each pipe has a
// thread that reads it into a buffer under the watch's lock and wakes the
// watch; the buffer is bounded, so a child that writes faster than its
// parent reads is held back by its pipe as on Linux.
#include <windows.h>
#include <psapi.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "platform/Process.h"
#include "platform/Win32.h"

namespace vantrel::platform {

namespace {

constexpr size_t kPipeBytes = 64 * 1024;
constexpr size_t kBufferCap = 1u << 20;

// Exit codes that are no exit status: the exception that ended the child.
constexpr DWORD kControlCExit = 0xC000013A;  // STATUS_CONTROL_C_EXIT
constexpr DWORD kKilledCode = 0x4B494C4C;    // what Kill's TerminateJobObject leaves

std::string SystemText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
      reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string out = n > 0 ? Narrow(text) : "";
  if (text != nullptr) ::LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
    out.pop_back();
  return out.empty() ? "Windows error " + std::to_string(code) : out;
}

// One argument as the C runtime's command-line parser reads it back.
void AppendQuoted(std::wstring& line, const std::wstring& arg) {
  if (!line.empty()) line += L' ';
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line += L'"';
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');  // before the closing quote
  line += L'"';
}

void CloseHandleOnce(HANDLE& h) {
  if (h != nullptr && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  h = nullptr;
}

}  // namespace

struct ChildWatch::State {
  std::mutex lock;
  std::condition_variable changed;  // a buffer got bytes or closed, or Wake
  std::condition_variable room;     // a buffer was emptied
  bool woken = false;
};

struct ChildProcess::State {
  struct Pipe {
    HANDLE read = nullptr;
    std::thread reader;
    std::string bytes;    // read, not yet taken (under the watch's lock)
    bool closed = false;  // the reader saw the end (under the watch's lock)
    bool taken = false;   // Read reported the end
  };
  ChildWatch::State* watch = nullptr;
  HANDLE process = nullptr;
  HANDLE job = nullptr;
  bool killed = false;
  Pipe pipe[2];  // by ChildPipe

  void ReadPipe(Pipe& p) {
    char buf[16384];
    for (;;) {
      DWORD n = 0;
      if (!::ReadFile(p.read, buf, sizeof buf, &n, nullptr)) break;  // ERROR_BROKEN_PIPE: the child's end closed
      if (n == 0) continue;
      std::unique_lock<std::mutex> hold(watch->lock);
      watch->room.wait(hold, [&] { return p.bytes.size() < kBufferCap; });
      // Bytes already waiting have woken the watch: these join them. A wake
      // per piece would cost a thread switch for every few hundred bytes.
      const bool wake = p.bytes.empty();
      p.bytes.append(buf, n);
      if (wake) watch->changed.notify_all();
    }
    std::lock_guard<std::mutex> hold(watch->lock);
    p.closed = true;
    watch->changed.notify_all();
  }

  void Join(Pipe& p) {
    if (p.reader.joinable()) p.reader.join();
    CloseHandleOnce(p.read);
  }
};

ChildProcess::ChildProcess() : s_(std::make_unique<State>()) {}

ChildProcess::~ChildProcess() {
  if (s_->process != nullptr) {
    Kill();
    (void)Wait();
  }
  // The job's end closed the children's ends of the pipes: the readers see
  // the end and stop.
  for (State::Pipe& p : s_->pipe) s_->Join(p);
  CloseHandleOnce(s_->job);
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args, ChildWatch& watch,
                         std::string* error) {
  auto fail = [&](const char* what, DWORD code) {
    *error = std::string(what) + program + ": " + SystemText(code);
    return false;
  };
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE in = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                            nullptr);
  if (in == INVALID_HANDLE_VALUE) return fail("cannot start ", ::GetLastError());
  HANDLE ends[2][2] = {{nullptr, nullptr}, {nullptr, nullptr}};  // [pipe][read, write]
  auto closeAll = [&] {
    CloseHandleOnce(in);
    for (auto& e : ends) {
      CloseHandleOnce(e[0]);
      CloseHandleOnce(e[1]);
    }
  };
  for (auto& e : ends) {
    // Only the child's end is inherited.
    if (!::CreatePipe(&e[0], &e[1], nullptr, kPipeBytes) ||
        !::SetHandleInformation(e[1], HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
      const DWORD code = ::GetLastError();
      closeAll();
      return fail("cannot start ", code);
    }
  }
  // Exactly these three handles go to the child, not every inheritable
  // handle the parent holds (another child's pipe would never close).
  HANDLE handed[3] = {in, ends[0][1], ends[1][1]};
  SIZE_T listBytes = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &listBytes);
  std::vector<char> listMemory(listBytes);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listMemory.data());
  if (!::InitializeProcThreadAttributeList(list, 1, 0, &listBytes) ||
      !::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handed, sizeof handed, nullptr,
                                   nullptr)) {
    const DWORD code = ::GetLastError();
    closeAll();
    return fail("cannot start ", code);
  }
  STARTUPINFOEXW si{};
  si.StartupInfo.cb = sizeof si;
  si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  si.StartupInfo.hStdInput = in;
  si.StartupInfo.hStdOutput = ends[0][1];
  si.StartupInfo.hStdError = ends[1][1];
  si.lpAttributeList = list;
  std::wstring line;
  AppendQuoted(line, Wide(program));
  for (const std::string& a : args) AppendQuoted(line, Wide(a));
  // The child shares the parent's console, and so its Ctrl-C; a parent
  // without one gives its children none (no window for each).
  DWORD flags = CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT | CREATE_UNICODE_ENVIRONMENT;
  if (::GetConsoleWindow() == nullptr && ::GetConsoleCP() == 0) flags |= CREATE_NO_WINDOW;
  PROCESS_INFORMATION pi{};
  const BOOL created = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                                        &si.StartupInfo, &pi);
  const DWORD createError = ::GetLastError();
  ::DeleteProcThreadAttributeList(list);
  CloseHandleOnce(in);
  CloseHandleOnce(ends[0][1]);
  CloseHandleOnce(ends[1][1]);
  if (!created) {
    closeAll();
    return fail("cannot start ", createError);
  }
  // A child that cannot be bound to its parent's life is not let run.
  HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  // A crash ends the child instead of holding it at an error report window.
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
  if (job == nullptr ||
      !::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
      !::AssignProcessToJobObject(job, pi.hProcess)) {
    const DWORD code = ::GetLastError();
    ::TerminateProcess(pi.hProcess, kKilledCode);
    ::WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandleOnce(pi.hThread);
    CloseHandleOnce(pi.hProcess);
    CloseHandleOnce(job);
    closeAll();
    return fail("cannot bind to its parent's life ", code);
  }
  ::ResumeThread(pi.hThread);
  CloseHandleOnce(pi.hThread);
  s_->watch = watch.s_.get();
  s_->process = pi.hProcess;
  s_->job = job;
  s_->killed = false;
  for (int k = 0; k < 2; ++k) {
    State::Pipe& p = s_->pipe[k];
    p.read = ends[k][0];
    p.bytes.clear();
    p.closed = p.taken = false;
    p.reader = std::thread(&State::ReadPipe, s_.get(), std::ref(p));
  }
  return true;
}

bool ChildProcess::Running() const { return s_->process != nullptr; }

bool ChildProcess::Open(ChildPipe pipe) const {
  const State::Pipe& p = s_->pipe[static_cast<int>(pipe)];
  return p.read != nullptr && !p.taken;
}

bool ChildProcess::Read(ChildPipe pipe, std::string& data) {
  State::Pipe& p = s_->pipe[static_cast<int>(pipe)];
  if (!Open(pipe)) return false;
  {
    std::lock_guard<std::mutex> hold(s_->watch->lock);
    if (!p.bytes.empty()) {
      const bool full = p.bytes.size() >= kBufferCap;
      data += p.bytes;
      p.bytes.clear();
      if (full) s_->watch->room.notify_all();
      return true;
    }
    if (!p.closed) return true;
    p.taken = true;
  }
  s_->Join(p);
  return false;
}

ChildExit ChildProcess::Wait() {
  if (s_->process == nullptr) return {};
  ::WaitForSingleObject(s_->process, INFINITE);
  DWORD code = 0;
  if (!::GetExitCodeProcess(s_->process, &code)) code = kKilledCode;
  CloseHandleOnce(s_->process);
  // The statuses a shell gives for SIGKILL, SIGINT and SIGSEGV, so that
  // what the parent reports reads the same on both platforms.
  if (s_->killed || code == kKilledCode) return {false, 128 + 9, "a forced stop"};
  if (code == kControlCExit) return {false, 128 + 2, "Ctrl-C"};
  if ((code & 0xC0000000u) == 0xC0000000u) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
    return {false, 128 + 11, std::string("exception ") + hex};
  }
  return {true, static_cast<int>(code), ""};
}

void ChildProcess::PassInterrupt() {}

void ChildProcess::Kill() {
  if (s_->process == nullptr) return;
  s_->killed = true;
  ::TerminateJobObject(s_->job, kKilledCode);
}

ChildWatch::ChildWatch() : s_(std::make_unique<State>()) {}

ChildWatch::~ChildWatch() = default;

std::vector<std::pair<size_t, ChildPipe>> ChildWatch::Wait(const std::vector<ChildProcess*>& children,
                                                           std::chrono::milliseconds timeout) {
  std::vector<std::pair<size_t, ChildPipe>> ready;
  auto look = [&] {
    ready.clear();
    for (size_t i = 0; i < children.size(); ++i) {
      if (children[i] == nullptr) continue;
      for (ChildPipe pipe : {ChildPipe::Out, ChildPipe::Err}) {
        const ChildProcess::State::Pipe& p = children[i]->s_->pipe[static_cast<int>(pipe)];
        if (p.read != nullptr && !p.taken && (!p.bytes.empty() || p.closed)) ready.emplace_back(i, pipe);
      }
    }
    return !ready.empty() || s_->woken;
  };
  std::unique_lock<std::mutex> hold(s_->lock);
  if (timeout.count() < 0) s_->changed.wait(hold, look);
  else s_->changed.wait_for(hold, timeout, look);
  s_->woken = false;
  return ready;
}

void ChildWatch::Wake() {
  std::lock_guard<std::mutex> hold(s_->lock);
  s_->woken = true;
  s_->changed.notify_all();
}

std::string OwnFolder() {
  std::wstring path(32768, L'\0');
  const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (n == 0 || n >= path.size()) return ".";
  path.resize(n);
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? "." : Narrow(path.substr(0, slash).c_str());
}

std::string ProgramIn(const std::string& folder, const std::string& name) {
  const std::string path = folder + "\\" + name + ".exe";
  const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? path : "";
}

long ResidentKb() {
  PROCESS_MEMORY_COUNTERS counters{};
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) return -1;
  return static_cast<long>(counters.WorkingSetSize / 1024);
}

int OpenHandles() {
  DWORD count = 0;
  return ::GetProcessHandleCount(::GetCurrentProcess(), &count) ? static_cast<int>(count) : -1;
}

}  // namespace vantrel::platform
