#include "engine_faults.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>

namespace {
int g_allocationsUntilFailure = 0;
bool g_zlibInitFails = false;
} // namespace

namespace engine_faults {
void FailAllocation(int nth) {
    g_allocationsUntilFailure = nth;
}
void FailZlibInit(bool on) {
    g_zlibInitFails = on;
}
void Clear() {
    g_allocationsUntilFailure = 0;
    g_zlibInitFails = false;
}
} // namespace engine_faults

void* EngineAllocate(size_t size) {
    if (g_allocationsUntilFailure > 0 && --g_allocationsUntilFailure == 0)
        return nullptr;
    return std::calloc(1, size);
}

void EngineFree(void* memory, size_t size) {
    if (!memory)
        return;
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(memory);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = 0;
    std::free(memory);
}

const char* ZlibVersionForInit() {
    return g_zlibInitFails ? "0.0" : ZLIB_VERSION;
}
