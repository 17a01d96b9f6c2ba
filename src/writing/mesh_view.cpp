#include "writing/mesh_view.h"

#include "format/free_form.h"
#include "format/layout.h"

namespace writing {
namespace {

constexpr format::EditDescriptor node_descriptors[] = {format::ExpField(15, 7, 'E', 3)};
constexpr format::EditDescriptor element_descriptors[] = {format::IntField(15, 3)};

// The second header record names the file's zones for a human reader. Tecplot
// readers take a record that starts with "#" as a comment, and stop at a
// record whose first word they do not know, so this record starts with "#"
// in column 1 rather than the blank of a free-form record.
constexpr std::string_view ZONES_RECORD = "#ZONES\" ";

}  // namespace

std::array<records::RecordSection, 2> mesh_view_sections(const mesh::MeshView& mesh) {
  using format::Item;
  using format::RecordChunk;
  // Records [first, end) of each section, 0-based.
  const auto render_nodes = [mesh](RecordChunk& chunk, std::int64_t first, std::int64_t end) {
    const double* xyz = mesh.node_xyz + 3 * first;
    for (std::int64_t node = first; node < end; ++node, xyz += 3) {
      const Item items[] = {xyz[0], xyz[1], xyz[2]};
      format::write_layout<node_descriptors>(chunk, items);
    }
  };
  const auto render_elements = [](RecordChunk& chunk, std::int64_t first, std::int64_t end) {
    for (auto element = static_cast<std::int32_t>(first + 1); element <= end; ++element) {
      const std::int32_t node = mesh::first_node(element);
      const Item items[] = {node, node + 1, node + 2};
      format::write_layout<element_descriptors>(chunk, items);
    }
  };
  constexpr std::size_t node_length = format::longest_record(node_descriptors);
  constexpr std::size_t element_length = format::longest_record(element_descriptors);
  using records::RecordSection;
  return {
      RecordSection{VIEW_NODES, mesh.node_count, node_length, render_nodes},
      RecordSection{VIEW_ELEMENTS, mesh.facet_count, element_length, render_elements},
  };
}

records::Status write_mesh_view(records::OutputChannel& view, const mesh::MeshView& mesh,
                                records::RenderAhead& sections) {
  format::write_free_form(view, {"TITLE = \"A BEM Model for Acoustic Analysis\" "});
  view.write_record(ZONES_RECORD);
  format::write_free_form(view, {"VARIABLES = \"X\", \"Y\", \"Z\" "});
  // The element count and DATAPACKING are separated only by the cut at 80
  // columns, which always falls between them: both counts take 12 columns.
  format::write_free_form(view, {"ZONE T=\"Model\", N=", mesh.node_count, ", E=", mesh.facet_count,
                                 "DATAPACKING=POINT, ZONETYPE=FETRIANGLE"});
  if (records::Status s = sections.write_section(VIEW_NODES, view); !s.ok()) return s;
  format::write_free_form(view, {});
  if (records::Status s = sections.write_section(VIEW_ELEMENTS, view); !s.ok()) return s;
  // A refused write shows here, before the completion notice.
  return view.flush();
}

}  // namespace writing
