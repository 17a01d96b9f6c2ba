// make_model FACETS [OUTPUT] [--crlf]
//
// Writes an ASCII STL model of exactly FACETS facets: a torus, laid out the
// way CAD exporters write their files. Without OUTPUT the model goes to
// standard output; OUTPUT may be a named pipe, since the file is written
// strictly forward. The same FACETS always gives the same bytes on the same
// machine, so benchmarks and tests can rebuild a model instead of storing it.
//
// A model of a few million facets runs to hundreds of megabytes, so the
// generator formats each grid point once and reuses its text for the six
// triangles that share it, formats numbers with std::to_chars, and writes
// through one large buffer.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

constexpr std::string_view SOLID_NAME = "torus";
constexpr double MAJOR_RADIUS = 40.0;
constexpr double MINOR_RADIUS = 15.0;

// Widest "%.6g" text of a double: "-1.23457e-308" is 13 characters.
constexpr std::size_t NUMBER_WIDTH = 13;
// A vertex's text "x y z", three numbers and two blanks.
constexpr std::size_t POINT_TEXT_WIDTH = 3 * NUMBER_WIDTH + 2;
// The widest facet with CR LF line ends stays well below this; the buffer is
// flushed whenever less than this is left free.
constexpr std::size_t FACET_ROOM = 512;
constexpr std::size_t BUFFER_SIZE = std::size_t{8} << 20;

struct Vec3 {
  double x;
  double y;
  double z;
};

Vec3 operator-(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Unit normal of the triangle a, b, c, counter-clockwise seen from outside.
// A degenerate triangle gets the zero vector, as exporters write it.
Vec3 facet_normal(const Vec3& a, const Vec3& b, const Vec3& c) {
  const Vec3 n = cross(b - a, c - a);
  const double length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
  if (!(length > 0.0)) return {0.0, 0.0, 0.0};
  return {n.x / length, n.y / length, n.z / length};
}

// The text printf("%.6g") gives. Negative zero is written as "0": exporters
// do not write "-0", and it would only make the model look odd.
char* put_number(char* out, double value) {
  if (value == 0.0) value = 0.0;
  const std::to_chars_result result =
      std::to_chars(out, out + NUMBER_WIDTH, value, std::chars_format::general, 6);
  return result.ptr;  // cannot fail: NUMBER_WIDTH holds every double
}

char* put_text(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

struct PointText {
  std::array<char, POINT_TEXT_WIDTH> chars;
  std::size_t size;
};

PointText format_point(const Vec3& p) {
  PointText text{};
  char* out = text.chars.data();
  out = put_number(out, p.x);
  *out++ = ' ';
  out = put_number(out, p.y);
  *out++ = ' ';
  out = put_number(out, p.z);
  text.size = static_cast<std::size_t>(out - text.chars.data());
  return text;
}

// Writes the model through one buffer; every write and the close are checked.
class ModelWriter {
 public:
  ModelWriter(std::FILE* file, bool crlf) : file_(file), crlf_(crlf), buffer_(BUFFER_SIZE) {}

  // Room for at least FACET_ROOM more characters.
  char* reserve() {
    if (BUFFER_SIZE - used_ < FACET_ROOM) flush();
    return buffer_.data() + used_;
  }
  void commit(char* end) { used_ = static_cast<std::size_t>(end - buffer_.data()); }

  char* put_line_end(char* out) const {
    if (crlf_) *out++ = '\r';
    *out++ = '\n';
    return out;
  }

  void put_line(std::string_view line) {
    // Only the solid lines come through here; their text is short.
    char* out = reserve();
    out = put_text(out, line);
    commit(put_line_end(out));
  }

  void flush() {
    if (used_ == 0) return;
    if (std::fwrite(buffer_.data(), 1, used_, file_) != used_) failed_ = true;
    used_ = 0;
  }

  // False when any write or the close failed.
  bool close() {
    flush();
    if (std::fflush(file_) != 0) failed_ = true;
    if (file_ != stdout) {
      if (std::fclose(file_) != 0) failed_ = true;
    }
    file_ = nullptr;
    return !failed_;
  }

 private:
  std::FILE* file_;
  bool crlf_;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
  bool failed_ = false;
};

struct Vertex {
  Vec3 position;
  const PointText* text;
};

void write_facet(ModelWriter& writer, const Vertex& a, const Vertex& b, const Vertex& c) {
  const PointText normal = format_point(facet_normal(a.position, b.position, c.position));
  char* out = writer.reserve();
  out = put_text(out, "  facet normal ");
  out = put_text(out, std::string_view(normal.chars.data(), normal.size));
  out = writer.put_line_end(out);
  out = put_text(out, "    outer loop");
  out = writer.put_line_end(out);
  for (const Vertex* corner : {&a, &b, &c}) {
    out = put_text(out, "      vertex ");
    out = put_text(out, std::string_view(corner->text->chars.data(), corner->text->size));
    out = writer.put_line_end(out);
  }
  out = put_text(out, "    endloop");
  out = writer.put_line_end(out);
  out = put_text(out, "  endfacet");
  writer.commit(writer.put_line_end(out));
}

// The torus grid: rings around the major axis (index u) of tube_points
// points each (index v). Every grid quad gives two triangles. The grid is
// chosen with about twice as many rings as points per ring, so the quads stay
// close to square, and large enough for the requested count; the surplus
// triangles at the end of the last ring are simply left out.
struct Grid {
  std::int64_t rings;
  std::int64_t tube_points;
};

Grid choose_grid(std::int64_t facets) {
  const auto tube_points = std::max<std::int64_t>(
      3, static_cast<std::int64_t>(std::sqrt(static_cast<double>(facets) / 4.0)));
  const std::int64_t quads_needed = (facets + 1) / 2;
  const std::int64_t rings =
      std::max<std::int64_t>(3, (quads_needed + tube_points - 1) / tube_points);
  return {rings, tube_points};
}

// cos and sin of k * 2 pi / count for k = 0 .. count-1. Closing the surface
// with index k mod count makes the seams meet with identical coordinates.
std::vector<std::array<double, 2>> unit_circle(std::int64_t count) {
  std::vector<std::array<double, 2>> table(static_cast<std::size_t>(count));
  for (std::size_t k = 0; k < table.size(); ++k) {
    const double angle =
        2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(count);
    table[k] = {std::cos(angle), std::sin(angle)};
  }
  return table;
}

struct Ring {
  std::vector<Vec3> positions;
  std::vector<PointText> texts;
};

void fill_ring(Ring& ring, const std::array<double, 2>& around,
               const std::vector<std::array<double, 2>>& tube) {
  for (std::size_t v = 0; v < tube.size(); ++v) {
    const double distance = MAJOR_RADIUS + MINOR_RADIUS * tube[v][0];
    ring.positions[v] = {distance * around[0], distance * around[1], MINOR_RADIUS * tube[v][1]};
    ring.texts[v] = format_point(ring.positions[v]);
  }
}

void write_model(ModelWriter& writer, std::int64_t facets) {
  writer.put_line("solid " + std::string(SOLID_NAME));
  if (facets > 0) {
    const Grid grid = choose_grid(facets);
    const auto around = unit_circle(grid.rings);
    const auto tube = unit_circle(grid.tube_points);
    const std::size_t points = tube.size();
    Ring current{std::vector<Vec3>(points), std::vector<PointText>(points)};
    Ring next = current;
    fill_ring(current, around[0], tube);
    std::int64_t written = 0;
    for (std::size_t u = 0; written < facets; ++u) {
      fill_ring(next, around[(u + 1) % around.size()], tube);
      for (std::size_t v = 0; v < points && written < facets; ++v) {
        const std::size_t w = (v + 1) % points;
        const Vertex p00{current.positions[v], &current.texts[v]};
        const Vertex p10{next.positions[v], &next.texts[v]};
        const Vertex p11{next.positions[w], &next.texts[w]};
        const Vertex p01{current.positions[w], &current.texts[w]};
        write_facet(writer, p00, p10, p11);
        if (++written == facets) break;
        write_facet(writer, p00, p11, p01);
        ++written;
      }
      std::swap(current, next);
    }
  }
  writer.put_line("endsolid " + std::string(SOLID_NAME));
}

int usage() {
  std::fputs(
      "usage: make_model FACETS [OUTPUT] [--crlf]\n"
      "  Writes an ASCII STL torus of exactly FACETS facets to OUTPUT\n"
      "  (standard output when absent); --crlf ends lines with CR LF.\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> positional;
  bool crlf = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--crlf") {
      crlf = true;
    } else if (argument == "-h" || argument == "--help") {
      usage();
      return 0;
    } else {
      positional.push_back(argument);
    }
  }
  if (positional.empty() || positional.size() > 2) return usage();

  // Up to a billion facets: far beyond any model worth writing, and small
  // enough that every count below stays exact in a double.
  constexpr std::int64_t MAX_FACETS = 1'000'000'000;
  std::int64_t facets = -1;
  const std::string_view count_text = positional[0];
  const auto [end, error] =
      std::from_chars(count_text.data(), count_text.data() + count_text.size(), facets);
  if (error != std::errc{} || end != count_text.data() + count_text.size() || facets < 0 ||
      facets > MAX_FACETS) {
    std::fprintf(stderr, "make_model: FACETS must be a whole number from 0 to %lld, not \"%.*s\"\n",
                 static_cast<long long>(MAX_FACETS), static_cast<int>(count_text.size()),
                 count_text.data());
    return 2;
  }

  std::FILE* file = stdout;
  std::string output_name = "standard output";
  if (positional.size() == 2) {
    output_name = std::string(positional[1]);
    file = std::fopen(output_name.c_str(), "wb");
    if (file == nullptr) {
      std::perror(("make_model: cannot open " + output_name).c_str());
      return 1;
    }
  }
  // Our own buffer does the batching; a second copy through stdio's would
  // only cost time.
  std::setvbuf(file, nullptr, _IONBF, 0);

  ModelWriter writer(file, crlf);
  write_model(writer, facets);
  if (!writer.close()) {
    std::fprintf(stderr, "make_model: writing %s failed\n", output_name.c_str());
    return 1;
  }
  return 0;
}
