#include <gtest/gtest.h>
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "platform/interruptions.h"
#include "test_support.h"

namespace {

// A signal that would end the process waits while interruptions are held,
// and ends it by that same signal when they are released; unheld, it ends
// the process at once.
TEST(Interruptions, ASignalThatComesWhileHeldEndsTheProcessOnRelease) {
  ScopedTempDir files;
  const std::string marker = (files.path() / "marker").string();
  for (int signal : {SIGHUP, SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    for (bool held : {true, false}) {
      std::remove(marker.c_str());
      EXPECT_EXIT(
          {
            std::signal(signal, SIG_DFL);
            if (held) platform::holdInterruptions();
            std::raise(signal);
            writeFile(marker, "still running");
            if (held) platform::releaseInterruptions();
            std::exit(0);
          },
          testing::KilledBySignal(signal), "");
      EXPECT_EQ(readFile(marker), held ? "still running" : "");
    }
  }
}

}  // namespace
