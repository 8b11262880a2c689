#include "platform/open_advice.h"

#include <gtest/gtest.h>

#include <utility>

namespace brevinmarquest::platform {
namespace {

constexpr system_kind systems[] = {system_kind::linux_system, system_kind::macos,
                                   system_kind::windows};
constexpr library_kind kinds[] = {library_kind::vendor, library_kind::libftdi};
const udev_rule rule{udev_rule::place::source_tree, "/rule"};  // NOLINT(cert-err58-cpp)

// Only Linux's advice reaches a transcript test, so the other systems' rows are checked here.
TEST(OpenAdvice, EverySystemAndLibraryHasAFixForTheCommonFailuresThatPointsFurther) {
  for (const system_kind system : systems) {
    for (const library_kind kind : kinds) {
      for (const DeviceStatus status :
           {device_status::device_not_found, device_status::device_not_opened,
            device_status::no_driver_library}) {
        const std::string fix = advice_for(system, kind, status, rule).fix;
        const char* further =
            system == system_kind::windows ? "see the README" : "see man brevinmarquest";
        EXPECT_NE(fix.find(further), std::string::npos) << fix;
        EXPECT_LE(fix.size(), 150u) << fix;
        // Listing needs no permission, so a device libftdi does not list is no matter of the rule.
        const bool names_rule =
            system == system_kind::linux_system && status != device_status::no_driver_library &&
            !(kind == library_kind::libftdi && status == device_status::device_not_found);
        EXPECT_EQ(fix.find("/rule") != std::string::npos, names_rule) << fix;
      }
    }
  }
  EXPECT_EQ(
      advice_for(system_kind::linux_system, library_kind::vendor, device_status::io_error, rule)
          .fix,
      "");
}

// The step for the rule follows from where this copy of the tool found it.
TEST(OpenAdvice, TheRuleStepSaysWhatIsLeftToDoWhereverTheRuleLies) {
  const std::pair<udev_rule::place, const char*> cases[] = {
      {udev_rule::place::source_tree, "install the udev rule /rule from the source tree"},
      {udev_rule::place::read_by_udev, "join the plugdev group (the udev rule /rule lets it in)"},
      {udev_rule::place::unread_prefix,
       "copy the udev rule /rule into /etc/udev/rules.d, where udev reads it, and join the "
       "plugdev group"},
  };
  for (const auto& [where, step] : cases) {
    EXPECT_NE(advice_for(system_kind::linux_system, library_kind::libftdi,
                         device_status::device_not_opened, {where, "/rule"})
                  .fix.find(step),
              std::string::npos)
        << step;
  }
}

TEST(OpenAdvice, AMissingLibraryNamesThePackageToInstallOnEachSystem) {
  const auto fix = [](system_kind system) {
    return advice_for(system, library_kind::vendor, device_status::no_driver_library, {}).fix;
  };
  EXPECT_NE(fix(system_kind::linux_system).find("apt install libftdi1-2"), std::string::npos);
  EXPECT_NE(fix(system_kind::macos).find("brew install libftdi"), std::string::npos);
  EXPECT_NE(fix(system_kind::macos).find("DYLD_FALLBACK_LIBRARY_PATH=/opt/homebrew/lib"),
            std::string::npos);
  EXPECT_NE(fix(system_kind::windows).find("FTDI's D2XX driver package"), std::string::npos);
}

}  // namespace
}  // namespace brevinmarquest::platform
