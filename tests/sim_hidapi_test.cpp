// The simulator's hidapi functions: the device list, opening, handles and reads.
#include <gtest/gtest.h>

#include <cstring>

#include "sim_link.h"

TEST(SimHidapi, EnumerationFiltersAndIsFreedCompletely) {
    sim::reset();
    sim::EnumEntry keyboard{::vendor_id, ::product_id, 0x0001, "keyboard", false};
    sim::EnumEntry other{0x1234, 0x5678, COMMS_VENDOR_USAGE_PAGE, "other-product", false};
    auto &list = sim::unit().enumeration();
    list.insert(list.begin(), {keyboard, other});

    hid_device_info *all = hid_enumerate(0, 0); // 0 matches any identifier
    std::vector<std::string> paths;
    for (hid_device_info *d = all; d != nullptr; d = d->next) {
        paths.push_back(d->path);
    }
    EXPECT_EQ(paths, (std::vector<std::string>{"keyboard", "other-product", list[2].path}));
    hid_free_enumeration(all);

    hid_device_info *unit = hid_enumerate(::vendor_id, ::product_id);
    ASSERT_NE(unit, nullptr);
    ASSERT_NE(unit->next, nullptr);
    const hid_device_info *u = unit->next;
    EXPECT_EQ(u->usage_page, COMMS_VENDOR_USAGE_PAGE);
    EXPECT_EQ(u->vendor_id, ::vendor_id);
    EXPECT_EQ(u->product_id, ::product_id);
    EXPECT_EQ(u->serial_number, nullptr);
    EXPECT_EQ(u->next, nullptr);
    EXPECT_NE(u->path, list[2].path.c_str()); // a copy of its own
    hid_free_enumeration(unit);
    hid_free_enumeration(nullptr);

    EXPECT_EQ(hid_enumerate(0x1234, 0x0001), nullptr);
    EXPECT_EQ(sim::hidCalls().enumerate, 2);
    EXPECT_EQ(sim::hidCalls().free_enumeration, 2);
}

TEST(SimHidapi, OpeningAndClosing) {
    sim::reset();
    sim::unit().enumeration().push_back({0x1234, 0x5678, 0x0001, "mouse", false});
    const std::string unit_path = sim::unit().enumeration().front().path;
    EXPECT_EQ(hid_open_path("not-listed"), nullptr);
    EXPECT_EQ(hid_open_path(nullptr), nullptr);

    // Another interface takes reports and answers nothing; the unit is not reached.
    hid_device *mouse = hid_open_path("mouse");
    ASSERT_NE(mouse, nullptr);
    const Bytes whoami = outputReport(CANMSG_WHOAMI, {0xEF, 0x15});
    EXPECT_EQ(hid_write(mouse, whoami.data(), whoami.size()), 8);
    unsigned char buf[128];
    EXPECT_EQ(hid_read_timeout(mouse, buf, sizeof(buf), 1000), 0);
    EXPECT_TRUE(sim::unit().outputReports().empty());
    hid_close(mouse);
    hid_close(mouse); // no longer open: ignored
    EXPECT_EQ(hid_write(mouse, whoami.data(), whoami.size()), -1);

    sim::unit().setOpenFails(true);
    EXPECT_EQ(hid_open_path(unit_path.c_str()), nullptr);
    sim::unit().setOpenFails(false);
    hid_device *dev = hid_open_path(unit_path.c_str());
    EXPECT_NE(dev, nullptr);
    hid_close(dev);
    EXPECT_EQ(sim::hidCalls().open, 2);
    EXPECT_EQ(sim::hidCalls().close, 2);
    EXPECT_EQ(hid_init(), 0);
    EXPECT_EQ(hid_exit(), 0);
    EXPECT_EQ(sim::hidCalls().init, 1);
    EXPECT_EQ(sim::hidCalls().exit, 1);
}

TEST(SimHidapi, ReadsNeverWaitAndKeepTheOrder) {
    Link link;
    EXPECT_EQ(sim::unit().lastReadTimeout(), -2); // nothing read yet
    EXPECT_EQ(link.read(), "");
    EXPECT_EQ(sim::unit().lastReadTimeout(), 1000);

    sim::unit().injectInputReport({5, 0, 0x56, 2, 0, 0, 5, 0xAA, 0, 0, 0, 0});
    link.send(CANMSG_WHOAMI, {0xEF, 0x15});
    EXPECT_EQ(sim::unit().pendingReports(), 2u);
    unsigned char buf[9];
    std::memset(buf, 0, sizeof(buf));
    EXPECT_EQ(hid_read_timeout(link.dev, buf, sizeof(buf), 0), 9); // cut to the buffer
    EXPECT_EQ(hex(buf, 9), "05 00 56 02 00 00 05 AA 00");
    EXPECT_EQ(sim::unit().lastReadTimeout(), 0);
    EXPECT_EQ(link.read(), "05 00 23 01 00 00 08 EF 15 00 00 12 34 56 78");
    EXPECT_EQ(hid_read_timeout(link.dev, nullptr, 1, 0), -1);
}
