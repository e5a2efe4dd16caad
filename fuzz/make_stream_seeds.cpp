// Seeds for fuzz_decrypt_stream: every plain file of the known-answer vectors
// deflated at levels 1 and 9, as the encrypt pipeline would, once per strength
// and way of ending the container, so that the first runs already reach the
// ends of pieces.
//
//   make_stream_seeds PLAIN_FOLDER SEED_FOLDER
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

constexpr unsigned char kEndings = 5; // fuzz_decrypt_stream's Ending

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_stream_seeds PLAIN_FOLDER SEED_FOLDER\n");
        return 2;
    }
    const fs::path seeds = argv[2];
    fs::create_directories(seeds);
    for (const fs::directory_entry& entry : fs::directory_iterator(argv[1])) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<unsigned char> plain{std::istreambuf_iterator<char>(in), {}};
        for (const int level : {1, 9}) {
            std::vector<unsigned char> stream(compressBound(plain.size()));
            uLongf length = stream.size();
            if (compress2(stream.data(), &length, plain.data(), plain.size(), level) != Z_OK) {
                std::fprintf(stderr, "cannot deflate %s\n", entry.path().c_str());
                return 1;
            }
            for (unsigned char control = 0; control < 2 * kEndings; ++control) {
                const std::string name = entry.path().filename().string() + "-L" +
                                         std::to_string(level) + "-" + std::to_string(control);
                std::ofstream out(seeds / name, std::ios::binary | std::ios::trunc);
                // The parameter 1 puts an OnPiece container exactly on a piece's end.
                const unsigned char header[2] = {control, 1};
                out.write(reinterpret_cast<const char*>(header), sizeof header);
                out.write(reinterpret_cast<const char*>(stream.data()),
                          static_cast<std::streamsize>(length));
                if (!out.flush()) {
                    std::fprintf(stderr, "cannot write %s\n", (seeds / name).c_str());
                    return 1;
                }
            }
        }
    }
    return 0;
}
