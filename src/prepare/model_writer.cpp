#include "prepare/model_writer.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "prepare/coordinate_text.h"

namespace prepare {
namespace {

constexpr std::size_t BUFFER_BYTES = std::size_t{4} << 20;
// One facet's text stays well below this.
constexpr std::size_t FACET_ROOM = 1024;

constexpr std::string_view SOLID_LINE = "solid model\n";
constexpr std::string_view END_LINE = "endsolid model\n";

// The facet's unit normal by the right-hand rule, scaled first so that the
// cross product neither overflows nor underflows; zero when the corners are
// in a line.
reading::Corner unit_normal(const reading::FacetCorners& facet) {
  std::array<double, 3> u{};
  std::array<double, 3> v{};
  double scale = 0.0;
  for (std::size_t k = 0; k < 3; ++k) {
    u[k] = facet[1][k] - facet[0][k];
    v[k] = facet[2][k] - facet[0][k];
    scale = std::fmax(scale, std::fmax(std::fabs(u[k]), std::fabs(v[k])));
  }
  if (!(scale > 0.0) || !std::isfinite(scale)) return {0.0, 0.0, 0.0};
  for (std::size_t k = 0; k < 3; ++k) {
    u[k] /= scale;
    v[k] /= scale;
  }
  const reading::Corner n = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                             u[0] * v[1] - u[1] * v[0]};
  const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  if (!(length > 0.0)) return {0.0, 0.0, 0.0};
  return {n[0] / length, n[1] / length, n[2] / length};
}

char* append(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

}  // namespace

ModelWriter::ModelWriter(io::Nameless nameless)
    : file_("prepare", nameless), buffer_(new char[BUFFER_BYTES]) {}

io::Outcome ModelWriter::open(const io::ReplacementTarget& target) {
  used_ = 0;
  if (io::Outcome opened = file_.open(target); !opened.ok()) return opened;
  used_ = static_cast<std::size_t>(append(buffer_.get(), SOLID_LINE) - buffer_.get());
  return {};
}

io::Outcome ModelWriter::flush() {
  const std::size_t count = used_;
  used_ = 0;
  return file_.write(std::string_view(buffer_.get(), count));
}

io::Outcome ModelWriter::add_facet(const reading::FacetCorners& facet) {
  if (BUFFER_BYTES - used_ < FACET_ROOM) {
    if (io::Outcome flushed = flush(); !flushed.ok()) return flushed;
  }
  char* out = buffer_.get() + used_;
  out = append(out, "  facet normal");
  for (const double component : unit_normal(facet)) {
    *out++ = ' ';
    out += render_normal_component(component, out);
  }
  out = append(out, "\n  outer loop\n");
  for (const reading::Corner& corner : facet) {
    out = append(out, "  vertex");
    for (const double value : corner) {
      *out++ = ' ';
      out += render_coordinate(value, out);
    }
    *out++ = '\n';
  }
  out = append(out, "  endloop\n  endfacet\n");
  used_ = static_cast<std::size_t>(out - buffer_.get());
  return {};
}

io::Outcome ModelWriter::finish() {
  used_ = static_cast<std::size_t>(append(buffer_.get() + used_, END_LINE) - buffer_.get());
  if (io::Outcome flushed = flush(); !flushed.ok()) return flushed;
  return file_.finish();
}

io::Outcome ModelWriter::commit() { return file_.commit(); }

}  // namespace prepare
