#pragma once
// Notification LED 0 blinks while a password dialog waits for the user. A
// desktop has no LED device: its device-information query fails and nothing
// happens, which is also how a handheld without LEDs behaves.
#include <cstdint>
#include <functional>

// One LED's settings (times in microseconds), as the LED driver keeps them.
struct LedSettings {
    uint32_t ledNum = 0;
    int32_t offOnBlink = 0; // 0 off, 1 on, 2 blink
    int32_t totalCycleTime = 0;
    int32_t onTime = 0;
    int32_t offTime = 0;
    int32_t metaCycleOn = 0;
    int32_t metaCycleOff = 0;
};

inline constexpr int32_t kLedBlink = 2;

// The LED driver. Every call answers true on success.
struct LedDevicePort {
    std::function<bool(uint32_t* count)> countLeds;
    std::function<bool(uint32_t led, LedSettings* settings)> readSettings;
    // The LED's cycle adjustment: the unit its blink times are made of.
    std::function<bool(uint32_t led, int32_t* cycleAdjust)> readCycleAdjust;
    std::function<bool(const LedSettings& settings)> writeSettings;
};

// Installs a driver; an empty port means no LED device.
void SetLedDevicePort(LedDevicePort port);

// Saves LED 0's settings in `saved` and sets it blinking. False when nothing
// was changed (no device, or its settings could not be read, so they could
// not be put back).
bool StartWaitingLight(LedSettings* saved);
// Puts back what StartWaitingLight saved.
void RestoreWaitingLight(const LedSettings& saved);
