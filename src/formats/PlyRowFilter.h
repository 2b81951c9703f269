#ifndef VELMORA_PLYROWFILTER_H
#define VELMORA_PLYROWFILTER_H

#include <cstddef>
#include <string>
#include <vector>

/// Saves what is kept of a PLY cloud by copying the file it was read from without the rows
/// removed: every property, comment and value stays exactly as the file had it, whatever
/// properties the viewer itself reads, and the copy reopens equal to what was shown.
///
/// Only the vertex element is filtered; the other elements are copied as they are. A file
/// with faces or edges is refused when rows are removed, since those refer to vertices by
/// their index. Row limits are found as the format defines them (text: by words; binary: by
/// the sizes of the properties and of each list), and a row that runs past the end of the
/// file is refused before anything is written.
class PlyRowFilter {
public:
    /// Copies `source` to `out` with the rows i of the vertex element for which keep[i] is not
    /// zero (keep holds one byte a vertex). The copy is written under a temporary name and
    /// takes `out` only once complete. Returns the number of rows written; raises a
    /// `std::runtime_error` saying why ("PLY: ...") when it cannot.
    static size_t write(const std::string &source, const std::string &out, const std::vector<unsigned char> &keep);
};

#endif
