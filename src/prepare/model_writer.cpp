#include "prepare/model_writer.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "companion/units.h"
#include "format/plain_number.h"
#include "prepare/coordinate_text.h"

namespace prepare {
namespace {

constexpr std::size_t BUFFER_BYTES = std::size_t{4} << 20;
// One facet's text stays well below this.
constexpr std::size_t FACET_ROOM = 1024;

constexpr std::string_view SOLID_LINE = "solid model\n";
constexpr std::string_view END_LINE = "endsolid model\n";

char* append(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

}  // namespace

ModelWriter::ModelWriter(io::Nameless nameless, double metres_per_unit)
    : file_("prepare", nameless), buffer_(new char[BUFFER_BYTES]), factor_(metres_per_unit) {}

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

io::Outcome ModelWriter::add_facet(const geometry::Triangle& model_facet) {
  geometry::Triangle facet = model_facet;
  if (factor_ != 1.0) {
    for (geometry::Point& corner : facet) {
      for (double& value : corner) {
        if (companion::scales_out_of_range(value, factor_)) {
          return io::Failure{"cannot write the model in metres",
                             {},
                             0,
                             "the coordinate " + format::general_text(value, 17) +
                                 " has no normal value once multiplied by " +
                                 format::general_text(factor_, 6)};
        }
        value *= factor_;
      }
    }
  }
  if (BUFFER_BYTES - used_ < FACET_ROOM) {
    if (io::Outcome flushed = flush(); !flushed.ok()) return flushed;
  }
  char* out = buffer_.get() + used_;
  out = append(out, "  facet normal");
  for (const double component : geometry::unit_normal(facet)) {
    *out++ = ' ';
    out += render_normal_component(component, out);
  }
  out = append(out, "\n  outer loop\n");
  for (const geometry::Point& corner : facet) {
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
