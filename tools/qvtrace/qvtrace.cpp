// qvtrace: the control tool of the trace facility. It maps the same shared records under the same mutex as every
// process that traces, lists them, and changes a process's or a thread's trace settings.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "tools/qvtrace/qvtrace_platform.h"
#include "trace/process_cache.h"
#include "trace/trace_internal.h"
#include "trace/trace_text.h"

namespace {

const char kUsage[] =
    "usage: qvtrace [--cache NAME] COMMAND [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  list                  show the registered processes and threads and their trace settings\n"
    "  set --pid PID [--tid TID] SETTING...\n"
    "                        change the settings of every registered thread of PID, or of thread TID only\n"
    "  monitor               print the debugger output of all traced processes until interrupted (POSIX)\n"
    "  help                  show this text\n"
    "\n"
    "Settings (numbers are decimal or 0x-hexadecimal):\n"
    "  --output FLAGS        where lines go: a number (bit 0 debugger, bit 1 console, bit 2 log file) or a\n"
    "                        comma list of debugger, console, logfile; none for 0\n"
    "  --header MODE         1 no header, 2 time only, 3 time, memory, process and thread\n"
    "  --prefix TEXT         text put before every message (at most 4095 characters)\n"
    "  --logfile PATH        log file for --output logfile (at most 255 characters)\n"
    "  --level N             lines with a level above N are dropped (1 MSG, 2 ERR, 3 WRN, 4 USR)\n"
    "  --context MASK        lines whose context mask shares no bit with MASK are dropped\n"
    "\n"
    "  --cache NAME          the shared memory's name (tests use their own; default: the facility's)\n"
    "\n"
    "Exit codes: 0 done, 2 bad arguments, nothing registered, or the process or thread is not registered.\n";

struct Settings {
  std::optional<uint32_t> outputFlags;
  std::optional<uint32_t> headerMode;
  std::optional<std::wstring> prefix;
  std::optional<std::wstring> logFile;
  std::optional<int32_t> verboseLevel;
  std::optional<uint32_t> contextFlags;

  bool Any() const {
    return outputFlags || headerMode || prefix || logFile || verboseLevel || contextFlags;
  }
};

struct Request {
  std::wstring cacheName;
  std::wstring command;
  std::optional<uint32_t> processId;
  std::optional<uint32_t> threadId;
  Settings settings;
};

int Fail(const std::string& message) {
  std::fprintf(stderr, "qvtrace: %s\n", message.c_str());
  return 2;
}

std::string Narrow(const std::wstring& text) { return qvtrace::WideToUtf8(text.c_str()); }

// A whole-text number, decimal or 0x-hexadecimal, within [min, max].
bool ParseNumber(const std::wstring& text, long long min, long long max, long long* value) {
  if (text.empty()) return false;
  errno = 0;
  wchar_t* end = nullptr;
  long long parsed = std::wcstoll(text.c_str(), &end, 0);
  if (errno != 0 || end == nullptr || *end != 0 || parsed < min || parsed > max) return false;
  *value = parsed;
  return true;
}

bool ParseOutputFlags(const std::wstring& text, uint32_t* flags) {
  long long number = 0;
  if (ParseNumber(text, 0, UINT32_MAX, &number)) {
    *flags = static_cast<uint32_t>(number);
    return true;
  }
  uint32_t result = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(L',', start);
    std::wstring word = text.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start);
    if (word == L"debugger") {
      result |= qvtrace::kOutputDebugger;
    } else if (word == L"console") {
      result |= qvtrace::kOutputConsole;
    } else if (word == L"logfile") {
      result |= qvtrace::kOutputLogFile;
    } else if (word != L"none") {
      return false;
    }
    if (comma == std::wstring::npos) break;
    start = comma + 1;
  }
  *flags = result;
  return true;
}

// Length in UTF-16 units, as the text will be stored.
size_t Utf16Length(const std::wstring& text) {
  std::vector<char16_t> units(text.size() * 2 + 1);
  qvtrace::CopyToUtf16(units.data(), units.size(), text.c_str());
  return qvtrace::BoundedLength(units.data(), units.size());
}

// Parses the arguments; on failure returns the exit code of the printed message.
std::optional<int> Parse(const std::vector<std::wstring>& args, Request* request) {
  size_t i = 0;
  auto value = [&](const std::wstring& option, std::wstring* out) -> bool {
    if (i + 1 >= args.size()) return false;
    *out = args[++i];
    (void)option;
    return true;
  };
  for (; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    std::wstring text;
    long long number = 0;
    if (arg == L"--help" || arg == L"-h" || arg == L"help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg.rfind(L"--", 0) == 0 && !value(arg, &text)) return Fail(Narrow(arg) + " needs a value");
    if (arg == L"--cache") {
      if (text.empty() || text.size() > 63) return Fail("--cache needs a name of 1 to 63 characters");
      request->cacheName = text;
    } else if (arg == L"--pid") {
      if (!ParseNumber(text, 1, UINT32_MAX, &number)) return Fail("bad process identifier: " + Narrow(text));
      request->processId = static_cast<uint32_t>(number);
    } else if (arg == L"--tid") {
      if (!ParseNumber(text, 1, UINT32_MAX, &number)) return Fail("bad thread identifier: " + Narrow(text));
      request->threadId = static_cast<uint32_t>(number);
    } else if (arg == L"--output") {
      uint32_t flags = 0;
      if (!ParseOutputFlags(text, &flags)) return Fail("bad output flags: " + Narrow(text));
      request->settings.outputFlags = flags;
    } else if (arg == L"--header") {
      if (!ParseNumber(text, 0, UINT32_MAX, &number)) return Fail("bad header mode: " + Narrow(text));
      request->settings.headerMode = static_cast<uint32_t>(number);
    } else if (arg == L"--prefix") {
      if (Utf16Length(text) >= qvtrace::kPrefixChars) return Fail("the prefix is longer than 4095 characters");
      request->settings.prefix = text;
    } else if (arg == L"--logfile") {
      if (Utf16Length(text) >= qvtrace::kLogFileChars) return Fail("the log file path is longer than 255 characters");
      request->settings.logFile = text;
    } else if (arg == L"--level") {
      if (!ParseNumber(text, INT32_MIN, INT32_MAX, &number)) return Fail("bad level: " + Narrow(text));
      request->settings.verboseLevel = static_cast<int32_t>(number);
    } else if (arg == L"--context") {
      if (!ParseNumber(text, 0, UINT32_MAX, &number)) return Fail("bad context mask: " + Narrow(text));
      request->settings.contextFlags = static_cast<uint32_t>(number);
    } else if (arg.rfind(L"--", 0) == 0) {
      return Fail("unknown option " + Narrow(arg));
    } else if (request->command.empty()) {
      request->command = arg;
    } else {
      return Fail("unexpected argument " + Narrow(arg));
    }
  }
  if (request->command.empty()) return Fail("no command given (try qvtrace help)");
  if (request->command != L"list" && request->command != L"set" && request->command != L"monitor") {
    return Fail("unknown command " + Narrow(request->command));
  }
  const bool set = request->command == L"set";
  if (!set && (request->processId || request->threadId || request->settings.Any())) {
    return Fail("--pid, --tid and the settings belong to the set command");
  }
  if (set && !request->processId) return Fail("set needs --pid");
  if (set && !request->settings.Any()) return Fail("set needs at least one setting");
  return std::nullopt;
}

std::string FieldText(const char16_t* field, size_t cap) {
  std::vector<wchar_t> wide(cap + 1);
  qvtrace::Utf16ToWide(field, cap, wide.data(), wide.size());
  return qvtrace::WideToUtf8(wide.data());
}

std::string OutputNames(uint32_t flags) {
  std::string names;
  if (flags & qvtrace::kOutputDebugger) names += "debugger,";
  if (flags & qvtrace::kOutputConsole) names += "console,";
  if (flags & qvtrace::kOutputLogFile) names += "logfile,";
  if (names.empty()) return "none";
  names.pop_back();
  return names;
}

int List() {
  TraceLock();
  qvtrace::ProcessCache* cache = QVTRACE_GM_GetProcessCachePtr();
  if (cache != nullptr) {
    for (const qvtrace::ProcInfo& proc : cache->processes) {
      if (proc.processId == 0) continue;
      size_t pending = qvtrace::BoundedLength(proc.pendingLog, qvtrace::kPendingLogChars);
      std::printf("process %u (0x%04X)  refCount %d  writer %s  pending %zu characters\n", proc.processId,
                  proc.processId, proc.refCount, proc.writerRunning ? "running" : "not running", pending);
      for (const qvtrace::ThreadInfo& thread : proc.threads) {
        if (thread.threadId == 0) continue;
        std::printf("  thread %u (0x%04X)  refCount %d  level %d  context 0x%08X  output %s  header %u\n",
                    thread.threadId, thread.threadId, thread.refCount, thread.verboseLevel, thread.contextFlags,
                    OutputNames(thread.outputFlags).c_str(), thread.headerMode);
        std::printf("    logfile \"%s\"  prefix \"%s\"\n", FieldText(thread.logFile, qvtrace::kLogFileChars).c_str(),
                    FieldText(thread.prefix, qvtrace::kPrefixChars).c_str());
      }
    }
  }
  TraceUnlock();
  return 0;
}

void Apply(const Settings& settings, qvtrace::ThreadInfo* thread) {
  if (settings.outputFlags) thread->outputFlags = *settings.outputFlags;
  if (settings.headerMode) thread->headerMode = *settings.headerMode;
  if (settings.verboseLevel) thread->verboseLevel = *settings.verboseLevel;
  if (settings.contextFlags) thread->contextFlags = *settings.contextFlags;
  if (settings.prefix) qvtrace::CopyToUtf16(thread->prefix, qvtrace::kPrefixChars, settings.prefix->c_str());
  if (settings.logFile) qvtrace::CopyToUtf16(thread->logFile, qvtrace::kLogFileChars, settings.logFile->c_str());
}

int Set(const Request& request) {
  TraceLock();
  int result = 0;
  qvtrace::ProcessCache* cache = QVTRACE_GM_GetProcessCachePtr();
  qvtrace::ProcInfo* target = nullptr;
  if (cache != nullptr) {
    for (qvtrace::ProcInfo& proc : cache->processes) {
      if (proc.processId == *request.processId && proc.refCount > 0) target = &proc;
    }
  }
  if (target == nullptr) {
    result = Fail("process " + std::to_string(*request.processId) + " is not registered with the trace facility");
  } else {
    int changed = 0;
    for (qvtrace::ThreadInfo& thread : target->threads) {
      if (thread.threadId == 0 || (request.threadId && thread.threadId != *request.threadId)) continue;
      Apply(request.settings, &thread);
      ++changed;
    }
    if (changed == 0) {
      result = Fail("thread " + std::to_string(*request.threadId) + " of process " +
                    std::to_string(*request.processId) + " is not registered");
    }
  }
  TraceUnlock();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  Request request;
  if (std::optional<int> exit = Parse(CommandLineArguments(argc, argv), &request)) return *exit;
  if (!request.cacheName.empty()) TraceSetObjectNamesForTesting(request.cacheName.c_str());
  // The tool never brings a block into being: with nobody registered there is nothing to show or change.
  TraceUseExistingCacheOnly();
  if (request.command == L"list") return List();
  if (request.command == L"monitor") return RunMonitor();
  return Set(request);
}
