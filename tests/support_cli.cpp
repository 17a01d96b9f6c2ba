#include "support_cli.h"

namespace testing_support {

RunResult run_companion(const char* program, const TempDir& dir,
                        const std::vector<std::string>& arguments, const CompanionRun& setup) {
  return run_program(program, dir.path(),
                     {.arguments = arguments,
                      .stdout_terminal = setup.on_terminal,
                      .stderr_terminal = setup.on_terminal,
                      .as_unprivileged_user = setup.unprivileged,
                      .address_space_limit = setup.address_space_limit,
                      .file_size_limit = setup.file_size,
                      .timeout_seconds = setup.timeout_seconds});
}

RunResult run_check(const TempDir& dir, const std::vector<std::string>& arguments,
                    const CompanionRun& setup) {
  CompanionRun timed = setup;
  if (timed.timeout_seconds == 0) timed.timeout_seconds = 60;
  return run_companion(STLDECK_CHECK_EXE, dir, arguments, timed);
}

RunResult run_prepare(const TempDir& dir, const std::vector<std::string>& arguments,
                      const CompanionRun& setup) {
  return run_companion(STLDECK_PREPARE_EXE, dir, arguments, setup);
}

std::string json_value(const std::string& json, std::string_view key) {
  const std::string label = "\n  \"" + std::string(key) + "\": ";
  const std::size_t at = json.find(label);
  if (at == std::string::npos) return "<missing>";
  const std::size_t start = at + label.size();
  std::size_t end = json.find('\n', start);
  if (json[end - 1] == ',') --end;
  return json.substr(start, end - start);
}

}  // namespace testing_support
