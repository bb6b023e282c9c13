// Runs a built filter as a process through the shell, with standard input
// from a file (or closed) and standard output to a file.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace zov::filters::testing {

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

struct FilterRun {
    int exitStatus = -1;
    std::string output;
};

// redirection is the shell's input part, for example "< file" or "<&-".
inline FilterRun runFilter(const std::string& program, const std::string& redirection,
                           const std::string& outputName) {
    const std::filesystem::path output = std::filesystem::path(WORK_DIR) / outputName;
    const std::string command = "'" + program + "' " + redirection + " > '" + output.string() + "'";
    const int status = std::system(command.c_str());
    FilterRun run;
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.output = readFile(output);
    return run;
}

inline FilterRun runFilterOn(const std::string& program, const std::string& input,
                             const std::string& name) {
    const std::filesystem::path inputPath = std::filesystem::path(WORK_DIR) / (name + ".input");
    writeFile(inputPath, input);
    return runFilter(program, "< '" + inputPath.string() + "'", name + ".output");
}

}  // namespace zov::filters::testing
