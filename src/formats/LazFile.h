#ifndef VELMORA_LAZFILE_H
#define VELMORA_LAZFILE_H

#include "formats/CopcHierarchy.h"
#include "formats/LargeArray.h"
#include "formats/LazChunkDecoder.h"

#include <cstdint>
#include <cstdio>
#include <memory>
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

    /// The same records a batch of whole chunks at a time, in the file's order: a batch's bytes
    /// are read and its chunks decoded on every core when its first point is asked for, into
    /// buffers used again for the next batch. A chunk larger than a batch is decoded in steps
    /// of a batch. A whole read so holds one batch of records at a time rather than all of them.
    class Batches {
    public:
        /// Finds the chunks as `read` does; a batch holds chunks until their records would
        /// pass `batchBytes` (at least one chunk).
        Batches(FILE *f, long long size, const Header &h, size_t batchBytes = size_t(32) << 20);
        const Summary &summary() const { return found; }
        /// The records of points `first` to `first + n`, `n` lowered to the points of the batch
        /// that holds `first`. The points are asked for in order, from 0.
        const unsigned char *records(uint64_t first, size_t &n);

    private:
        FILE *f;
        LazLayout layout; // these two are set while the chunks are found
        Summary found;
        std::vector<LazChunk> chunks;
        size_t most;
        unsigned length = 0;
        size_t nextChunk = 0;
        uint64_t from = 0, to = 0; ///< the points of the batch decoded
        LargeArray<unsigned char> bytes, out;
        size_t bytesHeld = 0, outHeld = 0;
        std::unique_ptr<LazChunkDecoder> stepper; ///< of a chunk larger than a batch
        uint64_t stepped = 0;                     ///< its points decoded
        /// Buffers of at least these many bytes.
        void hold(uint64_t compressed, uint64_t records);
    };

    /// Reads a chunk table that starts at `table` (`bytes` bytes: the version, the count, and the
    /// coded entries); `first` is where the first chunk starts.
    static std::vector<LazChunk> parseChunkTable(const unsigned char *table, size_t bytes, uint64_t first,
                                                 bool variable, uint32_t chunkSize);
};

#endif
