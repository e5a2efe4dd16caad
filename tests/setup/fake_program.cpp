// The installed program in a per-user installation's tests: it holds the
// channel named on its command line, as a running Keshlor does, until it is
// asked to close.
#include "fake_copy.h"

#include <QFile>

#include <chrono>
#include <thread>

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    testing_setup::FakeCopy copy(QFile::decodeName(argv[1]), testing_setup::Behaviour::Closes);
    if (!copy.valid())
        return 3;
    while (copy.closeRequests() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return 0;
}
