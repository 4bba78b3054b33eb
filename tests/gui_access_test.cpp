// The window's start-up when the unit is plugged in but may not be opened.
#include <cerrno>

#include "gui_window.h"

using namespace gui_test;

TEST_F(WindowTest, RefusedUnitNamesTheCauseInTheStatusBarAndStaysUnloaded) {
    sim::unit().setOpenError(EACCES);
    StatusRecorder recorder;
    open();
#if defined(_WIN32)
    const QString remedy = "close any other program that may hold it, then replug the unit";
#else
    const QString remedy = "install the efis-config package or its udev rule, then replug the unit";
#endif
    EXPECT_EQ(recorder.messages,
              QStringList({"Initializing...",
                           "No permission to open the EFIS (sim:efis-display-unit) - " + remedy}));
    EXPECT_EQ(logTexts(startup.log),
              std::vector<std::string>{"Failed to establish connection via USB HID or CAN FD"});
    EXPECT_NE(startup.out.find("Failed to connect via both USB HID and CAN FD\n"
                               "USB HID device sim:efis-display-unit cannot be opened: "
                               "permission denied."),
              std::string::npos);
    EXPECT_TRUE(sim::unit().received().empty());
}
