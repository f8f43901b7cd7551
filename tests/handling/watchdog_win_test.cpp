// The freeze watchdog, started by the reporter's start-up because this program's settings
// have CheckFreeze with a time-out of one second.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "handler_tables_win.h"
#include "handling_test_support.h"
#include "pipeline_win.h"
#include "settings_open_win.h"
#include "watchdog_win.h"

namespace qx {
namespace {

std::atomic<int> gFreezes{0};
std::atomic<int> gExceptions{0};
std::mutex gLock;
std::string gFreezeMessage;
int gFreezeSource = -1;

void __stdcall Observer(IKVException* exception, bool&) {
  if (exception->ExceptionType() == kTypeFreeze) {
    ComPtr<IKVFields> header = ComPtr<IKVFields>::Adopt(exception->HeaderFields());
    std::lock_guard<std::mutex> guard(gLock);
    gFreezeMessage = header->Content("exception message");
    gFreezeSource = exception->Source();
    ++gFreezes;
  } else {
    ++gExceptions;
    Sleep(2500);  // an exception whose handling takes longer than the freeze time-out
  }
}

class Watchdog : public ::testing::Test {
 protected:
  void SetUp() override { RegisterExceptionHandler(Observer, kSyncAnyThread, 1); }
  void TearDown() override { ClearHandlerTables(); }
};

TEST_F(Watchdog, AMainThreadThatStopsRetrievingMessagesIsReportedFrozen) {
  ASSERT_NE(WatchdogThreadId(), static_cast<DWORD>(-1));
  PumpFor(1500);
  EXPECT_EQ(gFreezes, 0);
  Sleep(2000);  // ten pings of 100 ms go unanswered
  PumpFor(200);
  EXPECT_GE(gFreezes, 1);
  std::lock_guard<std::mutex> guard(gLock);
  EXPECT_EQ(gFreezeMessage, "The application seems to be frozen.");
  EXPECT_EQ(gFreezeSource, 1);
}

TEST_F(Watchdog, NoFreezeIsReportedWhileAnExceptionIsHandled) {
  PumpFor(500);
  int before = gFreezes;
  std::thread worker([] {
    ETestError error("slow to handle");
    HandOverException(kTypeException, &error, 0, nullptr, nullptr, nullptr, 16, nullptr, 0, 0,
                      true);
  });
  worker.join();  // no messages retrieved for 2.5 s
  PumpFor(200);
  EXPECT_EQ(gExceptions, 1);
  EXPECT_EQ(gFreezes, before);
}

}  // namespace
}  // namespace qx

int main(int argc, char** argv) {
  qx::SettingsStartup();
  qx::HandlingStartup();
  testing::InitGoogleTest(&argc, argv);
  int result = RUN_ALL_TESTS();
  qx::HandlingShutdown();
  qx::SettingsShutdown();
  return result;
}
