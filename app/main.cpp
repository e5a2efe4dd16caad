#include "secure_memory.h"
#include "startup.h"

int main(int argc, char** argv) {
    plat::ProtectProcessSecrets();
    return RunKeshlor(argc, argv);
}
