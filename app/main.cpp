#include "startup.h"

int main(int argc, char** argv) {
    return RunKeshlor(argc, argv);
}
