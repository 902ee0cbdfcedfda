#include "jww/stream.h"

#include "common/atomic_file.h"

namespace kestrova {

void OutStream::Refuse() {
  throw StreamError("the stream cannot take more than " + std::to_string(limit_) + " bytes");
}

void OutStream::Overwrite(const void* data, size_t size) {
  const size_t end = pos_ + size;
  if (end > buffer_.size()) buffer_.resize(end);
  std::memcpy(buffer_.data() + pos_, data, size);
  pos_ = end;
}

void OutStream::Seek(uint64_t position) {
  if (position >= base_ && position <= base_ + buffer_.size()) {
    pos_ = static_cast<size_t>(position - base_);
    return;
  }
  Spill();
  if (position > Size()) throw StreamError("seek beyond the end of the stream");
  // Later writes replace earlier bytes from here on.
  base_ = position;
  pos_ = 0;
}

FileOutStream::FileOutStream(const std::filesystem::path& target)
    : OutStream(4u << 20), file_(std::make_unique<AtomicFileWriter>(target)) {
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
      file_->WriteAt(inFlightOffset_, inFlight_.data(), inFlight_.size());
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
  if (buffer_.empty()) return;
  WaitForWriter();
  {
    std::lock_guard lock(mutex_);
    inFlight_.swap(buffer_);
    inFlightOffset_ = base_;
    busy_ = true;
  }
  wake_.notify_all();
  base_ += inFlight_.size();
  if (base_ > fileSize_) fileSize_ = base_;
  buffer_.clear();
  pos_ = 0;
}

uint64_t FileOutStream::Size() const {
  const uint64_t end = base_ + buffer_.size();
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

}  // namespace kestrova
