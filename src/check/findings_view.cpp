#include "check/findings_view.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "companion/tecplot_zones.h"
#include "geometry/nesting.h"

namespace check {
namespace {

using geometry::Point;
using geometry::SideKind;
using geometry::Triangle;

// A finding's zone: each element three points, the last two equal for an
// edge.
struct Zone {
  std::string title;
  std::vector<Triangle> elements;
};

// The edges of one kind, each once (by its two vertex ids), drawn between
// the corners of the first facet that holds it, in facet order.
std::vector<Triangle> edges_of_kind(std::span<const Triangle> facets, const MeshAnalysis& analysis,
                                    SideKind kind) {
  struct Side {
    std::uint64_t key;  // lower vertex id, higher vertex id
    std::uint32_t facet;
    std::uint32_t side;
  };
  std::vector<Side> sides;
  for (std::size_t f = 0; f < facets.size(); ++f) {
    for (std::uint32_t side = 0; side < 3; ++side) {
      if (analysis.topology.sides[f][side] != kind) continue;
      const geometry::VertexIds& ids = analysis.vertex_ids[f];
      const std::uint32_t a = ids[side];
      const std::uint32_t b = ids[(side + 1) % 3];
      sides.push_back({std::uint64_t{std::min(a, b)} << 32 | std::max(a, b),
                       static_cast<std::uint32_t>(f), side});
    }
  }
  std::stable_sort(sides.begin(), sides.end(),
                   [](const Side& x, const Side& y) { return x.key < y.key; });
  sides.erase(std::unique(sides.begin(), sides.end(),
                          [](const Side& x, const Side& y) { return x.key == y.key; }),
              sides.end());
  std::sort(sides.begin(), sides.end(), [](const Side& x, const Side& y) {
    return x.facet != y.facet ? x.facet < y.facet : x.side < y.side;
  });
  std::vector<Triangle> elements;
  elements.reserve(sides.size());
  for (const Side& s : sides) {
    const Triangle& t = facets[s.facet];
    elements.push_back({t[s.side], t[(s.side + 1) % 3], t[(s.side + 1) % 3]});
  }
  return elements;
}

std::vector<Triangle> facets_with_role(std::span<const Triangle> facets,
                                       const MeshAnalysis& analysis, geometry::FacetRole role) {
  std::vector<Triangle> elements;
  for (std::size_t f = 0; f < facets.size(); ++f) {
    if (analysis.roles[f] == role) elements.push_back(facets[f]);
  }
  return elements;
}

std::vector<Triangle> facets_of_shells_facing(std::span<const Triangle> facets,
                                              const MeshAnalysis& analysis,
                                              geometry::ShellFacing facing) {
  std::vector<Triangle> elements;
  for (std::size_t f = 0; f < facets.size(); ++f) {
    const std::uint32_t s = analysis.topology.shell_of_facet[f];
    if (s == geometry::NO_SHELL) continue;
    if (geometry::facing_of(analysis.shells[s], analysis.depths[s]) == facing) {
      elements.push_back(facets[f]);
    }
  }
  return elements;
}

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A new file for the view in the folder of `path`: without a name where
// the file system allows (a killed run then leaves nothing), else under a
// temporary name beside it, returned in `temporary`.
int create_view_file(const std::string& path, std::string& temporary) {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  int fd = ::open(folder_of(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666 & ~mask);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  temporary = path + ".partial-XXXXXX";
  fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  // mkostemp creates the file for its owner alone; a view is for reading.
  if (fd >= 0) static_cast<void>(::fchmod(fd, 0666 & ~mask));
  return fd;
}

// Gives a nameless file a temporary name beside `path`, so that a rename can
// then put it in place of an existing file in one step.
bool name_view_file(int fd, const std::string& path, std::string& temporary) {
  const std::string descriptor = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = path + ".partial-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
    if (::linkat(AT_FDCWD, descriptor.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) ==
        0) {
      return true;
    }
    if (errno != EEXIST) break;
  }
  temporary.clear();
  return false;
}

}  // namespace

std::string find_view_target(const std::string& name, ViewTarget& target) {
  target = ViewTarget{};
  target.path = name;
  const std::string refused = "cannot write the view " + name + ": ";
  struct stat link_status {};
  if (::lstat(name.c_str(), &link_status) == 0 && S_ISLNK(link_status.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(name.c_str(), resolved) == nullptr) {
      return refused + "it is a symbolic link to a file that does not exist";
    }
    target.path = resolved;
  }
  if (::stat(target.path.c_str(), &target.status) == 0) {
    target.exists = true;
    if (S_ISDIR(target.status.st_mode)) return refused + "it is a folder";
    if (!S_ISREG(target.status.st_mode)) return refused + "not a regular file";
  } else if (errno != ENOENT) {
    return refused + std::strerror(errno);
  }
  return {};
}

std::string write_findings_view(const std::string& path, std::span<const Triangle> facets,
                                const MeshAnalysis& analysis) {
  std::vector<Zone> zones;
  const MeshFacts& facts = analysis.facts;
  const auto add = [&](std::int64_t count, std::string_view title, auto elements) {
    if (count == 0) return;
    zones.push_back({std::string(title) + ": " + std::to_string(count), std::move(elements)});
  };
  using geometry::FacetRole;
  add(facts.open_edges, "open edges (holes)", edges_of_kind(facets, analysis, SideKind::open));
  add(facts.nonmanifold_edges, "non-manifold edges",
      edges_of_kind(facets, analysis, SideKind::nonmanifold));
  add(facts.misoriented_edges, "misoriented edges (flipped facets)",
      edges_of_kind(facets, analysis, SideKind::misoriented));
  add(facts.inverted_shells, "inside-out shells",
      facets_of_shells_facing(facets, analysis, geometry::ShellFacing::body_inside_out));
  add(facts.cavities_pointing_outward, "cavities pointing outward",
      facets_of_shells_facing(facets, analysis, geometry::ShellFacing::cavity_pointing_outward));
  add(facts.degenerate_facets, "degenerate facets",
      facets_with_role(facets, analysis, FacetRole::degenerate));
  add(facts.duplicate_facets, "repeated facets",
      facets_with_role(facets, analysis, FacetRole::repeated));

  // A view without a zone would crash its reader: the model's zone comes
  // first, and a model without a finite facet has none to give.
  if (!companion::has_zone(facets)) {
    return "cannot write the view " + path +
           ": no facet of the model is finite, so it would hold "
           "nothing to show";
  }
  // A file of its own, so that no other file is touched until the rename.
  std::string temporary;
  const int fd = create_view_file(path, temporary);
  if (fd < 0) return "cannot write the view " + path + ": " + std::strerror(errno);
  int write_errno = 0;
  const auto write_all = [fd, &write_errno](std::string_view text) {
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) {
        write_errno = wrote < 0 ? errno : ENOSPC;
        return false;
      }
      done += static_cast<std::size_t>(wrote);
    }
    return true;
  };
  companion::TecplotZones view("stldeck-check findings", facets, write_all);
  bool written = true;
  for (const Zone& zone : zones) written = written && view.add_zone(zone.title, zone.elements);
  written = view.finish() && written;
  if (written && temporary.empty() && !name_view_file(fd, path, temporary)) {
    written = false;
    write_errno = errno;
  }
  const bool closed = ::close(fd) == 0;
  if (!written || !closed) {
    if (!temporary.empty()) ::unlink(temporary.c_str());
    return "cannot write the view " + path + ": " + std::strerror(written ? errno : write_errno);
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const int rename_errno = errno;
    ::unlink(temporary.c_str());
    return "cannot write the view " + path + ": " + std::strerror(rename_errno);
  }
  return {};
}

}  // namespace check
