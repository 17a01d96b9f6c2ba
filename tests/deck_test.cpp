// The deck command: decks fresh from the converter, edited by the command,
// and damaged in the ways a deck is damaged, with their verdicts; settings
// at their fields' limits; the bytes outside the rewritten records; a kill
// at every system call of a setting; the converter's lock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support.h"
#include "support_cli.h"

namespace {

namespace fs = std::filesystem;
using testing_support::RunResult;
using testing_support::TempDir;

RunResult run_deck(const TempDir& dir, const std::vector<std::string>& arguments,
                   const std::vector<std::string>& wrapper = {}) {
  return testing_support::run_program(
      STLDECK_DECK_EXE, dir.path(),
      {.arguments = arguments, .wrapper = wrapper, .timeout_seconds = 60});
}

// The byte where line `number` (1-based) of a file with CR LF records begins.
std::size_t line_start(const std::string& text, std::size_t number) {
  std::size_t at = 0;
  for (std::size_t k = 1; k < number; ++k) at = text.find("\r\n", at) + 2;
  return at;
}
std::string line_of(const std::string& text, std::size_t number) {
  const std::size_t at = line_start(text, number);
  return text.substr(at, text.find("\r\n", at) - at);
}

// A folder holding the sample torus (576 facets) converted by stldeck.
class Converted {
 public:
  explicit Converted(const std::string& stl =
                         testing_support::read_file(fs::path(STLDECK_EXAMPLES) / "STL_Model.stl")) {
    dir.write("STL_Model.stl", stl);
    const RunResult converted = testing_support::run_converter(dir.path());
    EXPECT_EQ(converted.status, 0) << converted.err;
    deck = dir.read("input.dat");
    view = dir.read("input.plt");
  }
  TempDir dir;
  std::string deck;
  std::string view;
};

// The value of one key in a JSON object that puts each key on its own line.
std::string json_value(const std::string& json, std::string_view key) {
  const std::string marker = "\"" + std::string(key) + "\": ";
  const std::size_t at = json.find(marker);
  if (at == std::string::npos) return "<absent>";
  const std::size_t begin = at + marker.size();
  std::size_t end = json.find('\n', begin);
  if (json[end - 1] == ',') --end;
  return json.substr(begin, end - begin);
}

// ---------------------------------------------------------------------------
// Verdicts

TEST(DeckVerdicts, TableOfDecks) {
  const Converted other(testing_support::data_file("one_facet_deck.stl"));
  using Edit = std::function<void(std::string & deck, std::string & view)>;
  struct Case {
    const char* name;
    Edit edit;
    std::vector<std::string> arguments;
    int status;
    std::string_view said;  // part of standard output or error
  };
  const auto replace_in_line = [](std::string& text, std::size_t line, std::size_t column,
                                  std::string_view with) {
    text.replace(line_start(text, line) + column - 1, with.size(), with);
  };
  const auto row = [](const char* name, Edit edit, std::vector<std::string> arguments, int status,
                      std::string_view said) {
    return Case{name, std::move(edit), std::move(arguments), status, said};
  };
  const Case cases[] = {
      row(
          "fresh from stldeck: whole, too coarse for 54.59 Hz", [](auto&, auto&) {}, {}, 1,
          "elements too coarse for 54.59 Hz: 0.39049 per wavelength"),
      row(
          "fresh, verified at its own frequency", [](auto&, auto&) {}, {"--json"}, 1,
          "\"whole\": true"),
      row(
          "fresh, and fine enough with 1 element per wavelength", [](auto&, auto&) {},
          {"--elements-per-wavelength", "0.39"}, 0, "ready for the solver"),
      row(
          "cut short", [](std::string& d, auto&) { d.resize(d.size() - 100); }, {}, 2,
          "190978 bytes where 576 elements make 191078 (998 + 330 m): cut short"),
      row(
          "cut inside the head", [](std::string& d, auto&) { d.resize(600); }, {}, 2,
          "record 7: the file ends before it"),
      row(
          "a record too many", [](std::string& d, auto&) { d += " $ End of the File\r\n"; }, {}, 2,
          "191098 bytes where 576 elements make 191078"),
      row(
          "no end record", [&](std::string& d, auto&) { replace_in_line(d, 2316, 4, "Fin"); }, {},
          2, "the last record is not the end record"),
      row(
          "a view of another model", [&](auto&, std::string& v) { v = other.view; }, {}, 1,
          "is of another model"),
      row(
          "a view whose coordinate differs in its 7th digit",
          [&](auto&, std::string& v) {
            std::string& line = v;
            const std::size_t at = line_start(line, 6 + 4) + 1 + 15 + 8;  // node 5's y
            line[at] = line[at] == '9' ? '8' : static_cast<char>(line[at] + 1);
          },
          {"--json"}, 1, "node 5 has"),
      row(
          "a view whose element lists other nodes",
          [&](auto&, std::string& v) { replace_in_line(v, 5 + 1728 + 1 + 7, 14, "2"); }, {}, 1,
          "element line 7 does not list nodes 19-21"),
      row(
          "CR LF lost",
          [](std::string& d, auto&) {
            std::string lf;
            for (const char c : d)
              if (c != '\r') lf += c;
            d = lf;
          },
          {}, 2, "CR LF lost"),
      row(
          "Freq1 shifted one column by a hand edit",
          [&](std::string& d, auto&) { replace_in_line(d, 8, 1, "    54.59 "); }, {}, 2,
          "record 8: columns 1-10 (Freq1) hold '    54.59 '"),
      row(
          "the count shifted into NOctave's columns",
          [&](std::string& d, auto&) { replace_in_line(d, 8, 21, "    1"); }, {}, 2,
          "record 8: columns 21-24 (No. freqs)"),
      row(
          "a typo in the sound speed",
          [&](std::string& d, auto&) { replace_in_line(d, 7, 1, "    3a3.00"); }, {}, 2,
          "record 7: columns 1-10 (cspeed)"),
      row(
          "another solver type digit",
          [&](std::string& d, auto&) { replace_in_line(d, 2, 17, "4"); }, {}, 2,
          "column 17 holds '4'"),
      row(
          "counts that disagree",
          [&](std::string& d, auto&) { replace_in_line(d, 4, 11, "      1727"); }, {}, 2,
          "576 elements and 1727 nodes"),
      row(
          "two node records swapped",
          [&](std::string& d, auto&) {
            const std::size_t a = line_start(d, 12);
            std::swap_ranges(d.begin() + long(a), d.begin() + long(a + 82),
                             d.begin() + long(a + 82));
          },
          {}, 2, "line 12 is not node record 2"),
      row(
          "a coordinate with a letter in it",
          [&](std::string& d, auto&) { replace_in_line(d, 1000, 40, "x"); }, {}, 2,
          "line 1000, columns 33-56"),
      row(
          "an element record with other nodes",
          [&](std::string& d, auto&) { replace_in_line(d, 10 + 1728 + 1 + 300, 21, "9"); }, {}, 2,
          "is not element record 300"),
      row(
          "not a deck: the STL model",
          [&](std::string& d, auto&) {
            d = testing_support::read_file(fs::path(STLDECK_EXAMPLES) / "STL_Model.stl");
          },
          {}, 2, "not a solver deck written by stldeck"),
      row(
          "an empty file", [](std::string& d, auto&) { d.clear(); }, {}, 2, "the file is empty"),
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Converted converted;
    std::string deck = converted.deck;
    std::string view = converted.view;
    c.edit(deck, view);
    converted.dir.write("input.dat", deck);
    converted.dir.write("input.plt", view);
    const RunResult run = run_deck(converted.dir, c.arguments);
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    EXPECT_NE((run.out + run.err).find(c.said), std::string::npos) << run.out << run.err;
    EXPECT_TRUE(run.err.empty() || c.status == 2) << run.err;
    // Verifying changes nothing.
    EXPECT_EQ(converted.dir.read("input.dat"), deck);
  }
}

TEST(DeckVerdicts, EditedByTheCommandAndFineEnoughIsReady) {
  const Converted converted;
  const RunResult set = run_deck(converted.dir, {"--frequencies", "1:3:5"});
  ASSERT_EQ(set.status, 0) << set.err;
  const RunResult shown = run_deck(converted.dir, {"--json"});
  EXPECT_EQ(shown.status, 0) << shown.out;
  EXPECT_EQ(json_value(shown.out, "freq1"), "1");
  EXPECT_EQ(json_value(shown.out, "freq2"), "3");
  EXPECT_EQ(json_value(shown.out, "frequencies"), "5");
  EXPECT_EQ(json_value(shown.out, "view_matches"), "true");
  EXPECT_EQ(json_value(shown.out, "ready"), "true");
}

TEST(DeckVerdicts, SameFiguresWordsAndKeysAsTheCheck) {
  const Converted converted;
  const RunResult deck = run_deck(converted.dir, {"--json"});
  const RunResult check = testing_support::run_check(converted.dir, {"--json"});
  // The deck holds 15 digits of each coordinate: the longest edge agrees
  // with the check's, made from the model's doubles, to about as many.
  for (const std::string_view key :
       {"longest_edge", "wavelength", "elements_per_wavelength", "max_frequency"}) {
    SCOPED_TRACE(key);
    const double from_deck = std::stod(json_value(deck.out, key));
    const double from_check = std::stod(json_value(check.out, key));
    EXPECT_NEAR(from_deck, from_check, 1e-13 * from_check);
  }
  const RunResult deck_rows = run_deck(converted.dir, {});
  const RunResult check_rows = testing_support::run_check(converted.dir, {});
  for (const std::string_view row : {"\n  longest edge            16.0906\n",
                                     "\n  wavelength              6.2832 (343 / 54.59 Hz)\n",
                                     "\n  elements per wavelength 0.39049 (at least 6)\n",
                                     "\n  highest frequency       3.55281 Hz\n"}) {
    EXPECT_NE(deck_rows.out.find(row), std::string::npos) << deck_rows.out;
    EXPECT_NE(check_rows.out.find(row), std::string::npos) << check_rows.out;
  }
}

TEST(DeckVerdicts, TheViewMayShowEitherNeighbourOfATieInTheDecksDigits) {
  // 0.12345675 has 15 digits ending in 50000000 after the 7th: the double
  // stored lies on one side of the tie, which the deck's digits no longer
  // show, so the view may have rounded it either way.
  const std::string stl =
      "solid t\n  facet normal 0 0 1\n    outer loop\n"
      "      vertex 0.12345675 0 0\n      vertex 1 0 0\n      vertex 0 1 0\n"
      "    endloop\n  endfacet\nendsolid t\n";
  const Converted converted(stl);
  ASSERT_NE(converted.deck.find("0.123456750000000D+00"), std::string::npos);
  for (const auto& [digits, status] : std::map<std::string, int>{
           {"0.1234567E+00", 0}, {"0.1234568E+00", 0}, {"0.1234569E+00", 1}}) {
    SCOPED_TRACE(digits);
    std::string view = converted.view;
    view.replace(line_start(view, 6) + 2, digits.size(), digits);
    converted.dir.write("input.plt", view);
    EXPECT_EQ(run_deck(converted.dir, {"--elements-per-wavelength", "1e-9"}).status, status);
  }
}

TEST(DeckVerdicts, NonFiniteCoordinatesAreReadAndAFinding) {
  // The converter writes NaN and infinities as words; the deck is whole,
  // its view the same model, and those nodes a finding.
  const std::string stl =
      "solid t\n  facet normal 0 0 1\n    outer loop\n"
      "      vertex inf 0 0\n      vertex 1 -inf 0\n      vertex 0 1 nan\n"
      "    endloop\n  endfacet\n  facet normal 0 0 1\n    outer loop\n"
      "      vertex 0 0 0\n      vertex 1 0 0\n      vertex 0 1 0\n"
      "    endloop\n  endfacet\nendsolid t\n";
  const Converted converted(stl);
  ASSERT_NE(converted.deck.find("Infinity"), std::string::npos);
  const RunResult run = run_deck(converted.dir, {"--json", "--frequency", "1"});
  ASSERT_EQ(run.status, 0) << run.err;
  const RunResult shown = run_deck(converted.dir, {"--json"});
  EXPECT_EQ(shown.status, 1) << shown.out << shown.err;
  EXPECT_EQ(json_value(shown.out, "whole"), "true");
  EXPECT_EQ(json_value(shown.out, "view_matches"), "true");
  EXPECT_EQ(json_value(shown.out, "nonfinite_nodes"), "3");
  // The finite element alone measures the longest edge.
  EXPECT_EQ(json_value(shown.out, "longest_edge"), "1.4142135623730951");
}

TEST(DeckVerdicts, UnreadableAndMissingFiles) {
  const Converted converted;
  fs::create_directory(converted.dir / "folder");
  ::mkfifo((converted.dir / "pipe").c_str(), 0600);
  struct Case {
    std::vector<std::string> arguments;
    std::string_view said;
  };
  const auto row = [](std::vector<std::string> arguments, std::string_view said) {
    return Case{std::move(arguments), said};
  };
  const Case cases[] = {
      row({"absent.dat"}, "cannot read absent.dat: No such file or directory"),
      row({"folder"}, "cannot read folder: it is a folder"),
      row({"pipe"}, "cannot read pipe: not a regular file"),
      row({"--view", "absent.plt"}, "cannot read the view absent.plt"),
      row({"--view", "input.dat"}, "is the deck itself"),
      row({"--sound-speed", "-1"}, "--sound-speed needs a positive number, not '-1'"),
      row({"--frequency", "1", "--frequencies", "1:2:2"}, "give one of them"),
      row({"--density", "1", "--density", "2"}, "--density is given twice"),
      row({"--view", "input.plt", "--density", "1"}, "do not go with settings"),
      row({"a.dat", "b.dat"}, "only one DECK"),
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    const RunResult run = run_deck(converted.dir, c.arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
  EXPECT_EQ(converted.dir.read("input.dat"), converted.deck);
}

// ---------------------------------------------------------------------------
// Settings

TEST(DeckSettings, EachFieldAtItsLimitAndOnePast) {
  struct Case {
    std::vector<std::string> arguments;
    std::string_view record_7;  // columns 1-20 after the setting; empty when refused
    std::string_view record_8;  // columns 1-30
    std::string_view refusal;
  };
  const auto row = [](std::vector<std::string> arguments, std::string_view record_7,
                      std::string_view record_8, std::string_view refusal) {
    return Case{std::move(arguments), record_7, record_8, refusal};
  };
  const Case cases[] = {
      row({"--sound-speed", "9999999.99"}, "9999999.99      1.29", "     54.59     54.59   1     0",
          ""),
      row({"--sound-speed", "10000000"}, "", "", "at most 9999999.99"),
      row({"--sound-speed", "343000"}, " 343000.00      1.29", "     54.59     54.59   1     0",
          ""),
      row({"--density", "999999.99"}, "    343.00 999999.99", "     54.59     54.59   1     0", ""),
      row({"--density", "1000000"}, "", "", "at most 999999.99"),
      row({"--density", "0.01"}, "    343.00      0.01", "     54.59     54.59   1     0", ""),
      row({"--density", "0.001"}, "", "", "more than two decimals"),
      row({"--frequency", "54.595"}, "", "", "more than two decimals"),
      row({"--frequency", "0"}, "", "", "--frequency needs a positive number, not '0'"),
      row({"--frequency", "nan"}, "", "", "--frequency needs a positive number, not 'nan'"),
      row({"--frequency", "2000"}, "    343.00      1.29", "   2000.00   2000.00   1     0", ""),
      row({"--frequencies", "0.01:999999.99:999"}, "    343.00      1.29",
          "      0.01 999999.99 999     0", ""),
      row({"--frequencies", "1:1000000:2"}, "", "", "at most 999999.99"),
      row({"--frequencies", "9999999.99:9999999.99:1"}, "", "", "at most 999999.99"),
      row({"--frequencies", "1:2:1000"}, "", "", "at most 999"),
      row({"--frequencies", "1:2:0"}, "", "", "a count of at least 1"),
      row({"--frequencies", "2:1:3"}, "", "", "lies above the last"),
      row({"--frequencies", "5:5:2"}, "", "", "must be 1, not 2"),
      row({"--frequencies", "5:5:1"}, "    343.00      1.29", "      5.00      5.00   1     0", ""),
      row({"--frequencies", "1:2"}, "", "", "--frequencies needs F1:F2:N"),
      row({"--octave", "99999"}, "    343.00      1.29", "     54.59     54.59   1 99999", ""),
      row({"--octave", "100000"}, "", "", "at most 99999"),
      row({"--octave", "-1"}, "", "", "--octave needs a whole number of 0 or more, not '-1'"),
      row({"--solver", "cbem"}, "    343.00      1.29", "     54.59     54.59   1     0", ""),
      row({"--solver", "gmres"}, "", "", "--solver needs fmm, aca or cbem, not 'gmres'"),
  };
  const Converted converted;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    converted.dir.write("input.dat", converted.deck);
    const RunResult run = run_deck(converted.dir, c.arguments);
    const std::string deck = converted.dir.read("input.dat");
    ASSERT_EQ(deck.size(), converted.deck.size());
    if (c.refusal.empty()) {
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(line_of(deck, 7).substr(0, 20), c.record_7);
      EXPECT_EQ(line_of(deck, 8).substr(0, 30), c.record_8);
      // The deck the command wrote reads back whole.
      EXPECT_NE(run_deck(converted.dir, {}).status, 2);
    } else {
      EXPECT_EQ(run.status, 2);
      EXPECT_NE(run.err.find(c.refusal), std::string::npos) << run.err;
      EXPECT_EQ(deck, converted.deck);
    }
  }
}

TEST(DeckSettings, EveryByteOutsideTheRewrittenRecordsStaysAsItWas) {
  const Converted converted;
  const RunResult run =
      run_deck(converted.dir, {"--sound-speed", "343000", "--density", "1.2", "--frequencies",
                               "100:2000:20", "--octave", "3", "--solver", "aca", "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(json_value(run.out, "solver"), "\"aca\"");
  EXPECT_EQ(json_value(run.out, "changed"), "true");
  const std::string deck = converted.dir.read("input.dat");
  ASSERT_EQ(deck.size(), converted.deck.size());
  const std::size_t record_2 = line_start(deck, 2);
  const std::size_t record_3 = line_start(deck, 3);
  const std::size_t record_7 = line_start(deck, 7);
  const std::size_t record_9 = line_start(deck, 9);
  std::size_t differing = 0;
  for (std::size_t i = 0; i < deck.size(); ++i) {
    const bool rewritable = (i >= record_2 && i < record_3) || (i >= record_7 && i < record_9);
    if (!rewritable) {
      ASSERT_EQ(deck[i], converted.deck[i]) << "byte " << i;
    } else if (deck[i] != converted.deck[i]) {
      ++differing;
    }
  }
  EXPECT_GT(differing, 0u);
  EXPECT_EQ(line_of(deck, 2),
            "  Complete      2                     ! Job Type (Complete/Field Only); Solver Type "
            "(1=FMM/2=ACA/3=CBEM)");
  EXPECT_EQ(line_of(deck, 7),
            " 343000.00      1.20   2.d-5 1.d-12   ! cspeed (c), density (rou), Ref. pressure "
            "(p_ref), Ref. intensity (I_ref)");
  EXPECT_EQ(line_of(deck, 8),
            "    100.00   2000.00  20     3      0 ! Freq1, Freq2, No. freqs, NOctave, Update BCs "
            "for each frequency (1=Yes/0=No)");
}

TEST(DeckSettings, RefusesADeckThatIsNotWholeAndFilesThatAreNotDecks) {
  const Converted converted;
  fs::create_directory(converted.dir / "folder");
  ::mkfifo((converted.dir / "pipe").c_str(), 0600);
  fs::create_symlink("input.dat", converted.dir / "link.dat");
  std::string cut = converted.deck;
  cut.resize(cut.size() - 84);
  converted.dir.write("cut.dat", cut);
  std::string shifted = converted.deck;
  shifted.replace(line_start(shifted, 7), 10, "   343.00 ");
  converted.dir.write("shifted.dat", shifted);
  struct Case {
    std::string file;
    std::string_view said;
  };
  const Case cases[] = {
      {"cut.dat", "refused to set cut.dat, not a whole deck: 190994 bytes"},
      {"shifted.dat", "refused to set shifted.dat, not a whole deck: record 7"},
      {"folder", "cannot open folder: it is a folder"},
      {"pipe", "cannot open pipe: not a regular file"},
      {"link.dat", "a symbolic link"},
      {"absent.dat", "No such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const RunResult run = run_deck(converted.dir, {"--frequency", "100", c.file});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
  }
  EXPECT_EQ(converted.dir.read("cut.dat"), cut);
  EXPECT_EQ(converted.dir.read("shifted.dat"), shifted);
  EXPECT_EQ(converted.dir.read("input.dat"), converted.deck);
  EXPECT_FALSE(fs::exists(converted.dir / "absent.dat"));
}

// Killed at each system call the setting makes once the deck is open, in
// turn, the deck holds the old records or the new ones, whole.
TEST(DeckSettings, AKillAtAnyMomentLeavesTheOldOrTheNewRecords) {
  if (testing_support::sanitized_build()) GTEST_SKIP() << "the sanitizers add system calls";
  const Converted converted;
  const std::vector<std::string> setting = {"--frequencies", "100:2000:20", "--solver", "cbem"};
  ASSERT_EQ(run_deck(converted.dir, setting).status, 0);
  const std::string set_deck = converted.dir.read("input.dat");
  ASSERT_NE(set_deck, converted.deck);

  // The system calls of a whole run, from the opening of the deck on.
  converted.dir.write("input.dat", converted.deck);
  const std::string trace = (converted.dir / "trace").string();
  ASSERT_EQ(run_deck(converted.dir, setting, {"strace", "-qq", "-o", trace}).status, 0);
  std::istringstream lines(converted.dir.read("trace"));
  std::vector<std::string> calls;
  bool opened = false;
  for (std::string line; std::getline(lines, line);) {
    const std::string name = line.substr(0, line.find('('));
    opened = opened || (name == "openat" && line.find("\"input.dat\"") != std::string::npos);
    if (opened && name.find_first_of(" +<") == std::string::npos) calls.push_back(name);
  }
  ASSERT_GT(calls.size(), 5u);
  std::map<std::string, int> seen_before;
  for (const std::string& early : [&] {
         std::vector<std::string> all;
         std::istringstream again(converted.dir.read("trace"));
         for (std::string line; std::getline(again, line);) {
           if (line.find("\"input.dat\"") != std::string::npos && line.starts_with("openat")) break;
           all.push_back(line.substr(0, line.find('(')));
         }
         return all;
       }()) {
    ++seen_before[early];
  }
  int old_seen = 0;
  int new_seen = 0;
  std::map<std::string, int> occurrence = seen_before;
  for (const std::string& call : calls) {
    const int when = ++occurrence[call];
    SCOPED_TRACE(call + " #" + std::to_string(when));
    converted.dir.write("input.dat", converted.deck);
    const RunResult run =
        run_deck(converted.dir, setting,
                 {"strace", "-qq", "-o", "/dev/null", "-e",
                  "inject=" + call + ":signal=SIGKILL:when=" + std::to_string(when)});
    const std::string deck = converted.dir.read("input.dat");
    EXPECT_TRUE(deck == converted.deck || deck == set_deck) << "a mix at " << call;
    old_seen += deck == converted.deck ? 1 : 0;
    new_seen += deck == set_deck ? 1 : 0;
  }
  // Kills landed both before and after the write.
  EXPECT_GT(old_seen, 0);
  EXPECT_GT(new_seen, 0);
}

TEST(DeckSettings, WaitsForTheLockTheConverterTakes) {
  const Converted converted;
  const int fd = ::open((converted.dir / "input.dat").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  std::thread release([fd] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ::flock(fd, LOCK_UN);
  });
  const auto start = std::chrono::steady_clock::now();
  const RunResult run = run_deck(converted.dir, {"--frequency", "100"});
  const auto waited = std::chrono::steady_clock::now() - start;
  release.join();
  ::close(fd);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_GE(waited, std::chrono::milliseconds(1400));
  EXPECT_NE(run.err.find("waiting for another run to release input.dat"), std::string::npos);
  EXPECT_EQ(line_of(converted.dir.read("input.dat"), 8).substr(0, 20), "    100.00    100.00");
}

}  // namespace

namespace {

// A deck named with terminal controls: shown escaped on a terminal, in the
// summaries and in the errors, and as its bytes in a pipe.
TEST(DeckNames, OnATerminalControlsInNamesAreEscaped) {
  const Converted converted;
  const std::string name = "deck\x1b]0;title\x07\xc2\x9b.dat";
  const std::string shown = "deck\\033]0;title\\007\\302\\233.dat";
  converted.dir.write(name, converted.deck);
  struct Case {
    std::vector<std::string> arguments;
    bool on_terminal;
    int status;            // 1: the torus is too coarse for the deck's frequency
    std::string expected;  // in the summary, or in the error
  };
  const Case cases[] = {
      {{name}, true, 1, shown},
      {{"--frequency", "100", name}, true, 0, shown},
      {{"missing\x1b"
        "c.dat"},
       true,
       2,
       "cannot read missing\\033c.dat"},
      {{"--\x9b"}, true, 2, "'--\\233'"},
      {{name}, false, 1, name},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    const RunResult run = testing_support::run_companion(
        STLDECK_DECK_EXE, converted.dir, c.arguments, {.on_terminal = c.on_terminal});
    EXPECT_EQ(run.status, c.status) << run.err;
    const std::string& said = c.status == 2 ? run.err : run.out;
    EXPECT_NE(said.find(c.expected), std::string::npos) << said;
    if (c.on_terminal) {
      EXPECT_EQ(said.find('\x1b'), std::string::npos) << said;
      EXPECT_EQ(said.find('\x07'), std::string::npos) << said;
    }
  }
}

}  // namespace
