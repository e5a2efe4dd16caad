#include "browser/browser_state.h"

#include "browser/list_marks.h"

BrowserState& Browser() {
    static BrowserState state;
    return state;
}

void ReleaseBrowser() {
    Browser() = BrowserState();
    ReleaseRowIcons();
}
