#ifndef VELMORA_LAZFILE_H
#define VELMORA_LAZFILE_H

#include "formats/CopcHierarchy.h"
#include "formats/LargeArray.h"
#include "formats/LazChunkDecoder.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

/// Where each chunk of a LASzip file lies and how many points it holds.
struct LazChunk {
    uint64_t offset;
    uint64_t bytes;
    uint64_t points;
};

/// The point data of a LASzip-compressed LAS file: the "laszip encoded" record found among
/// the variable-length records, the chunk table read, and the chunks decoded on every core
/// into uncompressed LAS records. Every failure raises std::runtime_error with a plain
/// text (no file name): counts, offsets and sizes are checked against the file first.
class LazFile {
public:
    /// What the LAS header says, as the LAS reader found it.
    struct Header {
        unsigned headerSize;
        uint32_t vlrCount;
        uint64_t offsetToPoints;
        unsigned recordLength;
        uint64_t count;
    };

    /// The LASzip record among the variable-length records of `f` (a file of `size` bytes);
    /// `copc`, when given, is set to the "copc" info record if the file has one.
    static LazLayout findLayout(FILE *f, long long size, const Header &h, std::optional<CopcInfo> *copc = nullptr);
    /// The chunks of a COPC file: the nodes of its hierarchy, in file order.
    static std::vector<LazChunk> copcChunks(FILE *f, long long size, const Header &h, const CopcInfo &info);
    /// The chunks in file order, from the chunk table (or the one chunk a file without a
    /// table can hold), with their counts checked against the header's.
    static std::vector<LazChunk> chunkTable(FILE *f, long long size, const Header &h, const LazLayout &layout);
    /// Decodes the chunks (counts already checked) from the bytes of the whole file.
    static LargeArray<unsigned char> decode(const unsigned char *file, const LazLayout &layout,
                                            const std::vector<LazChunk> &chunks, uint64_t count);
    /// How the points were found.
    struct Summary {
        bool copc = false;
        size_t chunks = 0;
    };
    /// All of it: the records of every point, `count` of them (a COPC file through its
    /// hierarchy, any other through its chunk table).
    static LargeArray<unsigned char> read(FILE *f, long long size, const Header &h, Summary *summary = nullptr);

    /// Reads a chunk table that starts at `table` (`bytes` bytes: the version, the count, and the
    /// coded entries); `first` is where the first chunk starts.
    static std::vector<LazChunk> parseChunkTable(const unsigned char *table, size_t bytes, uint64_t first,
                                                 bool variable, uint32_t chunkSize);
};

#endif
