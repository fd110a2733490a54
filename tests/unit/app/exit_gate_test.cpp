#include "app/exit_gate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A script of what happens to the main window, one letter a step:
//   E a nested loop starts (a refused start is recorded as "refused")
//   L the innermost loop returns
//   X the user asks to leave (tray Exit, Escape)
//   D the window's destroy request comes in (the posted exit message)
// Records what the gate did, in order.
struct Script {
  const char* name;
  const char* steps;
  std::vector<std::string> expected;
};

std::vector<std::string> Play(const char* steps) {
  std::vector<std::string> log;
  CExitGate gate({[&] { log.push_back("end loops"); }, [&] { log.push_back("destroy later"); }});
  for (const char* s = steps; *s; ++s) {
    switch (*s) {
      case 'E':
        if (!gate.EnterLoop()) log.push_back("refused");
        break;
      case 'L':
        gate.LeaveLoop();
        break;
      case 'X':
        gate.RequestExit();
        break;
      case 'D':
        if (gate.DestroyRequested()) log.push_back("destroy now");
        break;
    }
  }
  return log;
}

TEST(ExitGate, DestructionWaitsForEveryNestedLoop) {
  const Script scripts[] = {
      {"no loop: the window goes at once", "D", {"destroy now"}},
      {"a loop that ended before", "ELD", {"destroy now"}},
      {"Exit inside the login's transfer", "EDL", {"end loops", "destroy later"}},
      {"Exit inside a box inside the transfer", "EEDLL", {"end loops", "destroy later"}},
      {"the outer loop is still running", "EEDL", {"end loops"}},
      {"after the request no loop starts", "EDEL", {"end loops", "refused", "destroy later"}},
      {"leaving at rest refuses the next loop", "XE", {"refused"}},
      {"Escape in a loop, the destroy comes later", "EXLD", {"end loops", "destroy now"}},
      {"the loops are asked to end once", "EXXDL", {"end loops", "destroy later"}},
      {"a loop's end without a request destroys nothing", "EELL", {}},
      {"a second destroy request after the first", "EDLD", {"end loops", "destroy later", "destroy now"}},
  };
  for (const Script& s : scripts) EXPECT_EQ(Play(s.steps), s.expected) << s.name;
}

TEST(ExitGate, ScopedLoopLeavesOnlyWhatItEntered) {
  int destroyed = 0;
  CExitGate gate({nullptr, [&] { ++destroyed; }});
  {
    CExitGate::CLoop outer(gate);
    ASSERT_TRUE(outer.Entered());
    EXPECT_FALSE(gate.DestroyRequested());
    {
      CExitGate::CLoop refused(gate);
      EXPECT_FALSE(refused.Entered());
    }
    EXPECT_EQ(gate.Depth(), 1) << "a refused loop must not count down the running one";
    EXPECT_EQ(destroyed, 0);
  }
  EXPECT_EQ(gate.Depth(), 0);
  EXPECT_EQ(destroyed, 1);
}

}  // namespace
