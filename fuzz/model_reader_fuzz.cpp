// Fuzz target: any file content, read as a whole model (binary or ASCII in
// any style). Every input must end in a defined way: a model whose facets
// and locations agree, or one line saying why it is refused; never a crash,
// an access out of bounds, or a model and a refusal at once.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "reading/model_reader.h"

namespace {

// One file for every input, its content replaced each time: an input costs
// in proportion to its size.
int input_file(const std::uint8_t* data, std::size_t size) {
  static const int file = ::memfd_create("model.stl", 0);
  // Written over, then cut to the new size: the pages of the file are kept
  // from one input to the next rather than freed and cleared again.
  if (file < 0 || ::pwrite(file, data, size, 0) != static_cast<ssize_t>(size) ||
      ::ftruncate(file, static_cast<off_t>(size)) != 0 || ::lseek(file, 0, SEEK_SET) != 0) {
    std::abort();
  }
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  reading::ModelRead model;
  const std::string problem = reading::read_model(input_file(data, size), size, model);
  if (problem.find('\n') != std::string::npos) __builtin_trap();
  if (!problem.empty()) return 0;
  if (model.facets.size() != model.facet_lines.size()) __builtin_trap();
  // Locations only move forward: lines of an ASCII file, records of a
  // binary one (1, 2, 3, ...).
  for (std::size_t f = 0; f < model.facet_lines.size(); ++f) {
    if (model.facet_lines[f] < 1) __builtin_trap();
    if (f > 0 && model.facet_lines[f] <= model.facet_lines[f - 1]) __builtin_trap();
    if (model.format == reading::ModelFormat::binary &&
        model.facet_lines[f] != static_cast<std::int64_t>(f + 1)) {
      __builtin_trap();
    }
  }
  // A binary file is exactly 84 + 50 N bytes.
  if (model.format == reading::ModelFormat::binary &&
      size != reading::BINARY_HEADER_BYTES + reading::BINARY_RECORD_BYTES * model.facets.size()) {
    __builtin_trap();
  }
  return 0;
}
