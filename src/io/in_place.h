// A file changed where it lies, a few bytes at a time, instead of being
// replaced whole: the deck's setting records, which a solver may be reading
// through a descriptor of its own. The file is named itself (a link is
// refused, for its target may lie in another folder and belong to another
// model), locked as the converter locks its outputs, and each change is
// one positioned write. The file is opened with
// open_input_file(path, file, Access::change_in_place).
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "io/failure.h"
#include "io/input_file.h"

namespace io {

enum class LockKind { shared, exclusive };

// Takes the whole-file lock the converter takes on its outputs (shared to
// read, exclusive to change). Where another run holds it, `before_waiting`
// is called once, then the call waits until the lock is free. The file's
// status is then taken again, for that run may have changed its size
// ("cannot read PATH: reason").
[[nodiscard]] Outcome lock_file(InputFile& file, LockKind kind,
                                const std::function<void()>& before_waiting,
                                const std::string& path);

// Whether `path` still names the open file: a run that held the lock may
// have replaced it under the same name meanwhile. A link under the name is
// not the file.
bool still_named(const InputFile& file, const std::string& path);

// Writes all of `bytes` at `offset` with one positioned write, so a write
// within one page is seen whole or not at all by a reader; a write the
// system cuts short is a failure ("cannot write PATH: the write was cut
// short").
[[nodiscard]] Outcome write_at(const InputFile& file, std::uint64_t offset,
                               std::span<const char> bytes, const std::string& path);

// Sends the first `length` bytes to the disk and waits for them, without
// waiting for the rest of the file. A file system that cannot do this for
// a range writes it back in its own time, which is no failure; a failed
// write-back is ("cannot write PATH: reason"), for the disk may then hold
// the old bytes.
[[nodiscard]] Outcome sync_head(const InputFile& file, std::uint64_t length,
                                const std::string& path);

}  // namespace io
