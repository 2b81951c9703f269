#ifndef VELMORA_BYTEORDER_H
#define VELMORA_BYTEORDER_H

#include <cstdio>
#include <zlib.h>

/// Byte-order readers of the binary object files.
///
/// Object files may come from a machine of either byte order. Their readers never convert
/// numbers after the fact: every number is read as an item of its own width (4 bytes for
/// int32 and float32, 2 for int16) through a read function that already delivers it in this
/// machine's order. Text and tag bytes are read as 1-byte items and therefore never change.
///
/// A block reader picks its read function from an integer mode:
///   0  the file is in this machine's byte order (fread)
///   1  the file is in the other byte order (readbe)
///   2  compressed file (gzread)
///   3  compressed file in the other byte order (gzreadbe)
///   any other value reads like 0.
/// For modes 0 and 1 the handle is a `FILE *`, for modes 2 and 3 a zlib `gzFile`.
///
/// Every read function returns the number of whole items read. A size of 0, a null buffer
/// or handle, or a byte count that does not fit in memory reads nothing and returns 0.
///
/// Naming: zlib already declares a global `gzread(gzFile, voidp, unsigned)` with C linkage.
/// A second global `gzread` would only be an overload of it, and a call with slightly wrong
/// arguments could silently resolve to the other one. The compressed entries therefore live
/// in namespaces of their own: `MESH_UTILS` for the mesh readers (which refuse compressed
/// files before reading, so their entries read nothing) and `DATAITEM_UTILS` for data items
/// (backed by zlib). Inside them, zlib's function is always called as `::gzread`.

/// Common signature of the entries of a reader table. `handle` is a `FILE *` or a `gzFile`
/// depending on the mode the entry was picked for.
typedef unsigned (*ReadFunction)(void *p, unsigned size, unsigned count, void *handle);

/// True on a machine that stores the low byte of a number first.
bool hostIsLittleEndian();

/// Reverses, in place, the bytes of each of `count` consecutive items of `size` bytes.
/// Items of 0 or 1 byte are left as they are.
void swapBytes(void *p, unsigned size, unsigned count);

/// Reads up to `count` items of `size` bytes like fread and reverses the bytes of each item
/// actually read. Returns the number of items read; after a short read only those are
/// swapped and the caller decides what the shortage means.
unsigned readbe(void *p, unsigned size, unsigned count, FILE *f);

/// fread with the reader-table signature (`handle` is a `FILE *`).
unsigned freadItems(void *p, unsigned size, unsigned count, void *handle);
/// readbe with the reader-table signature (`handle` is a `FILE *`).
unsigned readbeItems(void *p, unsigned size, unsigned count, void *handle);

namespace MESH_UTILS {

/// The compressed entries of the mesh readers' table. Compressed meshes are refused before
/// any block is read, so these read nothing and return 0.
unsigned gzread(void *p, unsigned size, unsigned count, void *handle);
unsigned gzreadbe(void *p, unsigned size, unsigned count, void *handle);

/// The read function of `mode` for the mesh readers (see the mode table above).
ReadFunction readerForMode(int mode);

} // namespace MESH_UTILS

namespace DATAITEM_UTILS {

void swapBytes(void *p, unsigned size, unsigned count);
unsigned readbe(void *p, unsigned size, unsigned count, FILE *f);

/// Reads size x count bytes through zlib and returns the number of whole items read.
/// A partial item at the end stays in the buffer but is not counted.
unsigned gzread(void *p, unsigned size, unsigned count, gzFile f);
/// As gzread, then reverses the bytes of each whole item read.
unsigned gzreadbe(void *p, unsigned size, unsigned count, gzFile f);

/// The read function of `mode` for data-item records: modes 2 and 3 read through zlib and
/// expect a `gzFile` handle.
ReadFunction readerForMode(int mode);

} // namespace DATAITEM_UTILS

#endif
