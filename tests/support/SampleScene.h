#ifndef VELMORA_TESTS_SAMPLESCENE_H
#define VELMORA_TESTS_SAMPLESCENE_H

#include <fstream>
#include <string>

namespace testsupport {

// Copies the camera file of a sample scene (make_sample_scene) with one view turned `degrees`
// further about the turntable's axis: the file lists one angle a line after "deg".
inline void writeCamerasWithATurnedView(const std::string &from, const std::string &to, int view, double degrees)
{
    std::ifstream in(from);
    std::ofstream out(to);
    std::string line;
    int afterDeg = -1;
    while (std::getline(in, line)) {
        if (afterDeg >= 0 && afterDeg++ == view)
            line = std::to_string(std::stod(line) + degrees);
        if (line == "deg")
            afterDeg = 0;
        out << line << "\n";
    }
}

} // namespace testsupport

#endif
