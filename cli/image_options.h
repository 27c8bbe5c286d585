// The options of `sorvane image`, parsed from the command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sorvane::cli {

struct ImageOptions {
    bool haveStart = false, haveCount = false;
    uint64_t start = 0, count = 0;  // sectors within the source
    bool showProgress = false;
    bool force = false;
    bool keepGoing = false;
    std::string source;
    std::string output;
};

// Parses the arguments after "image". Returns -1 when they are fine, else the
// exit status (0 after --help, which has been printed).
int ParseImageOptions(const std::vector<std::string>& args, ImageOptions& options);
// Prints `problem` (when given) and the usage; returns the usage exit status.
int ImageUsage(const char* problem);

}  // namespace sorvane::cli
