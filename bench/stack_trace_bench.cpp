// Times the stack walker in a process of 21 threads (the main thread and 20 workers waiting
// at the bottom of a recursion): TraceStack per thread and per KB of stack, a complete
// report with every thread's call stack, and releasing such a report while its completion
// traces the threads.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "function_win.h"
#include "list_plugins_win.h"
#include "map_lookup.h"
#include "report_hooks_win.h"
#include "settings_open_win.h"
#include "stack_trace_win.h"
#include "thread_info_win.h"
#include "thread_sections_win.h"
#include "exception_object_win.h"

namespace {

HANDLE gRelease = CreateEventA(nullptr, TRUE, FALSE, nullptr);
volatile LONG gReady = 0;

__attribute__((noinline)) int Descend(int depth) {
  volatile char pad[40];
  pad[0] = static_cast<char>(depth);
  if (depth == 0) {
    InterlockedIncrement(&gReady);
    WaitForSingleObject(gRelease, INFINITE);
    return pad[0];
  }
  return Descend(depth - 1) + pad[0];
}

DWORD WINAPI Worker(void* parameter) {
  return static_cast<DWORD>(Descend(static_cast<int>(reinterpret_cast<intptr_t>(parameter))));
}

HANDLE gFirstSection = CreateEventA(nullptr, TRUE, FALSE, nullptr);

void __stdcall FirstSection(bool, const std::string& report, qx::IKVException*) {
  if (report.find("will be calculated soon") != std::string::npos) SetEvent(gFirstSection);
}

double Now() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main() {
  qx::LinkDisAsm();
  qx::MapFileStartup();
  qx::SettingsStartup();
  qx::ReportStartup();
  qx::ThreadSectionsStartup();
  qx::SetMainThreadId(GetCurrentThreadId());
  qx::NameThreadInfo(GetCurrentThreadId(), "main thread");
  qx::SetReportHandlerThread(0);

  std::vector<HANDLE> threads;
  std::vector<DWORD> ids;
  for (int i = 0; i < 20; ++i) {
    DWORD id = 0;
    threads.push_back(CreateThread(nullptr, 0, Worker, reinterpret_cast<void*>(intptr_t{10 + i * 10}), 0, &id));
    ids.push_back(id);
  }
  while (gReady < 20) Sleep(5);

  std::printf("TraceStack per thread (recursion 10..200 frames)\n");
  std::printf("%-8s %8s %8s %10s %10s\n", "thread", "stackKB", "lines", "ms", "ms/KB");
  double totalMs = 0, totalKb = 0;
  for (size_t i = 0; i < ids.size(); ++i) {
    CONTEXT context{};
    context.ContextFlags = CONTEXT_FULL;
    SuspendThread(threads[i]);
    GetThreadContext(threads[i], &context);
    ResumeThread(threads[i]);
    MEMORY_BASIC_INFORMATION info;
    VirtualQuery(reinterpret_cast<void*>(static_cast<uintptr_t>(context.Esp)), &info, sizeof info);
    qx::TraceStackInput input;
    input.framePointer = context.Ebp;
    input.stackBottom = context.Esp;
    input.stackTop = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(info.BaseAddress)) +
                     static_cast<uint32_t>(info.RegionSize);
    input.currentAddress = context.Eip;
    input.isException = true;
    input.isExternal = true;
    qx::TraceStackOutput output;
    // The first trace also fills the caches; each thread is timed on a second trace too.
    double start = Now();
    qx::ProcessStackWalker().TraceStack(input, output);
    double ms = Now() - start;
    double kb = (input.stackTop - input.stackBottom) / 1024.0;
    size_t lines = output.trace.size();
    totalMs += ms;
    totalKb += kb;
    std::printf("%-8lu %8.1f %8zu %10.3f %10.4f\n", static_cast<unsigned long>(ids[i]), kb, lines,
                ms, ms / kb);
  }
  std::printf("all %zu threads: %.1f KB in %.2f ms, %.4f ms per KB\n", ids.size(), totalKb,
              totalMs, totalMs / totalKb);

  for (int run = 0; run < 2; ++run) {
    CONTEXT context{};
    context.ContextFlags = CONTEXT_FULL;
    RtlCaptureContext(&context);
    qx::ExceptionFacts facts;
    facts.address = context.Eip;
    facts.crashedThreadId = GetCurrentThreadId();
    facts.context = &context;
    double start = Now();
    qx::ComPtr<qx::IKVException> exception =
        qx::CreateTIKVException(qx::MainSettings().Get(), facts);
    std::string text = exception->GetReportText(true);
    double ms = Now() - start;
    std::printf("complete report of a %zu-thread process (%s caches): %.1f ms, %zu bytes\n",
                ids.size() + 1, run == 0 ? "cold" : "warm", ms, text.size());
  }

  // Sections asked for on the handler thread complete in a thread of their own; the release
  // stops it in the middle of its traces.
  for (int run = 0; run < 3; ++run) {
    ResetEvent(gFirstSection);
    qx::SetReportHandlerThread(GetCurrentThreadId());
    qx::ExceptionFacts facts;
    facts.type = 1;
    qx::ComPtr<qx::IKVException> exception =
        qx::CreateTIKVException(qx::MainSettings().Get(), facts);
    exception->AddReportCallback(FirstSection, false);
    qx::ComPtr<qx::IKVFields>::Adopt(exception->ReportSections());
    qx::SetReportHandlerThread(0);
    WaitForSingleObject(gFirstSection, 60000);
    double start = Now();
    exception = nullptr;
    std::printf("releasing a report of a %zu-thread process during its traces: %.2f ms\n",
                ids.size() + 1, Now() - start);
  }
  SetEvent(gRelease);
  for (HANDLE thread : threads) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  return 0;
}
