#include "app/startup.h"
#include "platform/secure_memory.h"

int main(int argc, char** argv) {
    plat::ProtectProcessSecrets();
    return RunKeshlor(argc, argv);
}
