#include "engine/engine_faults.h"

#include "platform/secure_memory.h"

#include <zlib.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>
#include <utility>

namespace {
int g_allocationsUntilFailure = 0;
bool g_zlibInitFails = false;
std::function<void(const void*, size_t)> g_releaseWatcher;
engine_faults::Stages g_stages = engine_faults::Stages::Automatic;
bool g_stageThreadFails = false;
std::atomic<int> g_fillsUntilThrow{0}; // counted down on the stage thread
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
void ForceStages(Stages stages) {
    g_stages = stages;
}
void FailStageThread(bool on) {
    g_stageThreadFails = on;
}
void ThrowWhileFilling(int nth) {
    g_fillsUntilThrow = nth;
}
void Clear() {
    g_fillsUntilThrow = 0;
    g_stages = Stages::Automatic;
    g_stageThreadFails = false;
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

bool UsePipelinedStages() {
    if (g_stages != engine_faults::Stages::Automatic)
        return g_stages == engine_faults::Stages::Pipelined;
    if (const char* forced = std::getenv("KESHLOR_ENGINE_STAGES")) {
        if (std::strcmp(forced, "pipelined") == 0)
            return true;
        if (std::strcmp(forced, "single") == 0)
            return false;
    }
    // One processor would only take turns between the stages.
    return std::thread::hardware_concurrency() > 1;
}

bool StageThreadAllowed() {
    return !g_stageThreadFails;
}

void StageFillFault() {
    if (g_fillsUntilThrow.load(std::memory_order_relaxed) > 0 && --g_fillsUntilThrow == 0)
        throw std::bad_alloc();
}
