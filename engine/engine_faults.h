#pragma once
// Narrow seams for tests: the engine's allocations and zlib set-up fail, and
// secrets are seen on their way back to the heap.
#include <cstddef>
#include <functional>

namespace engine_faults {
// The nth engine allocation from now fails (1 = the next one); 0 turns it off.
void FailAllocation(int nth);
// deflateInit and inflateInit fail as zlib does on a version mismatch.
void FailZlibInit(bool on);
// Shown the memory of each secret object and buffer after it was zeroed, just
// before it goes back to the heap; empty stops watching.
void WatchSecretRelease(std::function<void(const void* memory, size_t size)> watcher);
// How runs place their stages. Automatic follows KESHLOR_ENGINE_STAGES
// ("pipelined" or "single") when it is set, else the number of processors.
enum class Stages { Automatic, Pipelined, SingleThread };
void ForceStages(Stages stages);
// The stage thread of the next runs cannot be started.
void FailStageThread(bool on);
// Filling the nth piece from now (1 = the next) throws std::bad_alloc, on
// whichever thread fills it; 0 turns it off.
void ThrowWhileFilling(int nth);
void Clear();
} // namespace engine_faults

// Whether a run overlaps its stages on two threads.
bool UsePipelinedStages();
// Whether the stage thread may be started (false while its fault is on).
bool StageThreadAllowed();
// Throws std::bad_alloc when the piece about to be filled is the one
// ThrowWhileFilling named.
void StageFillFault();

// Heap memory for the engine's buffers and stream objects; null on failure.
void* EngineAllocate(size_t size);
// Zeroes memory that held plain data or key material before its owner frees it.
void EngineForget(void* memory, size_t size);
// EngineForget, then back to the heap.
void EngineFree(void* memory, size_t size);
// The zlib version string to initialise with (a wrong one while init faults are on).
const char* ZlibVersionForInit();
