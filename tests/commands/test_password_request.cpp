// The password buffer's rules, the placing rule of the password dialogs and
// the waiting light, without widgets.
#include "commands/password_dialogs.h"
#include "commands/password_request.h"
#include "commands/waiting_light.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

TEST(PasswordBuffer, MarkedEmptyPasswordAndNoRemnantOfTheFormerOne) {
    PasswordRequest request;
    EXPECT_FALSE(IsPasswordStored(request));
    StorePassword(&request, u"");
    EXPECT_TRUE(IsPasswordStored(request));
    EXPECT_EQ(request.password[1], kEmptyPasswordMark);
    EXPECT_TRUE(PasswordText(request).isEmpty());

    StorePassword(&request, u"a rather long former password");
    StorePassword(&request, u"ab");
    EXPECT_EQ(PasswordText(request), QStringLiteral("ab"));
    for (int i = 2; i < kPasswordCapacity; ++i)
        ASSERT_EQ(request.password[i], u'\0') << "unit " << i;

    StorePassword(&request, QString(kPasswordCapacity + 10, QLatin1Char('k')));
    EXPECT_EQ(PasswordText(request).size(), kPasswordCapacity - 1);
    // A buffer that lost its terminator is read to its end and no further.
    std::fill_n(request.password, kPasswordCapacity, u'z');
    EXPECT_EQ(PasswordText(request).size(), kPasswordCapacity);
}

// Left minus right gap and top minus bottom gap of a window in an area.
QPoint Imbalance(const QRect& area, const QPoint& at, const QSize& size) {
    const QRect window(at, size);
    return {(window.left() - area.left()) - (area.right() - window.right()),
            (window.top() - area.top()) - (area.bottom() - window.bottom())};
}

TEST(Placing, CentredFirstThenKeptAtItsHeightWhileItFits) {
    const QPoint origin(0, 0);
    const QSize size(241, 97);
    const QRect panelDown(0, 26, 480, 614);
    const QRect panelUp(0, 26, 480, 294);
    for (const QRect& visible : {panelDown, panelUp}) {
        const QPoint at = PlaceInVisibleArea(QRect(QPoint(300, 500), size), visible, origin, false);
        const QPoint off = Imbalance(visible, at, size);
        EXPECT_LE(std::abs(off.x()), 2);
        EXPECT_LE(std::abs(off.y()), 2);
    }
    // The panel goes down: the window stays at its height.
    EXPECT_EQ(PlaceInVisibleArea(QRect(QPoint(7, 120), size), panelDown, origin, true).y(), 120);
    // The panel comes up over it, or it sits above the area: centred again.
    for (const int top : {250, 10}) {
        const QPoint at = PlaceInVisibleArea(QRect(QPoint(0, top), size), panelUp, origin, true);
        EXPECT_LE(std::abs(Imbalance(panelUp, at, size).y()), 2) << "top " << top;
    }
}

TEST(Placing, StaysOnItsScreenWhereverThatScreenIs) {
    const QRect left(-1280, -100, 1280, 1024);
    const QSize size(300, 120);
    const QPoint at = PlaceInVisibleArea(QRect(QPoint(0, 0), size), left, left.topLeft(), false);
    EXPECT_TRUE(left.contains(QRect(at, size)));
    EXPECT_LE(std::abs(Imbalance(left, at, size).x()), 2);

    // Too large for the visible area: to the screen's own corner.
    const QRect screen(1920, -300, 800, 600);
    const QRect visible(1920, -300, 800, 560);
    EXPECT_EQ(PlaceInVisibleArea(QRect(0, 0, 900, 700), visible, screen.topLeft(), false),
              screen.topLeft());
}

// An LED driver with one LED, whose settings read back what was written.
struct FakeLed {
    explicit FakeLed(int32_t cycleAdjust, bool readable = true) {
        current.offOnBlink = 1;
        SetLedDevicePort({[](uint32_t* count) {
                              *count = 1;
                              return true;
                          },
                          [this, readable](uint32_t, LedSettings* settings) {
                              *settings = current;
                              return readable;
                          },
                          [cycleAdjust](uint32_t, int32_t* adjust) {
                              *adjust = cycleAdjust;
                              return true;
                          },
                          [this](const LedSettings& settings) {
                              current = settings;
                              ++writes;
                              return true;
                          }});
    }
    ~FakeLed() { SetLedDevicePort({}); }
    LedSettings current;
    int writes = 0;
};

TEST(WaitingLight, BlinksOnTheCycleUnitAndPutsBackTheFormerSettings) {
    for (const auto& [adjust, unit] : std::vector<std::pair<int32_t, int32_t>>{
             {800000, 800000}, {499999, 5000000}, {1000000000, INT32_MAX / 16}}) {
        FakeLed led(adjust);
        LedSettings saved;
        ASSERT_TRUE(StartWaitingLight(&saved));
        EXPECT_EQ(led.current.offOnBlink, kLedBlink);
        EXPECT_EQ(led.current.onTime, unit) << "adjustment " << adjust;
        EXPECT_EQ(led.current.offTime, 7 * unit);
        EXPECT_EQ(led.current.totalCycleTime, 16 * unit);
        RestoreWaitingLight(saved);
        EXPECT_EQ(led.current.offOnBlink, 1);
    }
}

TEST(WaitingLight, NoDeviceOrUnreadableSettingsLeaveTheLedAlone) {
    LedSettings saved;
    saved.offOnBlink = 9;
    EXPECT_FALSE(StartWaitingLight(&saved));
    EXPECT_EQ(saved.offOnBlink, 0);

    // Settings that cannot be read could not be put back either.
    FakeLed led(800000, false);
    EXPECT_FALSE(StartWaitingLight(&saved));
    EXPECT_EQ(led.writes, 0);
}

} // namespace
