// The exception box for a process of 20 threads: the time from the hand-over on a worker
// to the box being visible, and to every report tab being there with the report complete.
// A window program (the pipeline shows no box in a console program); figures go to stdout.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "box_driver_win.h"
#include "exception_classes.h"
#include "handler_tables_win.h"
#include "pipeline_win.h"
#include "report_pages.h"
#include "reporter_lifecycle_win.h"
#include "settings_open_win.h"

namespace {

QX_EXCEPTION_CLASS(EBenchError, qx::Exception)

std::atomic<qx::IKVException*> gException{nullptr};

// Phase 1 hands the test its exception, so that it can tell when the report is complete.
void __stdcall KeepException(qx::IKVException* exception, bool&) {
  exception->AddRef();
  gException = exception;
}

double Now() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

bool ReportComplete(qx::IKVException* exception) {
  return exception->GetReportText(false).find(">> will be calculated soon") == std::string::npos;
}

size_t WantedTabs(qx::IKVException* exception) {
  qx::ComPtr<qx::IKVFields> sections = qx::ComPtr<qx::IKVFields>::Adopt(exception->ReportSections());
  std::vector<qx::ReportPart> parts;
  for (int32_t i = 0; i < sections->ItemCount(); ++i) parts.push_back({sections->ItemName(i), {}});
  return qx::ReportTabs(parts).size();
}

struct Round {
  double visible, filled;
};

Round OneRound() {
  gException = nullptr;
  double start = 0;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    EBenchError error("bench");
    start = Now();
    qx::HandOverException(qx::kTypeException, &error, 0, nullptr, nullptr, nullptr, 16, nullptr, 0,
                          0, true);
    done = true;
  });
  HWND box = nullptr;
  qx::WaitUntil([&] { return (box = qx::VisibleBox()) != nullptr; }, 60000);
  Round round{Now() - start, 0};
  HWND tabs = qx::ChildOfClass(box, WC_TABCONTROLA);
  qx::WaitUntil([&] {
    qx::IKVException* e = gException;
    return e != nullptr && ReportComplete(e) &&
           qx::TabCaptions(tabs).size() == WantedTabs(e);
  }, 120000);
  round.filled = Now() - start;
  qx::Click(qx::BoxButton(box, 4));
  worker.join();
  if (qx::IKVException* e = gException.exchange(nullptr)) e->Release();
  return round;
}

}  // namespace

int main() {
  qx::ReporterStartup();
  qx::MainSettings()->SetAutoShowBugRep(true);
  qx::MainSettings()->SetPlWaitBox(false);
  qx::MainSettings()->SetAutoSave(false);
  qx::RegisterExceptionHandler(KeepException, qx::kSyncAnyThread, 1);
  // 19 threads waiting besides the main thread: a process of 20 threads before the worker.
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<std::thread> idle;
  for (int i = 0; i < 19; ++i) idle.emplace_back([release] { WaitForSingleObject(release, INFINITE); });
  std::vector<Round> rounds;
  for (int i = 0; i < 5; ++i) rounds.push_back(OneRound());
  SetEvent(release);
  for (auto& thread : idle) thread.join();
  auto median = [&](double Round::*field) {
    std::vector<double> values;
    for (const Round& r : rounds) values.push_back(r.*field);
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  };
  std::printf("exception box, 20 threads + the faulting worker, median of %zu rounds:\n",
              rounds.size());
  std::printf("  hand-over to box visible      %8.1f ms\n", median(&Round::visible));
  std::printf("  hand-over to all tabs filled  %8.1f ms\n", median(&Round::filled));
  std::fflush(stdout);
  qx::ClearHandlerTables();
  qx::ReporterShutdown();
  return 0;
}
