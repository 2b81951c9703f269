// An IMA volume: the ".dim" header text and the ".ima" samples. The input holds both files:
// its first byte is the length of the header text that follows, the rest is the sample file.
#include "FuzzFiles.h"
#include "VolumeCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const fuzz::TwoFiles in(data, size);
    FILE *ima = fuzz::memoryStream(in.second, in.secondSize);
    volumefuzz::readVolume([&] {
        return VolumeReader::readIMA(reinterpret_cast<const char *>(in.first), in.firstSize, ima,
                                     static_cast<long long>(in.secondSize), "fuzz.ima");
    });
    std::fclose(ima);
    return 0;
}
