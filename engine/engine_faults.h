#pragma once
// Narrow seams for tests to make the engine's allocations and zlib set-up fail.
#include <cstddef>

namespace engine_faults {
// The nth engine allocation from now fails (1 = the next one); 0 turns it off.
void FailAllocation(int nth);
// deflateInit and inflateInit fail as zlib does on a version mismatch.
void FailZlibInit(bool on);
void Clear();
} // namespace engine_faults

// Heap memory for the engine's buffers and stream objects; null on failure.
void* EngineAllocate(size_t size);
// Zeroes before freeing: the buffers held plain data or key material.
void EngineFree(void* memory, size_t size);
// The zlib version string to initialise with (a wrong one while init faults are on).
const char* ZlibVersionForInit();
