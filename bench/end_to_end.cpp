// The whole road from a SIMA file of N points (default 1,000,000, with 100,000
// parcels; every label on) to a .jww at version 420, through kestrova-cli convert as a
// user runs it, beside a plain write of the same number of bytes to the same folder
// through the file cache with fsync (what a program writing the usual way takes) and
// the same past the cache (O_DIRECT, the disk's own pace), and kestrova-cli info of the
// same file (the load alone) and of the same points as a plain ZHY list. Prints wall
// times, the ratios to the plain writes and each process's peak memory.
// Then every other command on the same site (info, plot, clip, the text, GIS and DXF
// exports, dump of the drawing as text and JSON), each beside a plain write of as many
// bytes as it wrote (a Shapefile's whole set); the GIS exports are left out, said so,
// when the program has no GDAL; with the desktop program named too, its
// `--print-pdf` of the site.
// Runs each `runs` times (default 5) and reports medians.
//
//   kestrova_end_to_end path/to/kestrova-cli [points] [runs] [path/to/kestrova]

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/generate.h"

namespace {

struct Run {
  double seconds = 0.0;
  double cpuSeconds = 0.0;  // user and system time of all its threads
  double peakMb = 0.0;
};

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Started by fork and exec, not posix_spawn: a child of posix_spawn shares this
// process's memory until its exec, and the kernel then counts this process's peak (the
// generated site among it) as the child's. After fork the count starts from what this
// process holds at the moment, a few megabytes.
bool Spawn(const std::vector<std::string>& argv, Run& run, const std::string& stdoutPath = "") {
  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const char* out = stdoutPath.empty() ? "/dev/null" : stdoutPath.c_str();
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    const int fd = ::open(out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0) ::_exit(126);
    ::close(fd);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  run.seconds = Since(start);
  run.peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  run.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// bytes written in 4 MB pieces to a new file, fsync'd and closed: the disk's own pace.
double PlainWrite(const std::string& path, uintmax_t bytes) {
  std::vector<char> piece(4u << 20, 'k');
  const auto start = std::chrono::steady_clock::now();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return -1.0;
  for (uintmax_t done = 0; done < bytes;) {
    const size_t n = static_cast<size_t>(std::min<uintmax_t>(piece.size(), bytes - done));
    if (::write(fd, piece.data(), n) != static_cast<ssize_t>(n)) return -1.0;
    done += n;
  }
  ::fsync(fd);
  ::close(fd);
  const double seconds = Since(start);
  std::filesystem::remove(path);
  return seconds;
}

// The same past the file cache, in aligned 4 MB blocks (the size rounded up to one).
double DirectWrite(const std::string& path, uintmax_t bytes) {
  constexpr size_t kPiece = 4u << 20;
  char* piece = static_cast<char*>(std::aligned_alloc(4096, kPiece));
  if (!piece) return -1.0;
  std::memset(piece, 'k', kPiece);
  const auto start = std::chrono::steady_clock::now();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_DIRECT, 0644);
  bool ok = fd >= 0;
  for (uintmax_t done = 0; ok && done < bytes; done += kPiece)
    ok = ::write(fd, piece, kPiece) == static_cast<ssize_t>(kPiece);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  const double seconds = Since(start);
  std::free(piece);
  std::filesystem::remove(path);
  return ok ? seconds : -1.0;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s KESTROVA_CLI [POINTS] [RUNS] [KESTROVA]\n", argv[0]);
    return 2;
  }
  const int points = argc > 2 ? std::atoi(argv[2]) : 1'000'000;
  const int runs = std::max(1, argc > 3 ? std::atoi(argv[3]) : 5);
  const std::string sima = kestrova::bench::GeneratedSima(points).string();
  const std::string zhy = kestrova::bench::GeneratedZhy(points).string();
  const std::string out = (std::filesystem::temp_directory_path() / "kestrova-e2e.jww").string();
  const std::string plain = out + ".plain";

  std::vector<double> convert, convertMb, write, direct, info, infoMb, list, listMb;
  uintmax_t jwwBytes = 0;
  // The size of the drawing, for the plain writes.
  Run first;
  if (!Spawn({argv[1], "convert", sima, "-o", out}, first)) {
    std::fprintf(stderr, "convert failed\n");
    return 1;
  }
  jwwBytes = std::filesystem::file_size(out);
  std::filesystem::remove(out);
  for (int r = 0; r < runs; ++r) {
    Run c, i, z;
    // A write into the file cache costs more while the cache is being filled than
    // right after a file of the same size was deleted: one plain write before the
    // convert and one after it, so that neither side has the easier start.
    const double before = PlainWrite(plain, jwwBytes);
    if (!Spawn({argv[1], "convert", sima, "-o", out}, c)) {
      std::fprintf(stderr, "convert failed\n");
      return 1;
    }
    std::filesystem::remove(out);
    const double after = PlainWrite(plain, jwwBytes);
    const double w = before < 0 || after < 0 ? -1.0 : (before + after) / 2;
    direct.push_back(DirectWrite(plain, jwwBytes));
    if (w < 0 || !Spawn({argv[1], "info", sima}, i) || !Spawn({argv[1], "info", zhy}, z)) {
      std::fprintf(stderr, "plain write or info failed\n");
      return 1;
    }
    convert.push_back(c.seconds);
    convertMb.push_back(c.peakMb);
    write.push_back(w);
    info.push_back(i.seconds);
    infoMb.push_back(i.peakMb);
    list.push_back(z.seconds);
    listMb.push_back(z.peakMb);
  }
  double load[3] = {};
  getloadavg(load, 3);
  std::printf(
      "points: %d\nsima bytes: %ju\njww bytes: %ju\nruns: %d (medians)\n"
      "convert: %.2f s, peak %.0f MB\nplain write of the same bytes with fsync: %.2f s\n"
      "convert / plain write: %.2f\nthe same past the file cache: %.2f s (convert / that: "
      "%.2f)\ninfo: %.2f s, %.2f million points/s, peak %.0f MB (%.0f "
      "bytes a point)\ninfo of the points as a ZHY list: %.2f s, %.2f million points/s, peak %.0f "
      "MB (%.0f bytes a point)\nload average: %.2f %.2f %.2f\n",
      points, static_cast<uintmax_t>(std::filesystem::file_size(sima)), jwwBytes, runs,
      Median(convert), Median(convertMb), Median(write), Median(convert) / Median(write),
      Median(direct), Median(convert) / Median(direct), Median(info), points / Median(info) / 1e6,
      Median(infoMb), Median(infoMb) * 1024 * 1024 / points, Median(list),
      points / Median(list) / 1e6, Median(listMb), Median(listMb) * 1024 * 1024 / points, load[0],
      load[1], load[2]);

  // The other commands, on the same SIMA file and on the drawing convert made of it.
  Run made;
  if (!Spawn({argv[1], "convert", sima, "-o", out}, made)) return 1;
  // The other commands write into a folder of their own, which is emptied after each.
  const std::filesystem::path outputs =
      std::filesystem::temp_directory_path() / ("kestrova-e2e-" + std::to_string(::getpid()));
  std::filesystem::create_directories(outputs);
  const std::string result = (outputs / "result.out").string();
  struct Job {
    const char* label;
    std::vector<std::string> args;
    bool toStdout;
    bool gis = false;
    const char* program = nullptr;  // another than kestrova-cli
  };
  const auto gis = [&](const char* label, const char* format) {
    return Job{label,
               {"export", sima, "-o", result, "--format", format, "--crs", "EPSG:6677"},
               false,
               true};
  };
  std::vector<Job> jobs = {
      {"info", {"info", sima}, true},
      {"plot -o x.svg", {"plot", sima, "-o", result}, false},
      {"clip -o x.clip", {"clip", sima, "-o", result}, false},
      {"export --format zhy", {"export", sima, "-o", result, "--format", "zhy"}, false},
      {"export --format sima", {"export", sima, "-o", result, "--format", "sima"}, false},
      {"export --format csv", {"export", sima, "-o", result, "--format", "csv"}, false},
      {"export --format apa", {"export", sima, "-o", result, "--format", "apa"}, false},
      gis("export --format dxf", "dxf"),
      gis("export --format geojson", "geojson"),
      gis("export --format kml", "kml"),
      gis("export --format shp", "shp"),
      gis("export --format gpkg", "gpkg"),
      {"dump", {"dump", out}, true},
      {"dump --json", {"dump", out, "--json"}, true},
  };
  // The desktop program's printed list, when it is named.
  if (argc > 4) {
    jobs.push_back({"kestrova --print-pdf", {"--print-pdf", result, sima}, false, false, argv[4]});
  }
  // What a command wrote: the file, and the other files of a Shapefile's set
  // (result.shx ..., result_parcels.shp ...), removed once counted.
  const auto written = [&outputs] {
    uintmax_t bytes = 0;
    for (const auto& e : std::filesystem::directory_iterator(outputs))
      bytes += e.file_size();
    for (const auto& e : std::filesystem::directory_iterator(outputs))
      std::filesystem::remove(e.path());
    return bytes;
  };
  // Whether the program writes GIS formats at all: a two-point site tells.
  const std::string tiny = (outputs / "tiny.sim").string();
  std::FILE* tinyFile = std::fopen(tiny.c_str(), "wb");
  if (!tinyFile) return 1;
  std::fputs("G00,01,x,\r\nA01,1,a,0,0,0,\r\nA01,2,b,1,1,0,\r\n", tinyFile);
  std::fclose(tinyFile);
  Run probe;
  const bool haveGdal = Spawn(
      {argv[1], "export", tiny, "-o", result, "--format", "geojson", "--crs", "EPSG:6677"}, probe);
  written();
  // On a shared machine the processor time says more than the wall time.
  std::printf("\nconvert again: %.2f s, processor time %.2f s\n", made.seconds, made.cpuSeconds);
  std::printf("%-22s %8s %8s %8s %10s %12s %7s %9s\n", "command", "time s", "cpu s", "peak MB",
              "output MB", "plain write s", "ratio", "/convert");
  for (const Job& job : jobs) {
    std::vector<double> time, cpu, peak, plainTime;
    uintmax_t bytes = 0;
    for (int r = 0; r < runs; ++r) {
      std::vector<std::string> args = {job.program ? job.program : argv[1]};
      args.insert(args.end(), job.args.begin(), job.args.end());
      if (job.gis && !haveGdal) break;
      Run run;
      if (!Spawn(args, run, job.toStdout ? result : "")) {
        std::fprintf(stderr, "%s failed\n", job.label);
        return 1;
      }
      bytes = written();
      time.push_back(run.seconds);
      cpu.push_back(run.cpuSeconds);
      peak.push_back(run.peakMb);
      plainTime.push_back(PlainWrite(plain, bytes));
    }
    if (time.empty()) {
      std::printf("%-22s (not run: the program has no GDAL)\n", job.label);
      continue;
    }
    std::printf("%-22s %8.2f %8.2f %8.0f %10.1f %12.2f %7.2f %9.2f\n", job.label, Median(time),
                Median(cpu), Median(peak), static_cast<double>(bytes) / 1e6, Median(plainTime),
                Median(time) / Median(plainTime), Median(time) / Median(convert));
  }
  std::filesystem::remove(out);
  std::filesystem::remove_all(outputs);
  return 0;
}
