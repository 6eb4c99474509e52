// Feeds every file of the given corpus directories (or files) to a fuzz target, one by
// one, without libFuzzer: the regression run of the corpora in the ordinary test suite.
// With no argument it replays the target's own corpus.
#include "fuzztarget.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        args.push_back(FUZZ_CORPUS_DIR);

    std::vector<fs::path> inputs;
    for (const std::string& arg : args) {
        std::error_code error;
        if (fs::is_directory(arg, error)) {
            for (const fs::directory_entry& entry : fs::directory_iterator(arg, error)) {
                if (entry.is_regular_file())
                    inputs.push_back(entry.path());
            }
        } else if (fs::is_regular_file(arg, error)) {
            inputs.push_back(arg);
        } else {
            fprintf(stderr, "replay: no such corpus file or directory: %s\n", arg.c_str());
            return 1;
        }
    }
    if (inputs.empty()) {
        fprintf(stderr, "replay: no input to replay\n");
        return 1;
    }
    std::sort(inputs.begin(), inputs.end());

    for (const fs::path& path : inputs) {
        std::ifstream file(path, std::ios::binary);
        const std::vector<char> bytes(
            (std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (!file.good() && !file.eof()) {
            fprintf(stderr, "replay: cannot read %s\n", path.c_str());
            return 1;
        }
        // A block of exactly the input's size, as libFuzzer passes it, so that a sanitizer
        // build catches a read past the end.
        std::unique_ptr<uint8_t[]> data(new uint8_t[bytes.size()]);
        std::copy(bytes.begin(), bytes.end(), data.get());
        fprintf(stderr, "replay: %s (%zu bytes)\n", path.filename().c_str(), bytes.size());
        LLVMFuzzerTestOneInput(data.get(), bytes.size());
    }
    fprintf(stderr, "replay: %zu inputs, no failure\n", inputs.size());
    return 0;
}
