#ifndef VELMORA_DATAITEM_H
#define VELMORA_DATAITEM_H

#include <cstdio>
#include <memory>

/// A named array of float values with its range: one scalar field of an object (a value
/// per vertex, point or cell).
///
/// File record: 64 name bytes (zero-terminated, zero-padded), float32 minimum, float32
/// maximum, int32 count, then count float32 values. Copies are deep.
class DataItem {
public:
    static const int NAME_SIZE = 64;
    static const int HEAD_SIZE = 76;

    DataItem();
    DataItem(const char *name, const float *values, int n);
    DataItem(const char *name, int n);
    DataItem(const DataItem &other);
    DataItem &operator=(const DataItem &other);

    /// Name and n values left uninitialised; the range is unknown (+inf, -inf).
    void init(const char *name, int n);
    /// Name only, no values, range unknown.
    void init(const char *name);
    /// Sets minimum and maximum from the values (+inf / -inf without values).
    void computeDataLimits();

    /// Writes the record in the machine's byte order; false when the file refused a byte.
    bool write(FILE *f) const;
    /// Reads a record written in the machine's byte order.
    bool read(FILE *f);
    /// Reads a record item by item with the reader of `mode` (0 native, 1 byte-swapped,
    /// 2 compressed, 3 compressed and byte-swapped): `file` is a FILE* for modes 0 and 1
    /// and a zlib gzFile for 2 and 3.
    ///
    /// Returns true when every value arrived. A negative count, a name without its
    /// terminating zero or values that end early fail: the item is then left empty, and
    /// no more memory is taken than the file actually delivers. A range that is not
    /// finite is recomputed from the values.
    bool read(void *file, int mode);

    /// "DataItem: "<name>", with <n> elements in [<min> <max>]".
    void print() const;
    /// "<name>=<value i>"; nothing for an index outside the values.
    void print(int i) const;
    void freeData();

    const char *getName() const { return name; }
    float getMinimum() const { return minimum; }
    float getMaximum() const { return maximum; }
    int getNElements() const { return nElements; }
    float *getData() { return data.get(); }
    const float *getData() const { return data.get(); }

    char name[NAME_SIZE];
    float minimum;
    float maximum;
    int nElements;
    std::unique_ptr<float[]> data;

private:
    void setName(const char *text);
    void recomputeNonFiniteRange();
};

#endif
