#include "platform/open_advice.h"

#include <gtest/gtest.h>

namespace brevinmarquest::platform {
namespace {

constexpr system_kind systems[] = {system_kind::linux_system, system_kind::macos,
                                   system_kind::windows};
constexpr library_kind kinds[] = {library_kind::vendor, library_kind::libftdi};
const std::string rule = "see /rule";  // NOLINT(cert-err58-cpp)

// Only Linux's advice reaches a transcript test, so the other systems' rows are checked here.
TEST(OpenAdvice, EverySystemAndLibraryHasAFixForTheCommonFailuresThatPointsFurther) {
  for (const system_kind system : systems) {
    for (const library_kind kind : kinds) {
      for (const DeviceStatus status :
           {device_status::device_not_found, device_status::device_not_opened,
            device_status::no_driver_library}) {
        const std::string fix = advice_for(system, kind, status, rule, false).fix;
        const char* further =
            system == system_kind::windows ? "see the README" : "see man brevinmarquest";
        EXPECT_NE(fix.find(further), std::string::npos) << fix;
        EXPECT_LE(fix.size(), 150u) << fix;
        // Listing needs no permission, so a device libftdi does not list is no matter of the rule.
        const bool names_rule =
            system == system_kind::linux_system && status != device_status::no_driver_library &&
            (kind != library_kind::libftdi || status != device_status::device_not_found);
        EXPECT_EQ(fix.find("/rule") != std::string::npos, names_rule) << fix;
      }
    }
  }
  EXPECT_EQ(advice_for(system_kind::linux_system, library_kind::vendor, device_status::io_error,
                       rule, false)
                .fix,
            "");
}

// Words each fix must hold: the package to install on each system, sudo only for a user who is
// not root, and the step for the udev rule wherever the tool runs from.
TEST(OpenAdvice, EachFixNamesWhatToDo) {
  constexpr system_kind on_linux = system_kind::linux_system;
  const struct {
    system_kind system;
    DeviceStatus status;
    const char* program;
    const char* words;
  } cases[] = {
      {on_linux, 1000, "", "run sudo apt install libftdi1-2"},
      {system_kind::macos, 1000, "", "brew install libftdi"},
      {system_kind::windows, 1000, "", "FTDI's D2XX driver package"},
      {on_linux, 3, "/b/src/brevinmarquest", "install the udev rule udev/60-brevinmarquest.rules"},
      {on_linux, 3, "/home/u/bin/b/brevinmarquest", "rule udev/60-brevinmarquest.rules from the"},
      {on_linux, 3, "/usr/bin/brevinmarquest", "(the udev rule /usr/lib/udev/rules.d/60-"},
      {on_linux, 3, "/usr/local/bin/brevinmarquest", "(the udev rule /usr/local/lib/udev/rules.d/"},
      {on_linux, 3, "/bin/brevinmarquest", "rule /lib/udev/rules.d/60-brevinmarquest.rules lets"},
      {on_linux, 3, "/opt/b/bin/brevinmarquest", "copy the udev rule /opt/b/lib/udev/rules.d/60-"},
      // A tool copied into a bin folder without its rule.
      {on_linux, 3, "/copied/bin/brevinmarquest", "install the udev rule udev/60-brevinmarquest."},
  };
  const auto present = [](const std::string& path) { return path.rfind("/copied/", 0) != 0; };
  for (const auto& c : cases) {
    const std::string fix = advice_for(c.system, library_kind::libftdi, c.status,
                                       udev_rule_step(c.program, present), false)
                                .fix;
    EXPECT_NE(fix.find(c.words), std::string::npos) << fix;
  }
  const std::string to_root =
      advice_for(on_linux, library_kind::vendor, 2, udev_rule_step("", present), true).fix;
  EXPECT_NE(to_root.find(", run rmmod ftdi_sio"), std::string::npos) << to_root;
}

}  // namespace
}  // namespace brevinmarquest::platform
