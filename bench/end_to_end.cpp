// The whole road from a SIMA file of N points (default 1,000,000, with 100,000
// parcels; every label on) to a .jww at version 420, through kestrova-cli convert as a
// user runs it. Prints the wall time and the peak memory of that process.
//
//   kestrova_end_to_end path/to/kestrova-cli [points]

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/generate.h"

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s KESTROVA_CLI [POINTS]\n", argv[0]);
    return 2;
  }
  const int points = argc > 2 ? std::atoi(argv[2]) : 1'000'000;
  const std::string sima = kestrova::bench::GeneratedSima(points).string();
  const std::string out = (std::filesystem::temp_directory_path() / "kestrova-e2e.jww").string();
  const char* args[] = {argv[1], "convert", sima.c_str(), "-o", out.c_str(), nullptr};

  const auto start = std::chrono::steady_clock::now();
  pid_t pid;
  if (posix_spawn(&pid, argv[1], nullptr, nullptr, const_cast<char* const*>(args), environ) != 0) {
    std::perror("posix_spawn");
    return 1;
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "convert failed\n");
    return 1;
  }
  std::printf(
      "points: %d\nsima bytes: %ju\njww bytes: %ju\nwall time: %.2f s\npeak memory: %.0f MB\n",
      points, static_cast<uintmax_t>(std::filesystem::file_size(sima)),
      static_cast<uintmax_t>(std::filesystem::file_size(out)), seconds,
      static_cast<double>(usage.ru_maxrss) / 1024.0);
  std::filesystem::remove(out);
  return 0;
}
