#pragma once

// What the tests that run the programs share: a shell command's exit status and output,
// a fresh folder per test (ctest runs tests at the same time), a large site, a named
// pipe's writer and a run's peak memory.

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

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

// A site of points with 200-byte remarks and a parcel of four corners every ten points.
inline void WriteLargeSite(const std::string& path, int points, bool parcels = true) {
  std::ofstream out(path, std::ios::binary);
  const std::string remarks(200, 'r');
  out << "G00,01,large,\r\nA00,\r\n";
  for (int i = 1; i <= points; ++i) {
    out << "A01," << i << ",P" << i << "," << -12000 - (i / 1000) * 3.125 << ","
        << -30000 + (i % 1000) * 2.5 << ",1.5," << i % 9 << "," << remarks << ",\r\n";
  }
  out << "A99,\r\n";
  for (int p = 0; parcels && p < points / 10; ++p) {
    out << "D00," << p + 1 << ",L" << p + 1 << ",1,\r\n";
    for (int c = 1; c <= 4; ++c)
      out << "B01," << p * 10 + c << ",\r\n";
    out << "D99,\r\n";
  }
}

// Writes into the named pipe at fifo on a thread of its own, for a reader to come: write
// is handed the open stream. A reader gone early fails the write there rather than ending
// the tests (SIGPIPE is held back on that thread alone).
inline std::thread WriteFifo(const std::string& fifo, std::function<void(std::ostream&)> write) {
  return std::thread([fifo, write = std::move(write)] {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    std::ofstream out(fifo, std::ios::binary);
    write(out);
  });
}

// The peak resident memory in megabytes of the program args run with its output
// thrown away (and input, when given, the file at input), -1 when it did not exit with
// exitCode.
inline double PeakMegabytes(const std::vector<std::string>& args, const std::string& input = {},
                            int exitCode = 0) {
  std::vector<char*> argv;
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    if (!input.empty() && !std::freopen(input.c_str(), "r", stdin)) ::_exit(126);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != exitCode) return -1.0;
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

}  // namespace kestrova::test
