#include "cli/progress.h"

#include <gtest/gtest.h>

#include <sstream>

namespace kestrova::cli {
namespace {

using Clock = std::chrono::steady_clock;

TEST(TerminalProgress, ShownOnlyOnATerminalAndOnlyAfterASecond) {
  Clock::time_point now{};
  const auto clock = [&now] { return now; };
  std::ostringstream err;
  {
    TerminalProgress p(err, true, "writing a.jww", clock);
    EXPECT_TRUE(p.Continue(0.0));
    now += std::chrono::milliseconds(999);
    EXPECT_TRUE(p.Continue(0.5));
    EXPECT_EQ(err.str(), "");  // quick work says nothing
    now += std::chrono::milliseconds(1);
    EXPECT_TRUE(p.Continue(0.051));
    EXPECT_TRUE(p.Continue(0.059));  // the same percentage is not written again
    EXPECT_TRUE(p.Continue(0.42));
    EXPECT_TRUE(p.Continue(1.0));
    EXPECT_EQ(err.str(),
              "\rkestrova-cli: writing a.jww   5%\rkestrova-cli: writing a.jww  42%"
              "\rkestrova-cli: writing a.jww 100%");
  }
  EXPECT_EQ(err.str().back(), '\n');  // the next message starts on a line of its own

  std::ostringstream log;
  {
    TerminalProgress p(log, false, "loading b.sim", clock);
    now += std::chrono::seconds(5);
    EXPECT_TRUE(p.Continue(0.7));
  }
  EXPECT_EQ(log.str(), "");  // not a terminal: never a line
  std::ostringstream quick;
  { TerminalProgress p(quick, true, "loading c.sim", clock); }
  EXPECT_EQ(quick.str(), "");
}

}  // namespace
}  // namespace kestrova::cli
