// An IMA volume: the ".dim" header text and the ".ima" samples. The input holds both files:
// its first byte is the length of the header text that follows, the rest is the sample file.
#include "Harness.h"
#include "VolumeCheck.h"

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::KeepOutput)
{
    const fuzz::TwoFiles in(data, size);
    const fuzz::Stream ima = fuzz::stream(in.second, in.secondSize);
    volumefuzz::readVolume([&] {
        return VolumeReader::readIMA(reinterpret_cast<const char *>(in.first), in.firstSize, ima.get(),
                                     static_cast<long long>(in.secondSize), "fuzz.ima");
    });
}
