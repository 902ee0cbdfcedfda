#include "common/atomic_file.h"

#include <gtest/gtest.h>

#include <filesystem>

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
}

}  // namespace
}  // namespace kestrova
