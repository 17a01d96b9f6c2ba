#include "records/buffer_ring.h"

#include <new>

namespace records {

BufferRing::BufferRing(std::size_t buffer_bytes, std::size_t buffers)
    : buffer_bytes_(buffer_bytes), buffers_(buffers) {}

BufferRing::~BufferRing() { stop(); }

bool BufferRing::reserve() {
  for (Buffer& buffer : buffers_) {
    if (!buffer.bytes) buffer.bytes.reset(new (std::nothrow) char[buffer_bytes_]);
    if (!buffer.bytes) return false;
  }
  return true;
}

void BufferRing::start(WorkerRole role, Job job) {
  job_ = std::move(job);
  in_place_ = !worker_.start([this, role] {
    if (role == WorkerRole::fills) {
      fill_all();
    } else {
      empty_all();
    }
  });
}

void BufferRing::stop() {
  if (!worker_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  filled_.notify_all();
  freed_.notify_all();
  worker_.join();
}

void BufferRing::fill_all() {
  for (std::uint64_t sequence = 0;; ++sequence) {
    {
      std::unique_lock lock(mutex_);
      freed_.wait(lock, [&] { return stopping_ || sequence - returned_ < buffers_.size(); });
      if (stopping_) return;
    }
    // The buffer is the worker's alone until it is counted as filled.
    const bool more = job_(buffers_[sequence % buffers_.size()], sequence);
    {
      const std::lock_guard lock(mutex_);
      if (more) {
        handed_ = sequence + 1;
      } else {
        ended_ = true;
      }
    }
    filled_.notify_one();
    if (!more) return;
  }
}

const BufferRing::Buffer* BufferRing::take() {
  Buffer& next = buffers_[returned_ % buffers_.size()];
  if (in_place_) {
    if (ended_ || !job_(next, returned_)) {
      ended_ = true;
      return nullptr;
    }
    return &next;
  }
  std::unique_lock lock(mutex_);
  filled_.wait(lock, [&] { return handed_ > returned_ || ended_ || stopping_; });
  return handed_ > returned_ ? &next : nullptr;
}

void BufferRing::give_back() {
  {
    const std::lock_guard lock(mutex_);
    ++returned_;
  }
  freed_.notify_one();
}

void BufferRing::empty_all() {
  for (std::uint64_t sequence = 0;; ++sequence) {
    {
      std::unique_lock lock(mutex_);
      filled_.wait(lock, [&] { return stopping_ || ended_ || handed_ > sequence; });
      // Stopped, or the filling has ended and every buffer is emptied.
      if (stopping_ || handed_ == sequence) return;
    }
    // The buffer is the worker's alone until it is counted as free.
    job_(buffers_[sequence % buffers_.size()], sequence);
    {
      const std::lock_guard lock(mutex_);
      returned_ = sequence + 1;
    }
    freed_.notify_one();
  }
}

void BufferRing::hand_over() {
  if (in_place_) {
    job_(filling(), handed_);
    returned_ = ++handed_;
    return;
  }
  std::unique_lock lock(mutex_);
  ++handed_;
  filled_.notify_one();
  // Free again: the worker is done with it until it is handed over.
  freed_.wait(lock, [&] { return handed_ - returned_ < buffers_.size(); });
}

void BufferRing::finish() {
  if (in_place_) {
    job_(filling(), handed_);
    returned_ = ++handed_;
    return;
  }
  if (!worker_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    ++handed_;
    ended_ = true;
  }
  filled_.notify_one();
  worker_.join();
}

}  // namespace records
