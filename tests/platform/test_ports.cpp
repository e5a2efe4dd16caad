// The ports are process globals that a run on another thread reads while it
// lasts: setting one meanwhile is a fault that debug builds stop at.
#include "platform/ports.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

TEST(Ports, NoneIsSetWhileARunReadsThem) {
    {
        const plat::RunReadsPorts reading;
        EXPECT_TRUE(plat::PortsReadByRun());
    }
    EXPECT_FALSE(plat::PortsReadByRun());
    plat::SetProgressPort({}); // between runs, as ever
#ifdef QT_NO_DEBUG
    GTEST_SKIP() << "checked in debug builds";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::function<void()> faults[] = {
        [] { plat::SetMessageBoxPort({}); },      [] { plat::SetOptionPort({}); },
        [] { plat::SetCursorPort({}); },          [] { plat::SetProgressPort({}); },
        [] { const plat::RunReadsPorts second; },
    };
    for (const std::function<void()>& fault : faults) {
        EXPECT_DEATH(
            {
                const plat::RunReadsPorts reading;
                fault();
            },
            "while a run on another thread reads the ports|a second run reads the ports");
    }
#endif
}

} // namespace
