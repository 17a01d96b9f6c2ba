#include "writing/solver_input.h"

#include <array>
#include <cstdio>
#include <ctime>

#include "format/free_form.h"
#include "format/layout.h"
#include "writing/deck_head.h"

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
    Literal(DECK_TITLE),
    Skip(12),
    TextField(9),
};

// The solver's fixed parameters: job and solver type, problem space and
// symmetry, the model's counts, incident waves and sources, sound speed,
// density and reference values, the one frequency, and the integration
// switches. Only the counts and the three real fields are items.
constexpr format::EditDescriptor parameter_descriptors[] = {
    Literal(DECK_JOB),   RecordBreak(),          Literal(DECK_SPACE),
    RecordBreak(),       IntField(10, 2),        Skip(1),
    IntField(6, 2),      Literal(DECK_COUNTS),   RecordBreak(),
    Literal(DECK_WAVES), RecordBreak(),          Literal(DECK_SOURCES),
    RecordBreak(),       FixedField(10, 2, 2),   Literal(DECK_MEDIUM),
    RecordBreak(),       FixedField(10, 2, 2),   Literal(DECK_FREQUENCIES),
    RecordBreak(),       Literal(DECK_SWITCHES),
};

constexpr format::EditDescriptor node_descriptors[] = {
    IntField(8),
    ExpField(24, 15, 'D', 3),
};

constexpr format::EditDescriptor element_descriptors[] = {
    IntField(10),          Skip(3),      IntField(8, 3), Skip(5), Literal("   2   (0.D+00,"),
    ExpField(24, 15, 'D'), Literal(")"),
};

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
      RecordSection{DECK_NODES, mesh.node_count, node_length, render_nodes},
      RecordSection{DECK_ELEMENTS, mesh.facet_count, element_length, render_elements},
  };
}

records::Status write_solver_input(records::OutputChannel& deck, const mesh::MeshView& mesh,
                                   std::string_view date_text, records::RenderAhead& sections) {
  using format::Item;

  const Item title[] = {date_text};
  format::write_layout<title_descriptors>(deck, title);

  const Item parameters[] = {
      mesh.facet_count, mesh.node_count, 0, 0, DECK_SOUND_SPEED, DECK_DENSITY,
      DECK_FREQUENCY,   DECK_FREQUENCY};
  format::write_layout<parameter_descriptors>(deck, parameters);

  format::write_free_form(deck, {DECK_NODES_HEADING.substr(1)});
  if (records::Status s = sections.write_section(DECK_NODES, deck); !s.ok()) return s;
  format::write_free_form(deck, {DECK_ELEMENTS_HEADING.substr(1)});
  if (records::Status s = sections.write_section(DECK_ELEMENTS, deck); !s.ok()) return s;
  format::write_free_form(deck, {DECK_END.substr(1)});
  // A refused write shows here, before the mesh view is begun.
  return deck.flush();
}

}  // namespace writing
