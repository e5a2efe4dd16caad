#include "cli/stored_options.h"

#include "engine/key_context.h"

#include <QSettings>

#include <cstdint>
#include <limits>

namespace {

// A stored value counts only when it reads as a 32-bit number; any nonzero one is on.
// `fromStore` tells whether the value was the store's.
bool StoredSwitch(const QSettings& settings, const char* name, bool fallback, bool* fromStore) {
    *fromStore = false;
    const QVariant value = settings.value(QLatin1String(name));
    if (!value.isValid())
        return fallback;
    bool number = false;
    const qlonglong stored = value.toLongLong(&number);
    if (!number || stored < std::numeric_limits<int32_t>::min() ||
        stored > std::numeric_limits<uint32_t>::max())
        return fallback;
    *fromStore = true;
    return stored != 0;
}

} // namespace

EngineOptions StoredEngineOptions(StoredValues* stored) {
    const QSettings settings(QStringLiteral("TQ"), QStringLiteral("Keshlor"));
    StoredValues from;
    EngineOptions options;
    options.fast = StoredSwitch(settings, "FastCompression", true, &from.fast);
    options.hide = StoredSwitch(settings, "HideEncrypted", true, &from.hide);
    // Without the stronger provider the program keeps the option off and never reads it.
    options.high =
        ProbeEnhancedProvider() && StoredSwitch(settings, "HighEncryption", true, &from.high);
    options.wipe = StoredSwitch(settings, "WipePlainFiles", true, &from.wipe);
    if (stored)
        *stored = from;
    return options;
}
