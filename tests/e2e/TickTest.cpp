// The program's tick as a scene sees it: the interval the scene asks for, and an onTick that
// fails on every tick.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "Harness.h"

using e2e::Program;
using e2e::XServer;

namespace {

using Clock = std::chrono::steady_clock;

class TickTest : public ::testing::Test {
 protected:
  XServer server_;
};

// The number a scene's print(n) left in the caption, or -1.
int PrintedNumber(const std::string& caption) {
  const std::string prefix = "print 1 args (NUM ";
  if (caption.rfind(prefix, 0) != 0) return -1;
  return std::atoi(caption.c_str() + prefix.size());
}

TEST_F(TickTest, TheIntervalASceneAsksForHoldsFromTheNextTick) {
  Program program(server_, R"(
local ticks = 0
function root:onTick(dt)
  ticks = ticks + 1
  if ticks == 2 then kestrune.setTickInterval(0.5) end
  print(ticks)
end
)");
  program.Start();
  ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
  // Only a lower bound on the time the ticks took, which a busy machine cannot break: the tick
  // after the one first seen came after the look began, and the last one seen before the look
  // ended. At the old 55 ms the ticks would take a fifth of the time.
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  int first = -1;
  Clock::time_point firstLookBegan;
  while (first < 3 && Clock::now() < deadline) {
    firstLookBegan = Clock::now();
    first = PrintedNumber(program.Caption());
  }
  ASSERT_GE(first, 3) << program.Caption();
  int last = first;
  while (last < first + 4 && Clock::now() < deadline) last = PrintedNumber(program.Caption());
  const std::chrono::duration<double> took = Clock::now() - firstLookBegan;
  ASSERT_GE(last, first + 4) << program.Caption();
  EXPECT_GE(took.count(), (last - first - 1) * 0.5);
  program.Close();
  EXPECT_EQ(program.WaitForExit(30000), 0) << program.Stderr();
}

TEST_F(TickTest, AnOnTickErrorOnEveryTickIsWrittenOnceThenAsACount) {
  Program program(server_, R"(
kestrune.setTickInterval(0.01)
kestrune.after(5.5, function() print('counted') end)
function root:onTick() error('tick failed') end
)");
  program.Start();
  ASSERT_TRUE(program.WaitForWindow()) << program.Stderr();
  ASSERT_EQ(program.WaitForCaption("print 1 args (STR counted)", 60000),
            "print 1 args (STR counted)");
  // The lines reach standard error through a queue of their own.
  program.WaitForStderr("more times");
  const std::string err = program.Stderr();
  size_t told = 0;
  for (size_t at = err.find("tick failed"); at != std::string::npos;
       at = err.find("tick failed", at + 1))
    ++told;
  // In full with its traceback once, then one count five seconds of scene time later.
  EXPECT_EQ(told, 2u) << err;
  EXPECT_NE(err.find("stack traceback:"), std::string::npos) << err;
  EXPECT_NE(err.find("kestrune: the same error "), std::string::npos) << err;
  program.Close();
  EXPECT_EQ(program.WaitForExit(30000), 0) << program.Stderr();
}

}  // namespace
