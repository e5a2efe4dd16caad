#pragma once
// Waiting for what the event loop brings, with QtCore alone.
#include <functional>

// Waits, processing events and deferred deletions, until `done` holds.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 3000);
