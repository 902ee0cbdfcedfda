#pragma once

#include <memory>
#include <ostream>

namespace kestrova::cli {

// Standard output into a regular file, written past the system's file cache a few
// megabytes at a time from where the descriptor stands, which is left after the last
// byte. A dump of a large drawing runs to gigabytes, and copying them into the cache costs
// more than making them on some machines (three times as much on a virtual machine that
// takes its memory back from the host a page at a time).
class UncachedOutput final : public std::ostream {
 public:
  // Null where standard output is no such file: a pipe, a terminal, a file it appends to
  // or stands in the middle of a block of, or one that cannot be opened again to be
  // written past the cache.
  static std::unique_ptr<UncachedOutput> ForStandardOutput();
  ~UncachedOutput() override;

  // Writes what is left; a failure sets badbit.
  void Finish();

 private:
  class Buffer;
  explicit UncachedOutput(std::unique_ptr<Buffer> buffer);
  std::unique_ptr<Buffer> buffer_;
};

}  // namespace kestrova::cli
