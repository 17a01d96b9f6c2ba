// A worker thread with a stack of its own, small size. A thread started the
// standard way takes the process's stack limit as its stack size, and under
// a limit of some gigabytes the system refuses such a thread, though the
// work needs a few kilobytes of stack.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <functional>

namespace io {

class WorkerThread {
 public:
  // Room for the deepest work a worker of these programs does (the field
  // renderers, a deck's share of records) many times over, sanitizer frames
  // included.
  static constexpr std::size_t STACK_BYTES = std::size_t{1} << 20;

  WorkerThread() = default;
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;
  // Waits for a thread that is still running.
  ~WorkerThread();

  // Runs work on a new thread with a stack of stack_bytes; false, with
  // nothing started, when the system refuses the thread (too many threads,
  // no memory for the stack). The caller then does the work itself.
  [[nodiscard]] bool start(std::function<void()> work, std::size_t stack_bytes = STACK_BYTES);

  bool joinable() const { return started_; }
  // Waits until the work has returned.
  void join();

 private:
  static void* run(void* self);

  std::function<void()> work_;
  pthread_t thread_{};
  bool started_ = false;
};

}  // namespace io
