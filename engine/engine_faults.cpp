#include "engine/engine_faults.h"

#include "platform/secure_memory.h"

#include <zlib.h>

#include <cstdlib>
#include <utility>

namespace {
int g_allocationsUntilFailure = 0;
bool g_zlibInitFails = false;
std::function<void(const void*, size_t)> g_releaseWatcher;
} // namespace

namespace engine_faults {
void FailAllocation(int nth) {
    g_allocationsUntilFailure = nth;
}
void FailZlibInit(bool on) {
    g_zlibInitFails = on;
}
void WatchSecretRelease(std::function<void(const void* memory, size_t size)> watcher) {
    g_releaseWatcher = std::move(watcher);
}
void Clear() {
    g_allocationsUntilFailure = 0;
    g_zlibInitFails = false;
    g_releaseWatcher = nullptr;
}
} // namespace engine_faults

void* EngineAllocate(size_t size) {
    if (g_allocationsUntilFailure > 0 && --g_allocationsUntilFailure == 0)
        return nullptr;
    return std::calloc(1, size);
}

void EngineForget(void* memory, size_t size) {
    if (!memory)
        return;
    plat::SecureZero(memory, size);
    if (g_releaseWatcher)
        g_releaseWatcher(memory, size);
}

void EngineFree(void* memory, size_t size) {
    EngineForget(memory, size);
    std::free(memory);
}

const char* ZlibVersionForInit() {
    return g_zlibInitFails ? "0.0" : ZLIB_VERSION;
}
