// A ring of equal buffers passed between the calling thread and one worker
// thread, in order: the worker either fills them for the caller (records
// rendered ahead of their writing) or empties them for it (coordinates
// converted while the scan reads on). A few buffers in flight, so that
// neither thread waits on the other's jitter.
//
// The worker runs a job on one buffer at a time. Between two jobs it waits
// on a condition that also watches for the ring being stopped, so the
// destructor stops it at any point: at once when it waits, after the job
// in hand otherwise. When the system refuses the thread, the calling thread
// runs each job itself at the moment the worker would have: the same jobs
// on the same buffers in the same order.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "records/worker_thread.h"

namespace records {

class BufferRing {
 public:
  struct Buffer {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;  // bytes in use
  };

  // What the worker does with the buffers.
  enum class WorkerRole {
    fills,    // the caller takes filled buffers (take, give_back)
    empties,  // the caller fills buffers and hands them over (filling, hand_over)
  };

  // The worker's job on the buffer of the given sequence number (0, 1, 2,
  // ...: the jobs run in that order). A filling job returns false when
  // there is nothing left to fill, which ends the sequence; an emptying
  // job's result is not used. It must take no memory and end nothing.
  using Job = std::function<bool(Buffer& buffer, std::uint64_t sequence)>;

  BufferRing(std::size_t buffer_bytes, std::size_t buffers);
  BufferRing(const BufferRing&) = delete;
  BufferRing& operator=(const BufferRing&) = delete;
  // Stops the worker, wherever it is.
  ~BufferRing();

  std::size_t buffer_bytes() const { return buffer_bytes_; }

  // Takes the buffers; false when the system refuses the memory.
  [[nodiscard]] bool reserve();
  // Starts the worker on the job (the buffers reserved first). A refused
  // thread leaves each job to the calling thread.
  void start(WorkerRole role, Job job);

  // A filling worker's caller: the next filled buffer, in order; nullptr
  // once the job has said there is nothing left. It stays the caller's
  // until give_back.
  const Buffer* take();
  void give_back();

  // An emptying worker's caller: the buffer being filled; hand_over passes
  // it to the worker and waits for the next free one; finish passes the
  // last and waits until the worker has emptied every buffer and returned.
  Buffer& filling() { return buffers_[handed_ % buffers_.size()]; }
  void hand_over();
  void finish();

  // Stops the worker at its next wait (after the job in hand) and waits
  // for it; the jobs not yet run never run.
  void stop();

 private:
  void fill_all();
  void empty_all();

  std::size_t buffer_bytes_;
  std::vector<Buffer> buffers_;
  Job job_;
  bool in_place_ = false;  // no worker: the caller runs the jobs

  std::mutex mutex_;
  std::condition_variable filled_;  // a buffer was filled, or the filling ended
  std::condition_variable freed_;   // a buffer is free again, or the ring stops
  std::uint64_t handed_ = 0;        // buffers filled (by whichever side fills)
  std::uint64_t returned_ = 0;      // buffers emptied and free again
  bool ended_ = false;              // the filling side has nothing more
  bool stopping_ = false;
  WorkerThread worker_;
};

}  // namespace records
