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
  struct Plant {
    const char* name;
    const char* file;       // under src/
    const char* text;       // its content
    const char* complaint;  // a part of what the check must say
  };
  const Plant plants[] = {
      {         "formatting including I/O, quoted form",    "format/planted.h",
       "#include \"records/status.h\"\n",         "src/format/planted.h includes \"records/status.h\""                                            },
      {          "formatting including I/O, angle form",    "format/planted.h",
       "#include <records/output_channel.h>\n", "src/format/planted.h includes \"records/output_channel.h\""                                      },
      {"I/O including a writer, angle form with blanks", "records/planted.cpp",
       "  #  include   <writing/mesh_view.h>\n",                   "records may include only: format numeric"                                     },
      {           "a layer including the one beside it", "reading/planted.cpp",
       "#include \"writing/solver_input.h\"\n",                                   "reading may include only"                                      },
      {  "two files of one folder including each other",    "format/planted.h",
       "#include \"format/fields.h\"\n// fields.h includes this file in turn\n",                       "files include each other in a circle"     },
      {              "a folder the table does not know",     "extra/planted.h", "\n",                                                  "src/extra"},
  };
  for (const Plant& plant : plants) {
    SCOPED_TRACE(plant.name);
    TempDir tree;
    fs::copy(SOURCE_ROOT / "src", tree / "src", fs::copy_options::recursive);
    fs::create_directories((tree / "src" / plant.file).parent_path());
    testing_support::write_file(tree / "src" / plant.file, plant.text);
    if (std::string(plant.name).starts_with("two files")) {
      const fs::path fields = tree / "src" / "format" / "fields.h";
      testing_support::write_file(
          fields, testing_support::read_file(fields) + "#include \"format/planted.h\"\n");
    }
    const Checked checked = check_layers(tree.path());
    EXPECT_EQ(checked.status, 1);
    EXPECT_NE(checked.complaint.find(plant.complaint), std::string::npos) << checked.complaint;
  }
}

}  // namespace
