#include "commands/waiting_light.h"

#include <algorithm>
#include <limits>

namespace {

LedDevicePort& Port() {
    static LedDevicePort port;
    return port;
}

bool HasLeds() {
    uint32_t count = 0;
    return Port().countLeds && Port().countLeds(&count);
}

} // namespace

void SetLedDevicePort(LedDevicePort port) {
    Port() = std::move(port);
}

bool StartWaitingLight(LedSettings* saved) {
    *saved = {};
    if (!HasLeds())
        return false;
    LedDevicePort& port = Port();
    if (!port.readSettings || !port.writeSettings || !port.readSettings(0, saved)) {
        *saved = {};
        return false;
    }
    int32_t cycleAdjust = 0;
    if (port.readCycleAdjust)
        port.readCycleAdjust(0, &cycleAdjust);
    // A cycle unit under half a second is not used; such LEDs blink on five seconds.
    int32_t unit = cycleAdjust >= 500000 ? cycleAdjust : 5000000;
    // The whole cycle is sixteen units and must stay a valid time.
    unit = std::min(unit, std::numeric_limits<int32_t>::max() / 16);
    LedSettings blink;
    blink.ledNum = 0;
    blink.offOnBlink = kLedBlink;
    blink.totalCycleTime = 16 * unit;
    blink.onTime = unit;
    blink.offTime = 7 * unit;
    port.writeSettings(blink);
    return true;
}

void RestoreWaitingLight(const LedSettings& saved) {
    if (HasLeds() && Port().writeSettings)
        Port().writeSettings(saved);
}
