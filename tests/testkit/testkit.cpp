#include "tests/testkit/testkit.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

#include "platform/environment.h"
#include "platform/path_text.h"
#include "platform/shell_command.h"
#include "tests/testkit/sha256.h"

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
    SetEnv("SORVANE_DATA_DIR", dir_.Path());
}

ScopedDataDir::~ScopedDataDir() {
    if (hadPrevious_)
        SetEnv("SORVANE_DATA_DIR", previous_);
    else
        UnsetEnv("SORVANE_DATA_DIR");
}

std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

int RunCommand(const std::string& command, std::string* output) { return RunShellCommand(command, output); }

std::string FileSha256(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "";
    Sha256 hash;
    std::vector<char> chunk(1 << 20);
    while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        hash.Update(chunk.data(), static_cast<size_t>(in.gcount()));
    }
    if (in.bad()) return "";
    return hash.HexDigest();
}

std::map<std::string, std::string> FileShasBelow(const std::filesystem::path& folder) {
    std::map<std::string, std::string> files;
    if (!std::filesystem::exists(folder)) return files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files[std::filesystem::relative(entry.path(), folder).string()] = FileSha256(entry.path());
    return files;
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
    std::filesystem::path dir =
        std::filesystem::path(SORVANE_SOURCE_DIR) / ".." / "shared" / "testdata" / "real";
    std::error_code ec;
    return std::filesystem::is_directory(dir, ec) ? std::filesystem::canonical(dir, ec)
                                                  : std::filesystem::path();
}

std::string GenericUtf8(const std::filesystem::path& path) {
    std::string text;
    for (const auto& part : path) {
        if (!text.empty()) text += '/';
        text += Utf8FromPath(part);
    }
    return text;
}

void SetEnv(const std::string& name, const std::filesystem::path& value) {
    SetEnvironmentValue(name, Utf8FromPath(value));
}

void UnsetEnv(const std::string& name) { RemoveEnvironmentValue(name); }

bool MakeLink(const std::filesystem::path& target, const std::filesystem::path& link) {
    std::error_code ec;
    if (std::filesystem::is_directory(target, ec))
        std::filesystem::create_directory_symlink(target, link, ec);
    else
        std::filesystem::create_symlink(target, link, ec);
    return !ec;
}

bool HaveProgram(const std::string& name) { return ProgramOnPath(name); }

}  // namespace sorvane::testkit
