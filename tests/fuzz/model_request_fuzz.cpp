// The remote-model descriptor ("3dmodel" and its key lines). Only the request is read: nothing
// is downloaded or loaded.
#include "Harness.h"

#include "formats/ModelRequest.h"

#include <cstdlib>

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::KeepOutput)
{
    const std::string path = fuzz::writeFile("model.desc", data, size);
    std::string request;
    if (ModelRequest::read(path.c_str(), request) &&
        (request.size() < 7 || request.compare(request.size() - 7, 7, "res=tri") != 0))
        std::abort();
}
