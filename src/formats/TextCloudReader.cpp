#include "formats/TextCloudReader.h"

#include "formats/PointBounds.h"
#include "formats/ReadAll.h"
#include "formats/ReadRefusal.h"
#include "formats/TextScanner.h"
#include "math/Messages.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr NamedReadRefusal refuse{"GLPointListObject", "text cloud"};
constexpr int kMaxColumns = 7;

bool separates(char c) { return c == ',' || c == ';' || TextScanner::isSpace(c); }

// The numbers of one line, at most kMaxColumns; -1 for a comment line or one whose words are
// not all numbers (a title).
int parseLine(const char *p, const char *end, double *v)
{
    TextScanner in(p, end);
    in.skipWhile([](char c) { return c == ' ' || c == '\t' || c == '\r'; });
    const char *at = in.position();
    if (at < end && (*at == '#' || (*at == '/' && at + 1 < end && at[1] == '/')))
        return -1;
    int n = 0;
    const char *word;
    while (in.word(word, separates)) {
        double x;
        const std::from_chars_result r = TextScanner::parse(word, in.position(), x);
        if (r.ec != std::errc() || r.ptr != in.position())
            return -1;
        if (n < kMaxColumns)
            v[n] = x;
        ++n;
    }
    return std::min(n, kMaxColumns);
}

bool isByte(double x) { return x >= 0 && x <= 255 && x == std::floor(x); }

} // namespace

PointListData TextCloudReader::read(const char *path)
{
    const std::vector<char> text = readOpened(path, [](FILE *f) { return readAll(f); });
    return read(text.data(), text.size(), path);
}

PointListData TextCloudReader::read(const char *text, size_t size, const char *name)
{
    std::vector<float> points, values;
    std::vector<unsigned char> colors;
    double origin[3] = {0, 0, 0};
    int columns = 0;           // of the first point line: the layout
    bool colorsValid = true;   // for 6 columns: colours rather than normals
    TextScanner lines(text, text + size);
    const char *begin, *lineEnd;
    while (lines.line(begin, lineEnd)) {
        double v[kMaxColumns];
        const int n = parseLine(begin, lineEnd, v);
        if (n < 3 || !std::isfinite(v[0]) || !std::isfinite(v[1]) || !std::isfinite(v[2]))
            continue;
        if (columns == 0) {
            columns = n;
            std::copy(v, v + 3, origin);
        }
        if (points.size() / 3 >= static_cast<size_t>(INT_MAX))
            refuse(name, "more points than a cloud can hold");
        for (int k = 0; k < 3; ++k)
            points.push_back(static_cast<float>(v[k] - origin[k]));
        for (int k = n; k < columns; ++k)
            v[k] = 0;
        if (columns == 4 || columns == 5 || columns == 7)
            values.push_back(static_cast<float>(v[3]));
        if (columns == 6 || columns == 7) {
            const int first = columns == 6 ? 3 : 4;
            for (int k = first; k < first + 3; ++k) {
                colorsValid = colorsValid && isByte(v[k]);
                colors.push_back(static_cast<unsigned char>(isByte(v[k]) ? v[k] : 0));
            }
        }
    }
    if (points.empty())
        refuse(name, "no line with three numbers (x y z)");
    PointListData d;
    d.nPoints = static_cast<int>(points.size() / 3);
    const size_t n = static_cast<size_t>(d.nPoints);
    d.points = allocateLargeArray<float>(3 * n);
    std::copy(points.begin(), points.end(), d.points.get());
    d.bounds.addPoints(d.points.get(), 3 * n);
    std::copy(origin, origin + 3, d.origin);
    if (!values.empty())
        d.items.push_back(PointValueItem::copyOf("intensity", values.data(), n));
    if (!colors.empty() && colorsValid) {
        d.colors = allocateLargeArray<unsigned char>(3 * n);
        std::copy(colors.begin(), colors.end(), d.colors.get());
    }
    msg::note("%s: %d points, %d columns%s\n", name, d.nPoints, columns,
              d.colors ? ", colours" : columns == 6 ? ", normals ignored" : "");
    return d;
}
