#include "common/atomic_file.h"

#include <gtest/gtest.h>

#ifndef _WIN32  // Windows has its own checks of links, devices and kills in windows/
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#ifdef __linux__
#include <sys/xattr.h>
#endif

#include <algorithm>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "common/error.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("kestrova-atomic-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  size_t EntryCount() const {
    return static_cast<size_t>(
        std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
  }
  fs::path dir_;
};

TEST_F(AtomicFileTest, ReplacesOnlyWhenComplete) {
  const fs::path target = dir_ / "site.zhy";
  WriteFileAtomic(target, "old\r\n");
  EXPECT_EQ(ReadFileBytes(target), "old\r\n");
  {
    AtomicFileWriter writer(target);
    writer.Write("new", 3);
    // Abandoned without Commit: the old file stays, no temporary file is left.
  }
  EXPECT_EQ(ReadFileBytes(target), "old\r\n");
  EXPECT_EQ(EntryCount(), 1u);
  {
    AtomicFileWriter writer(target);
    writer.Write("n?w", 3);
    writer.WriteAt(1, "e", 1);
    writer.Commit();
  }
  EXPECT_EQ(ReadFileBytes(target), "new");
  EXPECT_EQ(EntryCount(), 1u);

  // A file of many megabytes goes to the disk in whole blocks past the system's cache,
  // its tail and the header filled in last through it; on tmpfs (no writing past the
  // cache) all through it. Every piece must be in place either way.
  std::vector<fs::path> bigFiles = {target};
#ifndef _WIN32
  std::error_code ec;
  if (fs::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0) {
    bigFiles.push_back(fs::path("/dev/shm") / (dir_.filename().string() + ".big"));
  }
#endif
  for (const fs::path& big : bigFiles) {
    {
      AtomicFileWriter writer(big);
      std::string piece(1u << 20, ' ');
      for (int i = 0; i < 37; ++i) {
        piece.front() = static_cast<char>('a' + i % 26);
        writer.Write(piece.data(), piece.size() - static_cast<size_t>(i));
      }
      const uint64_t last = 36 * (1u << 20) - 35 * 36 / 2;  // where the last piece starts
      writer.WriteAt(last, "Z", 1);                         // still in memory
      writer.WriteAt(0, "HEAD", 4);                         // long written
      writer.Commit();
    }
    const std::string bytes = ReadFileBytes(big);
    if (big != target) fs::remove(big);
    ASSERT_EQ(bytes.size(), 37 * (1u << 20) - 36 * 37 / 2) << big;
    EXPECT_EQ(bytes.substr(0, 5), "HEAD ");
    size_t at = 1u << 20;
    for (int i = 1; i < 37; ++i) {
      EXPECT_EQ(bytes[at], i == 36 ? 'Z' : 'a' + i % 26) << i << " " << big;
      at += (1u << 20) - static_cast<size_t>(i);
    }
  }
}

#ifndef _WIN32
// A replaced file keeps its permissions whatever the umask says (0640 is not what 022
// gives, 0604 not what 027 gives); a new file gets what the umask leaves of 0666.
TEST_F(AtomicFileTest, AReplacedFileKeepsItsPermissions) {
  const auto modeOf = [](const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
    return st.st_mode & 07777;
  };
  struct RestoreUmask {
    mode_t saved = ::umask(022);
    ~RestoreUmask() { ::umask(saved); }
  } restore;
  const fs::path target = dir_ / "site.sim";
  for (const mode_t mode : {mode_t{0640}, mode_t{0604}, mode_t{0600}}) {
    for (const mode_t mask : {mode_t{022}, mode_t{027}}) {
      ::umask(mask);
      WriteFileAtomic(target, "old");
      ASSERT_EQ(::chmod(target.c_str(), mode), 0);
      WriteFileAtomic(target, "new");
      EXPECT_EQ(modeOf(target), mode) << std::oct << mode << " under umask " << mask;
      {
        AtomicFileWriter writer(target);
        writer.Write("newer", 5);
        writer.Commit();
      }
      EXPECT_EQ(modeOf(target), mode) << std::oct << mode << " under umask " << mask;
      EXPECT_EQ(ReadFileBytes(target), "newer");
      fs::remove(target);
    }
  }
  for (const mode_t mask : {mode_t{022}, mode_t{077}}) {
    ::umask(mask);
    WriteFileAtomic(target, "new");
    EXPECT_EQ(modeOf(target), 0666 & ~mask) << std::oct << mask;
    fs::remove(target);
  }
  // Its extended attributes (an access list is one) and, where this user may give
  // them, its owner and group; and a name as long as a name may be.
  WriteFileAtomic(target, "old");
  const bool attributes = ::setxattr(target.c_str(), "user.kestrova", "kept", 4, 0) == 0;
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(target.c_str(), 1000, 100), 0);
  }
  WriteFileAtomic(target, "new");
  if (attributes) {
    char value[8] = {};
    EXPECT_EQ(::getxattr(target.c_str(), "user.kestrova", value, sizeof value), 4);
    EXPECT_STREQ(value, "kept");
  }
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  if (root) {
    EXPECT_EQ(std::make_pair(st.st_uid, st.st_gid), std::make_pair(1000u, 100u));
  }
  // The temporary name beside it cuts the name, and not inside a character.
  std::string name;
  for (int i = 0; i < 83; ++i)
    name += "\xE6\xB8\xAC";  // 測
  for (const std::string& n : {std::string(255, 'n'), name + ".sim"}) {
    const fs::path longest = dir_ / n;
    WriteFileAtomic(longest, "old");
    {
      ::setenv("KESTROVA_NAMED_TEMPORARY", "1", 1);  // a name to look at while writing
      AtomicFileWriter writer(longest);
      ::unsetenv("KESTROVA_NAMED_TEMPORARY");
      writer.Write("new", 3);
      for (const auto& entry : fs::directory_iterator(dir_)) {
        const std::string entryName = entry.path().filename().string();
        EXPECT_EQ(entryName.find("\xE6\xB8."), std::string::npos);
        EXPECT_EQ(entryName.find("\xE6."), std::string::npos);
      }
      writer.Commit();
    }
    EXPECT_EQ(ReadFileBytes(longest), "new");
  }
}
#endif

#ifndef _WIN32
// A finished file on the target's file system is linked into place, not copied, and
// only at Commit; with bytes already written, across file systems, through a descriptor
// or from no file, the caller writes the bytes instead.
TEST_F(AtomicFileTest, AFinishedFileIsTakenWhereItCanBe) {
  const fs::path made = dir_ / "made";
  WriteFileAtomic(made, "finished");
  const fs::path target = dir_ / "site.kml";
  WriteFileAtomic(target, "old");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  {
    AtomicFileWriter writer(target);
    ASSERT_TRUE(writer.Adopt(made));
    // Until Commit, the file under its temporary name is the user's alone.
    for (const auto& entry : fs::directory_iterator(dir_)) {
      struct stat st {};
      ASSERT_EQ(::stat(entry.path().c_str(), &st), 0);
      if (entry.path() != target) {
        EXPECT_EQ(st.st_mode & 077, 0u) << entry.path();
      }
    }
  }
  EXPECT_EQ(ReadFileBytes(target), "old");
  EXPECT_EQ(EntryCount(), 2u);
  {
    AtomicFileWriter writer(target);
    ASSERT_TRUE(writer.Adopt(made));
    writer.Commit();
  }
  EXPECT_EQ(ReadFileBytes(target), "finished");
  EXPECT_EQ(ReadFileBytes(made), "finished");
  struct stat t {
  }, m{};
  ASSERT_EQ(::stat(target.c_str(), &t), 0);
  ASSERT_EQ(::stat(made.c_str(), &m), 0);
  EXPECT_EQ(t.st_ino, m.st_ino);
  EXPECT_EQ(t.st_mode & 07777, 0640u);
  EXPECT_EQ(EntryCount(), 2u);

  {
    AtomicFileWriter writer(target);
    writer.Write("x", 1);
    EXPECT_FALSE(writer.Adopt(made));
    EXPECT_FALSE(AtomicFileWriter(dir_ / "other").Adopt(dir_ / "missing"));
    EXPECT_FALSE(AtomicFileWriter(dir_ / "other").Adopt(dir_));
    writer.Write("y", 1);
    writer.Commit();
  }
  EXPECT_EQ(ReadFileBytes(target), "xy");
  EXPECT_EQ(EntryCount(), 2u);
  EXPECT_EQ(ReadFileBytes(made), "finished");

  // A folder whose set-group-ID gives its files another group than the finished file's
  // (changing a folder's group to one the user is not in takes root).
  const fs::path shared = dir_ / "shared";
  fs::create_directory(shared);
  const gid_t other = ::getegid() + 1;
  if (::chown(shared.c_str(), static_cast<uid_t>(-1), other) == 0 &&
      ::chmod(shared.c_str(), 02775) == 0) {
    AtomicFileWriter writer(shared / "site.kml");
    EXPECT_FALSE(writer.Adopt(made));
    writer.Write("copied", 6);
    writer.Commit();
    struct stat st {};
    ASSERT_EQ(::stat((shared / "site.kml").c_str(), &st), 0);
    EXPECT_EQ(st.st_gid, other);
  }

  const int fd = ::open((dir_ / "out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  EXPECT_FALSE(AtomicFileWriter::ForDescriptor(fd, "out")->Adopt(made));
  ::close(fd);

  struct stat shm {};
  if (::stat("/dev/shm", &shm) == 0 && shm.st_dev != m.st_dev && ::access("/dev/shm", W_OK) == 0) {
    const fs::path elsewhere = fs::path("/dev/shm") / (dir_.filename().string() + ".kml");
    {
      AtomicFileWriter writer(elsewhere);
      EXPECT_FALSE(writer.Adopt(made));
      writer.Write("copied", 6);
      writer.Commit();
    }
    EXPECT_EQ(ReadFileBytes(elsewhere), "copied");
    fs::remove(elsewhere);
  }
}
#endif

// Any mix of appends and patches, of any size, must leave exactly the bytes a plain
// string given the same edits holds: blocks past the cache, the staged tail, patches of
// staged and of written bytes, holes, and back through the cache after a patch. The same
// in place through a descriptor, from a block's start and from the middle of one, which
// is left after the last byte.
TEST_F(AtomicFileTest, EveryMixOfWritesLeavesTheSameBytesAsAString) {
  const fs::path target = dir_ / "mixed.jww";
  constexpr size_t kMost = 10u << 20;
  constexpr size_t kStage = 2u << 20;  // the staging buffer
  std::mt19937 random(static_cast<unsigned>(::testing::UnitTest::GetInstance()->random_seed()));
  std::string source(kMost, '\0');
  for (char& c : source)
    c = static_cast<char>(random());
  const auto pick = [&](size_t most) {
    return most == 0 ? size_t{0} : std::uniform_int_distribution<size_t>(0, most)(random);
  };
  // Sizes around the staging buffer and the 4096-byte blocks matter most.
  const auto size = [&](size_t room) {
    size_t n = 0;
    switch (pick(5)) {
      case 0:
        n = pick(16);
        break;
      case 1:
        n = pick(70000);
        break;
      case 2:
        n = 4096 * pick(1200);
        break;
      case 3:
        n = kStage - pick(1) * 4096;
        break;
      case 4:
        n = pick(kStage + 8192);
        break;
      default:
        n = pick(room);
        break;
    }
    return std::min(n, room);
  };
  struct Op {
    bool at;
    uint64_t offset;
    size_t size;
  };
  std::vector<std::vector<Op>> runs = {
      // Whole buffers out, nothing staged, then a header: back through the cache.
      {{false, 0, kStage}, {true, 0, 4}, {false, 0, 100}},
      {{true, 0, kStage}, {true, kStage, 2 * kStage}, {true, 16, 4}},
      {{false, 0, kStage + 8192}, {true, 4096, 10}, {false, 0, 3}},
      {{false, 0, kStage}, {true, kStage + 100, 7}},
  };
  for (int r = 0; r < 60; ++r) {
    std::vector<Op> ops;
    size_t end = 0;
    for (size_t i = pick(12) + 1; i > 0 && end < kMost; --i) {
      Op op{pick(2) == 0, 0, 0};
      if (op.at) {
        op.offset = pick(3) == 0 ? end : pick(std::min(end + 5000, kMost - 1));
        op.size = std::max<size_t>(size(kMost - op.offset), 1);
      } else {
        op.size = size(kMost - end);
      }
      end = std::max<size_t>(end, op.at ? op.offset + op.size : end + op.size);
      ops.push_back(op);
    }
    runs.push_back(ops);
  }
  const fs::path shared = dir_ / "shared";
  for (size_t r = 0; r < runs.size(); ++r) {
    std::string model;
    std::string trace;
    // Every third run in its own file, the others (where a shell's descriptors are
    // written in place) after 4096 bytes or 5 in a shared one.
    int fd = -1;
#ifdef _WIN32
    const std::string head;
#else
    const std::string head = r % 3 == 0 ? "" : std::string(r % 3 == 1 ? 4096 : 5, 'h');
    if (!head.empty()) {
      WriteFileAtomic(shared, head);
      fd = ::open(shared.c_str(), O_WRONLY);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(::lseek(fd, 0, SEEK_END), static_cast<off_t>(head.size()));
    }
#endif
    {
      const std::unique_ptr<AtomicFileWriter> owned =
          head.empty() ? std::make_unique<AtomicFileWriter>(target)
                       : AtomicFileWriter::ForDescriptor(fd, "standard output");
      AtomicFileWriter& writer = *owned;
      for (const Op& op : runs[r]) {
        const size_t from = pick(kMost - op.size);
        const char* bytes = source.data() + from;
        if (op.at) {
          trace += " at " + std::to_string(op.offset) + "+" + std::to_string(op.size);
          writer.WriteAt(op.offset, bytes, op.size);
          if (model.size() < op.offset + op.size) model.resize(op.offset + op.size);
          model.replace(op.offset, op.size, bytes, op.size);
        } else {
          trace += " +" + std::to_string(op.size);
          writer.Write(bytes, op.size);
          model.append(bytes, op.size);
        }
      }
      writer.Commit();
    }
#ifndef _WIN32
    if (!head.empty()) {
      ASSERT_EQ(::write(fd, "!", 1), 1);
      ::close(fd);
      model = head + model + "!";
    }
#endif
    const std::string bytes = ReadFileBytes(head.empty() ? target : shared);
    ASSERT_EQ(bytes.size(), model.size()) << "run " << r << ":" << trace;
    const auto [mine, theirs] = std::mismatch(bytes.begin(), bytes.end(), model.begin());
    ASSERT_TRUE(mine == bytes.end())
        << "run " << r << ": first difference at " << (mine - bytes.begin()) << ":" << trace;
  }
  EXPECT_EQ(EntryCount(), fs::exists(shared) ? 2u : 1u);  // no temporary file left
}

TEST_F(AtomicFileTest, ErrorsNameTheFile) {
  const fs::path missing = dir_ / "no-such-folder" / "out.jww";
  try {
    WriteFileAtomic(missing, "x");
    FAIL() << "writing into a missing folder succeeded";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("out.jww"), std::string::npos) << e.what();
  }
  EXPECT_THROW(ReadFileBytes(dir_ / "absent.sim"), Error);
  EXPECT_THROW(ReadFileBytes(dir_), Error);
#ifndef _WIN32
  // Bytes that failed on their way to the disk are missing for good: once the failure is
  // told, every later write and the commit fail too, though the disk has room again.
  const fs::path full = dir_ / "full.jww";
  AtomicFileWriter writer(full);
  struct rlimit limit;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
  const rlim_t most = limit.rlim_cur;
  const auto handler = ::signal(SIGXFSZ, SIG_IGN);
  limit.rlim_cur = 3u << 20;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  const std::string piece(1u << 20, 'x');
  int failedAt = -1;
  for (int i = 0; i < 16 && failedAt < 0; ++i) {
    try {
      writer.Write(piece.data(), piece.size());
    } catch (const Error& e) {
      failedAt = i;
      EXPECT_NE(std::string(e.what()).find("full.jww"), std::string::npos) << e.what();
    }
  }
  limit.rlim_cur = most;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  ::signal(SIGXFSZ, handler);
  EXPECT_GE(failedAt, 3);
  EXPECT_THROW(writer.Write(piece.data(), piece.size()), Error);
  EXPECT_THROW(writer.Commit(), Error);
  EXPECT_FALSE(fs::exists(full));
  // In place, the last bytes that failed are not written when the writer goes either,
  // and the descriptor stands after the bytes that were.
  const fs::path shared = dir_ / "shared";
  const std::string head(4096, 'h');
  WriteFileAtomic(shared, head);
  const int fd = ::open(shared.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::lseek(fd, 0, SEEK_END), 4096);
  {
    const auto inPlace = AtomicFileWriter::ForDescriptor(fd, "standard output");
    const std::string bytes(3u << 20, 'x');  // a run of 2 MB, then 1 MB left at the commit
    inPlace->Write(bytes.data(), bytes.size());
    ::signal(SIGXFSZ, SIG_IGN);
    limit.rlim_cur = 4096 + (5u << 19);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    EXPECT_THROW(inPlace->Commit(), Error);
    limit.rlim_cur = most;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    ::signal(SIGXFSZ, handler);
  }
  ASSERT_EQ(::write(fd, "!", 1), 1);
  ::close(fd);
  EXPECT_TRUE(ReadFileBytes(shared) == head + std::string(5u << 19, 'x') + "!");
#endif
}

#ifndef _WIN32
TEST_F(AtomicFileTest, LinksAreFollowedDevicesAndFifosWrittenReadOnlyKept) {
  // A link (relative, into another folder) keeps being a link to the replaced file.
  fs::create_directories(dir_ / "data");
  WriteFileAtomic(dir_ / "data" / "site.zhy", "old");
  fs::create_symlink("data/site.zhy", dir_ / "link.zhy");
  fs::create_symlink("link.zhy", dir_ / "link2.zhy");
  WriteFileAtomic(dir_ / "link2.zhy", "new");
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.zhy"));
  EXPECT_TRUE(fs::is_symlink(dir_ / "link2.zhy"));
  EXPECT_EQ(ReadFileBytes(dir_ / "data" / "site.zhy"), "new");
  EXPECT_EQ(EntryCount(), 3u);
  // A link to a file not there yet creates the file.
  fs::create_symlink("data/made.zhy", dir_ / "dangling.zhy");
  WriteFileAtomic(dir_ / "dangling.zhy", "made");
  EXPECT_EQ(ReadFileBytes(dir_ / "data" / "made.zhy"), "made");

  // A device is written, not replaced by a file.
  WriteFileAtomic("/dev/null", "x");
  EXPECT_TRUE(fs::is_character_file("/dev/null"));

  // A FIFO is written directly and read back to its end.
  const fs::path fifo = dir_ / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = ReadFileBytes(fifo); });
  {
    AtomicFileWriter writer(fifo);
    writer.Write("ab", 2);
    writer.WriteAt(2, "cd", 2);  // the next bytes, as a drawing's spilled buffers come
    writer.Commit();
  }
  reader.join();
  EXPECT_EQ(received, "abcd");
  EXPECT_TRUE(fs::is_fifo(fifo));

  // A read-only file stays as it is.
  const fs::path locked = dir_ / "locked.zhy";
  WriteFileAtomic(locked, "keep");
  fs::permissions(locked, fs::perms::owner_read | fs::perms::group_read);
  try {
    WriteFileAtomic(locked, "lost");
    FAIL() << "a read-only file was replaced";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), locked.string() + " is read-only");
  }
  EXPECT_EQ(ReadFileBytes(locked), "keep");
  EXPECT_THROW(WriteFileAtomic(dir_ / "data", "x"), Error);  // a folder
}

TEST_F(AtomicFileTest, AKilledSaveLeavesNothingBehind) {
  const fs::path target = dir_ / "big.jww";
  WriteFileAtomic(target, "old");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Half-way through a save the program is killed: no destructor, no clean-up.
    AtomicFileWriter writer(target);
    const std::string chunk(1 << 20, 'x');
    for (int i = 0; i < 4; ++i)
      writer.Write(chunk.data(), chunk.size());
    ::raise(SIGKILL);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(ReadFileBytes(target), "old");
  EXPECT_EQ(EntryCount(), 1u) << "a temporary file was left in " << dir_;
}

// Starts a save in a child process with a named temporary file, as on file systems
// without unnamed ones, and returns once the file exists; the child then waits.
pid_t StartNamedSave(const fs::path& target) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(ready[0]);
    ::setenv("KESTROVA_NAMED_TEMPORARY", "1", 1);
    try {
      AtomicFileWriter writer(target);
      writer.Write("new", 3);
      if (::write(ready[1], "x", 1) != 1) ::_exit(3);
      for (;;)
        ::pause();
    } catch (...) {
      ::_exit(3);
    }
  }
  ::close(ready[1]);
  char c = 0;
  const bool started = child > 0 && ::read(ready[0], &c, 1) == 1;
  ::close(ready[0]);
  return started ? child : -1;
}

// Ends a child that waits, whatever becomes of the test.
struct Reaper {
  pid_t pid;
  ~Reaper() {
    if (pid > 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
  }
};

std::vector<std::string> Temporaries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(".big.jww.tmp", 0) == 0) names.push_back(name);
  }
  return names;
}

TEST_F(AtomicFileTest, TheSignalsThatEndAProgramTakeTheNamedTemporaryWithThem) {
  const fs::path target = dir_ / "big.jww";
  WriteFileAtomic(target, "old");
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction inherited {};
    ::sigaction(sig, nullptr, &inherited);
    if (inherited.sa_handler == SIG_IGN) continue;  // stays ignored, as nohup wants
    const pid_t child = StartNamedSave(target);
    ASSERT_GT(child, 0);
    Reaper reaper{child};
    const std::vector<std::string> during = Temporaries(dir_);
    ASSERT_EQ(during.size(), 1u);
    EXPECT_EQ(during[0].rfind(".big.jww.tmp" + std::to_string(child) + "-", 0), 0u) << during[0];
    ASSERT_EQ(::kill(child, sig), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    reaper.pid = -1;
    // The program still ends by the signal, as its parent expects.
    ASSERT_TRUE(WIFSIGNALED(status)) << sig;
    EXPECT_EQ(WTERMSIG(status), sig);
    EXPECT_TRUE(Temporaries(dir_).empty()) << sig;
    EXPECT_EQ(ReadFileBytes(target), "old");
  }
}

TEST_F(AtomicFileTest, TheNextSaveRemovesWhatAKilledSaveLeftButNotARunningOne) {
  const fs::path target = dir_ / "big.jww";
  WriteFileAtomic(target, "old");
  const pid_t running = StartNamedSave(target);
  ASSERT_GT(running, 0);
  Reaper reaper{running};
  const pid_t killed = StartNamedSave(target);
  ASSERT_GT(killed, 0);
  ASSERT_EQ(::kill(killed, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(killed, &status, 0), killed);
  ASSERT_EQ(Temporaries(dir_).size(), 2u);
  // Names that only look alike are someone else's.
  WriteFileAtomic(dir_ / "keep", "k");
  fs::copy_file(dir_ / "keep", dir_ / (".big.jww.tmp" + std::to_string(killed) + "-1x"));
  fs::copy_file(dir_ / "keep", dir_ / (".big.jww.tmp" + std::to_string(killed)));
  fs::copy_file(dir_ / "keep", dir_ / (".other.jww.tmp" + std::to_string(killed) + "-1"));
  ASSERT_EQ(Temporaries(dir_).size(), 4u);

  for (const bool named : {false, true}) {
    if (named) ::setenv("KESTROVA_NAMED_TEMPORARY", "1", 1);
    WriteFileAtomic(target, "newer");
    ::unsetenv("KESTROVA_NAMED_TEMPORARY");
    EXPECT_EQ(ReadFileBytes(target), "newer");
    const std::vector<std::string> left = Temporaries(dir_);
    const std::string p = std::to_string(killed);
    const std::string r = ".big.jww.tmp" + std::to_string(running) + "-";
    EXPECT_EQ(left.size(), 3u);
    EXPECT_EQ(std::count(left.begin(), left.end(), ".big.jww.tmp" + p), 1);
    EXPECT_EQ(std::count(left.begin(), left.end(), ".big.jww.tmp" + p + "-1x"), 1);
    EXPECT_EQ(std::count_if(left.begin(), left.end(),
                            [&r](const std::string& n) { return n.rfind(r, 0) == 0; }),
              1);
    EXPECT_TRUE(fs::exists(dir_ / (".other.jww.tmp" + p + "-1")));
  }
  ASSERT_EQ(::kill(running, SIGTERM), 0);
  ASSERT_EQ(::waitpid(running, &status, 0), running);
  reaper.pid = -1;
  EXPECT_EQ(Temporaries(dir_).size(), 2u);
}

// A descriptor that a shell opened on a file: the file keeps what came before, a header
// filled in late lands in this output, and the descriptor ends after it.
TEST_F(AtomicFileTest, ADescriptorToAFileIsWrittenWhereItStands) {
  const fs::path log = dir_ / "log";
  WriteFileAtomic(log, "earlier\n");
  int fd = ::open(log.c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(fd, 0);
  {
    const auto writer = AtomicFileWriter::ForDescriptor(fd, "standard output");
    writer->Write("..body", 6);
    writer->WriteAt(0, "HD", 2);
    writer->Write("+tail", 5);
    writer->Commit();
  }
  // By the name of the descriptor, too: the same file, never one renamed over it.
  WriteFileAtomic("/proc/self/fd/" + std::to_string(fd), "|more");
  WriteFileAtomic("/dev/fd/" + std::to_string(fd), "|again");
  ::close(fd);
  EXPECT_EQ(ReadFileBytes(log), "earlier\nHDbody+tail|more|again");

  WriteFileAtomic(log, "0123456789");
  fd = ::open(log.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::lseek(fd, 4, SEEK_SET), 4);
  {
    const auto writer = AtomicFileWriter::ForDescriptor(fd, "standard output");
    writer->Write("abc", 3);
    writer->WriteAt(0, "X", 1);
    writer->WriteAt(5, "Z", 1);  // past the end of what was written
    writer->Commit();
  }
  ASSERT_EQ(::write(fd, "!", 1), 1);
  ::close(fd);
  EXPECT_EQ(ReadFileBytes(log), "0123Xbc78Z!");
}

TEST_F(AtomicFileTest, DescriptorsAndPipes) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  {
    const auto writer = AtomicFileWriter::ForDescriptor(fds[1], "standard output");
    EXPECT_EQ(writer->Target(), "standard output");
    writer->Write("G00,", 4);
    writer->WriteAt(4, "01,\r\n", 5);
    writer->Commit();
  }
  ::close(fds[1]);  // the writer never closes a descriptor it was handed
  EXPECT_EQ(ReadDescriptorBytes(fds[0], "standard input"), "G00,01,\r\n");
  ::close(fds[0]);
}
#endif

}  // namespace
}  // namespace kestrova
