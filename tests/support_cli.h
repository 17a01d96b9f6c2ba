// Running the companions from the tests: stldeck-check and stldeck-prepare
// in a test's folder, with the settings their tests share, and reading their
// JSON objects.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "support.h"

namespace testing_support {

struct CompanionRun {
  bool on_terminal = false;                    // standard output and error on a terminal
  bool unprivileged = false;                   // drop root, so that file modes apply
  unsigned long long address_space_limit = 0;  // bytes; 0 for none
  unsigned long long file_size = 0;            // a limit on the files written, bytes; 0 for none
  // A run that takes longer is ended by an alarm (status -1); 0 for none.
  unsigned timeout_seconds = 0;
};

// Runs stldeck-check, or stldeck-prepare, in dir and waits for it. A check
// is given a minute unless the setup says otherwise; a preparation, which
// may remesh a large model, is given all the time it takes.
RunResult run_check(const TempDir& dir, const std::vector<std::string>& arguments,
                    const CompanionRun& setup = {});
RunResult run_prepare(const TempDir& dir, const std::vector<std::string>& arguments,
                      const CompanionRun& setup = {});
// Runs any program in dir with the same settings.
RunResult run_companion(const char* program, const TempDir& dir,
                        const std::vector<std::string>& arguments, const CompanionRun& setup = {});

// The text of one top-level key's value in a companion's JSON object, which
// puts each key on a line of its own; "<missing>" when it has no such key.
std::string json_value(const std::string& json, std::string_view key);

}  // namespace testing_support
