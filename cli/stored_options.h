#pragma once
// The options of the engine as ksr runs it.

struct EngineOptions {
    bool high = true;
    bool fast = true;
    bool hide = true;
    bool wipe = true;
};

// The options Keshlor would start with: the values it saved in its settings
// store, or its defaults where none are saved. Reads only.
EngineOptions StoredEngineOptions();
