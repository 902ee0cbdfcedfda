#include "jww/stream.h"

#include <algorithm>

#include "common/atomic_file.h"

namespace kestrova {

void OutStream::Refuse() {
  throw StreamError("the stream cannot take more than " + std::to_string(limit_) + " bytes");
}

void OutStream::WriteSlow(const void* data, size_t size) {
  if (base_ + pos_ + size > limit_) Refuse();
  if (spillAt_ != 0 && pos_ == size_ && size_ + size > spillAt_ && size_ > 0) Spill();
  const size_t end = pos_ + size;
  if (end > capacity_) {
    const size_t capacity = std::max({end, capacity_ * 2, spillAt_, size_t{1} << 16});
    std::unique_ptr<char[]> grown(new char[capacity]);
    if (size_ > 0) std::memcpy(grown.get(), buffer_.get(), size_);
    buffer_ = std::move(grown);
    capacity_ = capacity;
  }
  std::memcpy(buffer_.get() + pos_, data, size);
  pos_ = end;
  if (pos_ > size_) size_ = pos_;
}

void OutStream::Seek(uint64_t position) {
  if (position >= base_ && position <= base_ + size_) {
    pos_ = static_cast<size_t>(position - base_);
    return;
  }
  Spill();
  if (position > Size()) throw StreamError("seek beyond the end of the stream");
  // Later writes replace earlier bytes from here on.
  base_ = position;
  pos_ = 0;
  size_ = 0;
}

FileOutStream::FileOutStream(const std::filesystem::path& target)
    : FileOutStream(std::make_unique<AtomicFileWriter>(target)) {}

FileOutStream::FileOutStream(std::unique_ptr<AtomicFileWriter> file)
    : OutStream(4u << 20), file_(std::move(file)) {
  writer_ = std::thread([this] { WriterLoop(); });
}

FileOutStream::~FileOutStream() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  writer_.join();
}

void FileOutStream::WriterLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return busy_ || stop_; });
    if (!busy_) return;
    lock.unlock();
    std::exception_ptr error;
    try {
      file_->WriteAt(inFlightOffset_, inFlight_.get(), inFlightSize_);
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    if (error) error_ = error;
    busy_ = false;
    wake_.notify_all();
  }
}

void FileOutStream::WaitForWriter() {
  std::unique_lock lock(mutex_);
  wake_.wait(lock, [this] { return !busy_; });
  if (error_) std::rethrow_exception(error_);
}

void FileOutStream::Spill() {
  if (size_ == 0) return;
  WaitForWriter();
  {
    std::lock_guard lock(mutex_);
    inFlight_.swap(buffer_);
    std::swap(inFlightCapacity_, capacity_);
    inFlightSize_ = size_;
    inFlightOffset_ = base_;
    busy_ = true;
  }
  wake_.notify_all();
  base_ += size_;
  if (base_ > fileSize_) fileSize_ = base_;
  size_ = 0;
  pos_ = 0;
}

uint64_t FileOutStream::Size() const {
  const uint64_t end = base_ + size_;
  return end > fileSize_ ? end : fileSize_;
}

void FileOutStream::Commit() {
  Spill();
  WaitForWriter();
  file_->Commit();
}

ReadError::ReadError(uint64_t offset, const std::string& message)
    : std::runtime_error("byte offset " + std::to_string(offset) + ": " + message),
      offset_(offset) {}

void InStream::Fill(size_t n, const char* message) {
  if (!source_ || Remaining() < n) Fail(message);
  // What is left of the window moves to the front of its buffer, then the source fills
  // the rest. The buffer is kept: a fresh one each time was zeroed and faulted in again.
  const size_t left = bytes_.size() - pos_;
  const size_t want =
      static_cast<size_t>(std::min<uint64_t>(std::max<size_t>(n, window_), Remaining()));
  if (held_.size() < want) {
    std::string bigger(want, '\0');
    if (left > 0) std::memcpy(bigger.data(), bytes_.data() + pos_, left);
    held_ = std::move(bigger);
  } else if (left > 0) {
    std::memmove(held_.data(), bytes_.data() + pos_, left);
  }
  size_t have = left;
  while (have < want) {
    const size_t got = source_(held_.data() + have, want - have);
    if (got == 0) break;
    have += got;
  }
  base_ += pos_;
  pos_ = 0;
  bytes_ = std::string_view(held_.data(), have);
  if (have < n) Fail(message);
}

}  // namespace kestrova
