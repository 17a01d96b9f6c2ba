#include "writing/solver_input.h"

#include <array>
#include <cstdio>
#include <ctime>

#include "format/free_form.h"
#include "format/layout.h"

namespace writing {
namespace {

using format::ExpField;
using format::FixedField;
using format::IntField;
using format::Literal;
using format::RecordBreak;
using format::Skip;
using format::TextField;

constexpr format::EditDescriptor title_descriptors[] = {
    Literal(" A BEM Model from STL Data for Acoustic Wave Analysis,"),
    Skip(12),
    TextField(9),
};

// The solver's fixed parameters: job and solver type, problem space and
// symmetry, the model's counts, incident waves and sources, sound speed,
// density and reference values, the one frequency, and the integration
// switches. Only the counts and the three real fields are items.
constexpr format::EditDescriptor parameter_descriptors[] = {
    Literal("  Complete      1                     ! Job Type (Complete/Field Only); Solver Type "
            "(1=FMM/2=ACA/3=CBEM)"),
    RecordBreak(),
    Literal("      Full      0      0.d0           ! Problem Space, Symmetry Plane, Symmetry "
            "Plane Property (1=Rigid; -1=Soft)"),
    RecordBreak(),
    IntField(10, 2),
    Skip(1),
    IntField(6, 2),
    Literal("     ! Nos. of Boundary Elements/Nodes and Field Points/Cells"),
    RecordBreak(),
    Literal("      0         0                     ! No. of plane incident waves (nplane), User "
            "defined sources (1=Yes/0=No)"),
    RecordBreak(),
    Literal("      0                               ! No. of point sources (nsource)"),
    RecordBreak(),
    FixedField(10, 2, 2),
    Literal("   2.d-5 1.d-12   ! cspeed (c), density (rou), Ref. pressure (p_ref), Ref. "
            "intensity (I_ref)"),
    RecordBreak(),
    FixedField(10, 2, 2),
    Literal("   1     0      0 ! Freq1, Freq2, No. freqs, NOctave, Update BCs for each frequency "
            "(1=Yes/0=No)"),
    RecordBreak(),
    Literal("      0         3      1     0        ! Use of HBIE (1=Yes/0=No), nruleb (1-6), "
            "nrulef (1-6), animation (1=Yes/0=No)"),
};

constexpr format::EditDescriptor node_descriptors[] = {
    IntField(8),
    ExpField(24, 15, 'D', 3),
};

constexpr format::EditDescriptor element_descriptors[] = {
    IntField(10),          Skip(3),      IntField(8, 3), Skip(5), Literal("   2   (0.D+00,"),
    ExpField(24, 15, 'D'), Literal(")"),
};

constexpr double SOUND_SPEED = 343.0;
constexpr double DENSITY = 1.29;
constexpr double FREQUENCY = 54.59;

}  // namespace

std::string local_date_text() {
  static constexpr std::array<const char*, 12> months = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                         "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::array<char, 16> text{};
  std::snprintf(text.data(), text.size(), "%02d-%s-%02d", local.tm_mday,
                months[static_cast<std::size_t>(local.tm_mon)], (local.tm_year + 1900) % 100);
  return std::string(text.data(), 9);
}

std::array<records::RecordSection, 2> solver_input_sections(const mesh::MeshView& mesh) {
  using format::Item;
  using format::RecordChunk;
  // Records [first, end) of each section, 0-based.
  const auto render_nodes = [mesh](RecordChunk& chunk, std::int64_t first, std::int64_t end) {
    const double* xyz = mesh.node_xyz + 3 * first;
    for (auto node = static_cast<std::int32_t>(first + 1); node <= end; ++node, xyz += 3) {
      const Item items[] = {node, xyz[0], xyz[1], xyz[2]};
      format::write_layout<node_descriptors>(chunk, items);
    }
  };
  const auto render_elements = [](RecordChunk& chunk, std::int64_t first, std::int64_t end) {
    for (auto element = static_cast<std::int32_t>(first + 1); element <= end; ++element) {
      const std::int32_t node = mesh::first_node(element);
      const Item items[] = {element, node, node + 1, node + 2, mesh::BOUNDARY_VALUE};
      format::write_layout<element_descriptors>(chunk, items);
    }
  };
  constexpr std::size_t node_length = format::longest_record(node_descriptors);
  constexpr std::size_t element_length = format::longest_record(element_descriptors);
  using records::RecordSection;
  return {
      RecordSection{   DECK_NODES,  mesh.node_count,    node_length,    render_nodes},
      RecordSection{DECK_ELEMENTS, mesh.facet_count, element_length, render_elements},
  };
}

records::Status write_solver_input(records::OutputChannel& deck, const mesh::MeshView& mesh,
                                   std::string_view date_text, records::RenderAhead& sections) {
  using format::Item;

  const Item title[] = {date_text};
  format::write_layout<title_descriptors>(deck, title);

  const Item parameters[] = {mesh.facet_count, mesh.node_count, 0,         0,
                             SOUND_SPEED,      DENSITY,         FREQUENCY, FREQUENCY};
  format::write_layout<parameter_descriptors>(deck, parameters);

  format::write_free_form(deck, {"$ Nodes:"});
  if (records::Status s = sections.write_section(DECK_NODES, deck); !s.ok()) return s;
  format::write_free_form(deck, {"$ Elements and Boundary Conditions:"});
  if (records::Status s = sections.write_section(DECK_ELEMENTS, deck); !s.ok()) return s;
  format::write_free_form(deck, {"$ End of the File"});
  // A refused write shows here, before the mesh view is begun.
  return deck.flush();
}

}  // namespace writing
