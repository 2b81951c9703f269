// One data-item record, read with any of the four readers. The first input byte chooses:
// bits 0-1 the reader mode (0 native, 1 byte-swapped, 2 compressed, 3 compressed and
// byte-swapped); for the compressed modes, bit 2 set hands the rest of the input to zlib as the
// file's bytes (a gzip stream, or plain bytes that zlib passes through), bit 2 clear compresses
// the rest first so that the mutations reach the record rather than the gzip framing.
#include "Harness.h"

#include "formats/DataItem.h"

#include <cmath>
#include <cstdlib>
#include <zlib.h>

VELMORA_FUZZ_HARNESS(fuzz::NoRefusal, fuzz::KeepOutput)
{
    if (size < 1)
        return;
    const int mode = data[0] & 3;
    const bool asIs = data[0] & 4;
    const uint8_t *record = data + 1;
    const size_t recordSize = size - 1;

    DataItem item;
    bool ok;
    if (mode < 2) {
        FILE *f = fuzz::memoryStream(record, recordSize);
        ok = item.read(f, mode);
        std::fclose(f);
    } else {
        std::string path;
        if (asIs) {
            path = fuzz::writeFile("record.gz", record, recordSize);
        } else {
            path = fuzz::writeFile("record.gz", nullptr, 0);
            gzFile out = gzopen(path.c_str(), "wb1");
            if (!out || (recordSize && gzwrite(out, record, static_cast<unsigned>(recordSize)) == 0) ||
                gzclose(out) != Z_OK)
                std::abort();
        }
        gzFile in = gzopen(path.c_str(), "rb");
        if (!in)
            std::abort();
        ok = item.read(in, mode);
        gzclose(in);
    }
    // What the header promises: a failed read leaves the item empty; a good one holds its
    // values, and its range is never left non-finite when there are finite values.
    if (!ok && (item.nElements != 0 || item.data))
        std::abort();
    if (ok) {
        float sum = 0;
        for (int i = 0; i < item.nElements; ++i)
            sum += item.data[i];
        static volatile float sink;
        sink = sum;
    }
}
