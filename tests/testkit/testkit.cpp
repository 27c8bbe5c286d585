#include "tests/testkit/testkit.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace sorvane::testkit {

TempDir::TempDir() {
    std::random_device rd;
    std::filesystem::path base = std::filesystem::temp_directory_path();
    for (;;) {
        path_ = base / ("sorvane-test-" + std::to_string(rd()));
        std::error_code ec;
        if (std::filesystem::create_directory(path_, ec)) break;
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

ScopedDataDir::ScopedDataDir() {
    if (const char* old = std::getenv("SORVANE_DATA_DIR")) {
        previous_ = old;
        hadPrevious_ = true;
    }
    ::setenv("SORVANE_DATA_DIR", dir_.Path().c_str(), 1);
}

ScopedDataDir::~ScopedDataDir() {
    if (hadPrevious_) ::setenv("SORVANE_DATA_DIR", previous_.c_str(), 1);
    else ::unsetenv("SORVANE_DATA_DIR");
}

std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

int RunCommand(const std::string& command, std::string* output) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return -1;
    std::array<char, 4096> chunk{};
    size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        if (output) output->append(chunk.data(), n);
    int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string FileSha256(const std::filesystem::path& path) {
    std::string out;
    if (RunCommand("sha256sum " + ShellQuote(path.string()) + " 2>/dev/null", &out) != 0) return "";
    return out.substr(0, out.find(' '));
}

void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

std::filesystem::path RealImagesDir() {
    if (const char* env = std::getenv("SORVANE_REAL_IMAGES"); env && *env) return env;
    std::filesystem::path dir = std::filesystem::path(SORVANE_SOURCE_DIR) / ".." / "shared" / "testdata" / "real";
    std::error_code ec;
    return std::filesystem::is_directory(dir, ec) ? std::filesystem::canonical(dir, ec) : std::filesystem::path();
}

bool HaveProgram(const std::string& name) {
    return RunCommand("command -v " + ShellQuote(name) + " >/dev/null 2>&1") == 0;
}

}  // namespace sorvane::testkit
