#include "browser_state.h"

#include "list_marks.h"

BrowserState& Browser() {
    static BrowserState state;
    return state;
}

void ReleaseBrowser() {
    Browser() = BrowserState();
    ReleaseRowIcons();
}
