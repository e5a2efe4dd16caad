#pragma once
// The options of the engine as ksr runs it.

struct EngineOptions {
    bool high = true;
    bool fast = true;
    bool hide = true;
    bool wipe = true;
};

// Which options took a value saved in the settings store rather than a default.
struct StoredValues {
    bool high = false;
    bool fast = false;
    bool hide = false;
    bool wipe = false;
};

// The options Keshlor would start with: the values it saved in its settings
// store, or its defaults where none are saved. Reads only.
EngineOptions StoredEngineOptions(StoredValues* stored = nullptr);
