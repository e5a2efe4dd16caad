#include "ksr_main.h"
#include "secure_memory.h"

#include <QFile>

int main(int argc, char* argv[]) {
    plat::ProtectProcessSecrets();
    // Arguments are file names first of all: decode them as the file system does.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QFile::decodeName(argv[i]));
    return RunKsr(args, ProcessConsole());
}
