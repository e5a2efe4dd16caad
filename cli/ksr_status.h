#pragma once
// ksr's exit statuses. With several files, the first file that did not
// succeed gives the status.

enum KsrStatus : int {
    kKsrDone = 0,
    kKsrFailed = 1,   // the engine failed; its message was printed
    kKsrUsage = 2,    // nothing was touched
    kKsrBadData = 3,  // wrong password, other strength, or damaged container
    kKsrDeclined = 4, // a target existed and was not overwritten
    // The reader of standard output went away (128 + SIGPIPE, as a shell shows
    // a process that SIGPIPE ended); nothing is left behind.
    kKsrReaderGone = 141,
};
