#include "cli/ksr_main.h"
#include "platform/interrupts.h"
#include "platform/secure_memory.h"

int main(int argc, char* argv[]) {
    plat::ProtectProcessSecrets();
    // A stop request lets the run remove what it created before the process ends.
    plat::InstallInterruptHandlers();
    // File names are bytes: they go to the run as they came.
    QList<QByteArray> args;
    for (int i = 1; i < argc; ++i)
        args.append(QByteArray(argv[i]));
    return RunKsr(args, ProcessConsole());
}
