// The layer check that runs at every build: on a copy of the source tree
// with one bad file planted, it must refuse each kind of include that
// breaks the layers, and pass the tree as it is.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::TempDir;

const fs::path SOURCE_ROOT = fs::path(STLDECK_TEST_DATA).parent_path().parent_path();

struct Checked {
  int status = -1;
  std::string complaint;
};

// Runs the layer check on the tree under root; its complaints come back.
Checked check_layers(const fs::path& root) {
  const std::string command =
      (SOURCE_ROOT / "tools" / "check_layers.sh").string() + " " + root.string() + " 2>&1";
  Checked checked;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return checked;
  char block[4096];
  for (std::size_t got; (got = std::fread(block, 1, sizeof block, pipe)) > 0;) {
    checked.complaint.append(block, got);
  }
  const int status = ::pclose(pipe);
  checked.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return checked;
}

TEST(Layers, TheTreeAsItIsPasses) {
  const Checked checked = check_layers(SOURCE_ROOT);
  EXPECT_EQ(checked.status, 0) << checked.complaint;
}

TEST(Layers, RefusesIncludesAgainstTheLayersAndCircles) {
  // A file planted under src/ with one line of includes, and a part of
  // what the check must say about it. The circle is closed by fields.h,
  // which the test makes include the planted header in turn.
  struct Plant {
    const char* file;
    const char* text;
    const char* complaint;
  };
  const Plant plants[] = {
      {"format/p.h", "#include \"records/status.h\"", "includes \"records/status.h\""},
      {"format/p.h", "#include <records/output_channel.h>", "\"records/output_channel.h\""},
      {"records/p.cpp", "  #  include   <writing/mesh_view.h>", "records may include only"},
      {"reading/p.cpp", "#include \"writing/solver_input.h\"", "reading may include only"},
      {"format/p.h", "#include \"format/fields.h\"", "each other in a circle"},
      {"extra/p.h", "", "src/extra"},
      {"companion/p.cpp", "#include \"deck/deck_head.h\"", "companion may include only"},
      {"deck/p.cpp", "#include \"check/options.h\"", "deck may include only"},
      {"companion/p.cpp", "#include \"check/options.h\"", "companion may include only"},
      {"companion/p.h", "#include \"records/status.h\"", "companion may include only"},
      {"companion/p.cpp", "#include \"prepare/options.h\"", "companion may include only"},
      {"io/p.cpp", "#include \"records/channel_table.h\"", "io may include only"},
      {"io/p.h", "#include <reading/stl_scanner.h>", "io may include only"},
      {"reading/p.cpp", "#include \"records/endings.h\"", "reading may include only"},
      {"mesh/p.cpp", "#include \"geometry/large_table.h\"", "mesh may include only"},
      {"check/p.cpp", "#include \"run_sequence.h\"", "check may include only"},
  };
  for (const Plant& plant : plants) {
    SCOPED_TRACE(std::string(plant.file) + ": " + plant.text);
    TempDir tree;
    fs::copy(SOURCE_ROOT / "src", tree / "src", fs::copy_options::recursive);
    fs::create_directories((tree / "src" / plant.file).parent_path());
    testing_support::write_file(tree / "src" / plant.file, std::string(plant.text) + "\n");
    const fs::path fields = tree / "src" / "format" / "fields.h";
    testing_support::write_file(fields,
                                testing_support::read_file(fields) + "#include \"format/p.h\"\n");
    const Checked checked = check_layers(tree.path());
    EXPECT_EQ(checked.status, 1);
    EXPECT_NE(checked.complaint.find(plant.complaint), std::string::npos) << checked.complaint;
  }
}

TEST(Layers, RefusesACircleThroughAHeaderAndItsSource) {
  // p.cpp includes q.h and q.h includes p.h: no file reaches itself, but
  // the pieces p and q need each other.
  TempDir tree;
  fs::copy(SOURCE_ROOT / "src", tree / "src", fs::copy_options::recursive);
  testing_support::write_file(tree / "src" / "format" / "p.h", "\n");
  testing_support::write_file(tree / "src" / "format" / "p.cpp", "#include \"format/q.h\"\n");
  testing_support::write_file(tree / "src" / "format" / "q.h", "#include \"format/p.h\"\n");
  const Checked checked = check_layers(tree.path());
  EXPECT_EQ(checked.status, 1);
  EXPECT_NE(checked.complaint.find("src/format/p"), std::string::npos) << checked.complaint;
  EXPECT_NE(checked.complaint.find("src/format/q"), std::string::npos) << checked.complaint;
}

}  // namespace
