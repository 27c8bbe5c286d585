// Shared helpers for tests: scratch folders, file hashes, running the real
// tools that make test images, and locating the public test images.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace sorvane::testkit {

// A fresh folder below the system temp folder, removed with everything in it
// when the object goes away.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// Points the per-user data folder (SORVANE_DATA_DIR: scan logs, previews,
// resume records) at a fresh temporary folder for the life of the object, and
// puts back what was set before, so no test reads another's scan logs.
class ScopedDataDir {
  public:
    ScopedDataDir();
    ~ScopedDataDir();
    ScopedDataDir(const ScopedDataDir&) = delete;
    ScopedDataDir& operator=(const ScopedDataDir&) = delete;
    const std::filesystem::path& Path() const { return dir_.Path(); }
    std::filesystem::path operator/(const std::string& name) const { return dir_ / name; }

  private:
    TempDir dir_;
    std::string previous_;
    bool hadPrevious_ = false;
};

// The same for a whole test program: scan logs go to a folder of the program,
// never to the user's own. Register with
// ::testing::AddGlobalTestEnvironment(new testkit::DataDirEnvironment).
class DataDirEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { dir_ = std::make_unique<ScopedDataDir>(); }
    void TearDown() override { dir_.reset(); }

  private:
    std::unique_ptr<ScopedDataDir> dir_;
};

// Runs a shell command; returns its exit status and, when asked, its standard output.
int RunCommand(const std::string& command, std::string* output = nullptr);
// Quotes a text for a POSIX shell.
std::string ShellQuote(const std::string& text);
// Lower-case hex SHA-256 of a file's contents ("" when it cannot be read).
std::string FileSha256(const std::filesystem::path& path);
// Every regular file below `folder`: its path relative to it -> its SHA-256
// (empty when the folder is not there).
std::map<std::string, std::string> FileShasBelow(const std::filesystem::path& folder);
// Writes bytes to a file, replacing it.
void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::filesystem::path& path);

// The folder of the public disk images made by other systems (../shared/testdata/real
// from the project root), or empty when it is not there.
std::filesystem::path RealImagesDir();
// A relative path as UTF-8 with '/' between its names, on every system.
std::string GenericUtf8(const std::filesystem::path& path);

// Sets or removes an environment variable (a folder as UTF-8 on every system).
void SetEnv(const std::string& name, const std::filesystem::path& value);
void UnsetEnv(const std::string& name);

// Makes a symbolic link; false when this system cannot (Wine, or Windows
// without the right), so that a test of how links are handled can skip.
bool MakeLink(const std::filesystem::path& target, const std::filesystem::path& link);

// True when a program is on PATH.
bool HaveProgram(const std::string& name);

}  // namespace sorvane::testkit
