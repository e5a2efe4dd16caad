#include "cli/ksr_main.h"
#include "platform/interrupts.h"
#include "platform/secure_memory.h"

#include <csignal>

int main(int argc, char* argv[]) {
    plat::ProtectProcessSecrets();
    // A stop request lets the run remove what it created before the process ends.
    plat::InstallInterruptHandlers();
    // A reader that goes away (ksr decrypt - | head) is a failed write to
    // report, not a death that would leave temporary files behind.
    signal(SIGPIPE, SIG_IGN);
    // File names are bytes: they go to the run as they came.
    QList<QByteArray> args;
    for (int i = 1; i < argc; ++i)
        args.append(QByteArray(argv[i]));
    return RunKsr(args, ProcessConsole());
}
