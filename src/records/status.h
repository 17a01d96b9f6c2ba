// What an operation of the converter's runtime reports. A channel, a
// binding or a worker never ends the run: it returns a status, and the run
// sequence decides what it means (records/endings.h turns it into the
// ending).
#pragma once

#include <string>
#include <utility>

namespace records {

// The reports of the message catalogue. The number is also the exit status
// (the operating system keeps its low 8 bits: 547 shows as 35).
enum class Report : int {
  none = 0,
  // Not a severe report: the stop of a run whose vertex line could not be
  // read, with its own message and a failure status.
  vertex_read_stop = 1,
  access_denied = 9,
  end_of_file = 24,
  file_not_found = 29,
  open_failure = 30,
  write_error = 38,
  read_error = 39,
  no_memory = 41,
  file_name_error = 43,
  read_only_file = 47,
  model_too_large = 250,
  invalid_real = 547,
};

constexpr int report_number(Report report) { return static_cast<int>(report); }

// Report::none when the operation succeeded; otherwise the report, and the
// unit and file it concerns (0 and empty for a report that names none).
struct Status {
  Status() = default;
  Status(Report failure, int failed_unit = 0, std::string failed_path = {})
      : report(failure), unit(failed_unit), path(std::move(failed_path)) {}

  Report report = Report::none;
  int unit = 0;
  std::string path;

  bool ok() const { return report == Report::none; }
};

}  // namespace records
