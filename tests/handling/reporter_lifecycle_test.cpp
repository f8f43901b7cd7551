// The reporter's start-up and shut-down as the module's entry point runs them, in this
// program (the reporter is the executable, with the handling tests' settings).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "child_process_win.h"
#include "process_registries.h"
#include "reporter_lifecycle_win.h"
#include "settings_open_win.h"

namespace qx {
namespace {

std::vector<std::string> gSteps;

void RecordStep(const char* step) { gSteps.emplace_back(step); }

TEST(ReporterLifecycle, TheThreadNameBlockClosesAfterTheHandlerThreadStopped) {
  ReporterStartup();
  EXPECT_TRUE(MainSettings());
  gSteps.clear();
  ShutdownStepHook = RecordStep;
  ReporterShutdown();
  ShutdownStepHook = nullptr;
  EXPECT_EQ(gSteps,
            (std::vector<std::string>{"capture", "thread sections", "report", "handling",
                                      "thread names", "delivery", "settings", "debug information"}));
  EXPECT_FALSE(MainSettings());
}

// A program without settings: start-up releases the main settings it could not use.
TEST(ReporterLifecycle, WithoutValidSettingsTheMainSettingsAreReleased) {
  EXPECT_EQ(RunChildProcess("\"" + SelfFolder() + "reporter_bare_child.exe\"", 60000), 0);
}

}  // namespace
}  // namespace qx
