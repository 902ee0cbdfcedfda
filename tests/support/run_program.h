#pragma once

// What the tests that run the programs share: a shell command's exit status and output,
// and a fresh folder per test (ctest runs tests at the same time).

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

namespace kestrova::test {

struct ShellResult {
  int status = -1;
  std::string out;  // standard output, and standard error unless it was sent elsewhere
};

// Runs command through the shell; standard error joins the output unless the command
// redirects it itself.
inline ShellResult RunShell(const std::string& command, bool withErrors = true) {
  ShellResult r;
  FILE* pipe = ::popen((command + (withErrors ? " 2>&1" : "")).c_str(), "r");
  if (!pipe) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0)
    r.out.append(buf.data(), n);
  const int status = ::pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// A test with a folder of its own, named after the test and the process (two builds'
// tests may run at once), removed afterwards.
class FolderTest : public ::testing::Test {
 protected:
  explicit FolderTest(std::string prefix) : prefix_(std::move(prefix)) {}
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           (prefix_ + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
            std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  std::filesystem::path dir_;

 private:
  std::string prefix_;
};

}  // namespace kestrova::test
