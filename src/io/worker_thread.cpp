#include "io/worker_thread.h"

namespace io {

WorkerThread::~WorkerThread() {
  if (started_) join();
}

bool WorkerThread::start(std::function<void()> work, std::size_t stack_bytes) {
  work_ = std::move(work);
  pthread_attr_t attributes;
  if (::pthread_attr_init(&attributes) != 0) return false;
  const bool started = ::pthread_attr_setstacksize(&attributes, stack_bytes) == 0 &&
                       ::pthread_create(&thread_, &attributes, &WorkerThread::run, this) == 0;
  ::pthread_attr_destroy(&attributes);
  started_ = started;
  return started;
}

void WorkerThread::join() {
  ::pthread_join(thread_, nullptr);
  started_ = false;
}

void* WorkerThread::run(void* self) {
  static_cast<WorkerThread*>(self)->work_();
  return nullptr;
}

}  // namespace io
