#include "platform/open_advice.h"

#include <gtest/gtest.h>

namespace brevinmarquest::platform {
namespace {

// An installed tool, one in a folder named bin, has its rule beside it, which udev reads only
// under /usr and /usr/local; a tool run from a build, or copied without its rule, has the source
// tree's to install.
TEST(OpenAdvice, TheRuleStepFollowsWhereTheToolRunsFrom) {
  const std::string from_source =
      "install the udev rule udev/60-brevinmarquest.rules from the source tree";
  const std::string join = "join the plugdev group (the udev rule ";
  const struct {
    const char* program;
    std::string step;
  } cases[] = {
      {"", from_source},
      {"/b/src/brevinmarquest", from_source},
      {"/home/u/bin/b/brevinmarquest", from_source},
      {"/copied/bin/brevinmarquest", from_source},
      {"/usr/bin/brevinmarquest",
       join + "/usr/lib/udev/rules.d/60-brevinmarquest.rules lets it in)"},
      {"/usr/local/bin/brevinmarquest",
       join + "/usr/local/lib/udev/rules.d/60-brevinmarquest.rules lets it in)"},
      {"/bin/brevinmarquest", join + "/lib/udev/rules.d/60-brevinmarquest.rules lets it in)"},
      {"/opt/b/bin/brevinmarquest",
       "copy the udev rule /opt/b/lib/udev/rules.d/60-brevinmarquest.rules into /etc/udev/rules.d, "
       "where udev reads it, and join the plugdev group"},
  };
  const auto present = [](const std::string& path) { return path.rfind("/copied/", 0) != 0; };
  for (const auto& c : cases) EXPECT_EQ(udev_rule_step(c.program, present), c.step) << c.program;
}

// Sudo only for a user who is not root, the rule's step where the row asks for it, where to read
// further on each system, and no advice for a status that has no row.
TEST(OpenAdvice, AFixIsComposedForTheUserAndTheSystem) {
  constexpr system_kind on_linux = system_kind::linux_system;
  constexpr library_kind vendor = library_kind::vendor;
  EXPECT_EQ(advice_for(on_linux, vendor, 3, false, "<rule>", false).fix,
            "close the other program, run sudo rmmod ftdi_sio, and <rule>; see man brevinmarquest");
  EXPECT_EQ(advice_for(on_linux, library_kind::libftdi, 1000, false, "<rule>", true).fix,
            "install FTDI's D2XX library or, on Debian and Ubuntu, run apt install libftdi1-2; see "
            "man brevinmarquest");
  EXPECT_EQ(advice_for(system_kind::windows, vendor, 3, false, "<rule>", false).fix,
            "close that program, or unplug the device and plug it in again; see the README");
  EXPECT_EQ(advice_for(on_linux, vendor, 4, false, "<rule>", false).fix, "");
}

}  // namespace
}  // namespace brevinmarquest::platform
