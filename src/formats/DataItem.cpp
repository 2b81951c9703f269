#include "formats/DataItem.h"
#include "math/Messages.h"

#include "formats/ByteOrder.h"
#include "math/Messages.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

// Values are read in slices so that a count announced by a damaged file never turns into
// one huge allocation: memory grows only with the values that really arrive.
constexpr size_t kSlice = 1 << 18;

// Reads n floats in slices; false when fewer arrive.
bool readValues(ReadFunction reader, void *file, int n, std::vector<float> &values)
{
    values.clear();
    const size_t total = static_cast<size_t>(n);
    while (values.size() < total) {
        const size_t chunk = std::min(kSlice, total - values.size());
        const size_t at = values.size();
        values.resize(at + chunk);
        const unsigned got = reader(values.data() + at, 4, static_cast<unsigned>(chunk), file);
        if (got != chunk) {
            values.clear();
            return false;
        }
    }
    return true;
}

} // namespace

DataItem::DataItem() : minimum(0), maximum(0), nElements(0) { std::memset(name, 0, sizeof name); }

DataItem::DataItem(const char *text, const float *values, int n) : DataItem()
{
    setName(text);
    if (n > 0 && values) {
        data.reset(new float[n]);
        std::memcpy(data.get(), values, sizeof(float) * n);
        nElements = n;
    }
    computeDataLimits();
}

DataItem::DataItem(const char *text, int n) : DataItem() { init(text, n); }

DataItem::DataItem(const DataItem &other) : DataItem() { *this = other; }

DataItem &DataItem::operator=(const DataItem &other)
{
    if (this == &other)
        return *this;
    freeData();
    std::memcpy(name, other.name, sizeof name);
    minimum = other.minimum;
    maximum = other.maximum;
    if (other.nElements > 0 && other.data) {
        data.reset(new float[other.nElements]);
        std::memcpy(data.get(), other.data.get(), sizeof(float) * other.nElements);
        nElements = other.nElements;
    }
    return *this;
}

void DataItem::setName(const char *text)
{
    std::memset(name, 0, sizeof name);
    if (text)
        std::strncpy(name, text, NAME_SIZE - 1);
}

void DataItem::init(const char *text, int n)
{
    freeData();
    setName(text);
    if (n > 0) {
        // Left uninitialised, as init() promises: the readers fill every value.
        data.reset(new float[n]);
        nElements = n;
    }
    minimum = kInf;
    maximum = -kInf;
}

void DataItem::init(const char *text) { init(text, 0); }

void DataItem::computeDataLimits()
{
    minimum = kInf;
    maximum = -kInf;
    for (int i = 0; i < nElements; ++i) {
        if (data[i] > maximum)
            maximum = data[i];
        if (data[i] < minimum)
            minimum = data[i];
    }
}

void DataItem::recomputeNonFiniteRange()
{
    if (!std::isfinite(minimum)) {
        minimum = kInf;
        for (int i = 0; i < nElements; ++i)
            if (data[i] < minimum)
                minimum = data[i];
    }
    if (!std::isfinite(maximum)) {
        maximum = -kInf;
        for (int i = 0; i < nElements; ++i)
            if (data[i] > maximum)
                maximum = data[i];
    }
}

bool DataItem::write(FILE *f) const
{
    if (std::fwrite(name, 1, NAME_SIZE, f) != static_cast<size_t>(NAME_SIZE))
        return false;
    const int n = nElements;
    if (std::fwrite(&minimum, 4, 1, f) != 1 || std::fwrite(&maximum, 4, 1, f) != 1 || std::fwrite(&n, 4, 1, f) != 1)
        return false;
    return n <= 0 || std::fwrite(data.get(), 4, static_cast<size_t>(n), f) == static_cast<size_t>(n);
}

bool DataItem::read(FILE *f) { return read(f, 0); }

bool DataItem::read(void *file, int mode)
{
    freeData();
    setName(nullptr);
    minimum = kInf;
    maximum = -kInf;
    const ReadFunction reader = DATAITEM_UTILS::readerForMode(mode);
    char head[NAME_SIZE];
    float range[2];
    int n = 0;
    // The name is bytes and never swapped; the numbers are items of their own width.
    if (reader(head, 1, NAME_SIZE, file) != static_cast<unsigned>(NAME_SIZE) || reader(&range[0], 4, 1, file) != 1 ||
        reader(&range[1], 4, 1, file) != 1 || reader(&n, 4, 1, file) != 1)
        return false;
    if (!std::memchr(head, 0, NAME_SIZE) || n < 0)
        return false;

    std::vector<float> values;
    if (!readValues(reader, file, n, values))
        return false;

    std::memcpy(name, head, NAME_SIZE);
    minimum = range[0];
    maximum = range[1];
    if (n > 0) {
        data.reset(new float[n]);
        std::memcpy(data.get(), values.data(), sizeof(float) * n);
    }
    nElements = n;
    recomputeNonFiniteRange();
    return true;
}

void DataItem::print() const
{
    msg::note("DataItem: \"%s\", with %d elements in [%f %f]\n", name, nElements, minimum, maximum);
}

void DataItem::print(int i) const
{
    if (i >= 0 && i < nElements)
        msg::note("%s=%g\n", name, data[i]);
}

void DataItem::freeData()
{
    data.reset();
    nElements = 0;
}
