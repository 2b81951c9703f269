#include "objects/Hash.h"
#include "math/Messages.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <utility>

namespace {

std::string delPrints(Hash &hash, int bucket, int key)
{
    CapturingMessageSink sink;
    ScopedMessageSink scope(sink);
    hash.del(bucket, key);
    return sink.text(MessageLevel::Warning);
}

TEST(Hash, FourBucketExample)
{
    Hash hash(4);
    EXPECT_EQ(hash.add(1, 7), -1);
    EXPECT_EQ(hash.add(1, 9), -1);
    EXPECT_EQ(hash.add(1, 7), 0);
    EXPECT_EQ(hash.get(1, 9), 1);
    EXPECT_EQ(hash.get(1, 7), 0);
    EXPECT_EQ(hash.get(2, 7), -1);
    EXPECT_EQ(hash.addE(2, 7), -1);
    EXPECT_EQ(hash.get(2, 7), 2);
    EXPECT_EQ(hash.getNElements(), 3);

    hash.clear();
    EXPECT_EQ(hash.get(1, 7), -1);
    EXPECT_EQ(hash.getNElements(), 0);
    EXPECT_EQ(hash.add(1, 9), -1);
    EXPECT_EQ(hash.get(1, 9), 0);
}

// Adds random keys to a few crowded buckets and checks every value against a model.
void checkAgainstModel(int nBuckets, int nKeys, unsigned seed)
{
    Hash hash(nBuckets);
    std::map<std::pair<int, int>, int> model;
    std::mt19937 random(seed);
    for (int i = 0; i < nKeys; ++i) {
        // Most keys go to bucket 0 so that its chain runs far beyond the initial overflow.
        const int bucket = random() % 4 == 0 ? static_cast<int>(random() % nBuckets) : 0;
        const int key = static_cast<int>(random() % (2 * nKeys));
        const auto found = model.find({bucket, key});
        const int expected = found == model.end() ? -1 : found->second;
        ASSERT_EQ(hash.add(bucket, key), expected) << "key " << key << " in bucket " << bucket;
        if (found == model.end())
            model[{bucket, key}] = static_cast<int>(model.size());
    }
    EXPECT_EQ(hash.getNElements(), static_cast<int>(model.size()));
    EXPECT_GT(hash.getOverflowCapacity(), nBuckets);
    for (const auto &entry : model)
        ASSERT_EQ(hash.get(entry.first.first, entry.first.second), entry.second);
    EXPECT_EQ(hash.get(0, 2 * nKeys), -1);
}

TEST(Hash, OverflowAreaGrowsForLongChains)
{
    checkAgainstModel(64, 2000, 1);
    checkAgainstModel(16, 500, 2);
}

TEST(Hash, TablesBelowEightBucketsGrowToo)
{
    for (int n = 1; n < 8; ++n)
        checkAgainstModel(n, 200, static_cast<unsigned>(n));
}

TEST(Hash, DeleteKeepsTheOtherKeysAndTheirValues)
{
    struct DelCase {
        const char *name;
        int deleted;
    };
    const DelCase cases[] = {{"head", 10}, {"middle", 11}, {"last", 13}};
    for (const DelCase &c : cases) {
        Hash hash(2);
        for (int key = 10; key < 14; ++key)
            hash.add(1, key);
        hash.add(0, 10);
        EXPECT_EQ(delPrints(hash, 1, c.deleted), "") << c.name;
        EXPECT_EQ(hash.get(1, c.deleted), -1) << c.name;
        for (int key = 10; key < 14; ++key) {
            if (key != c.deleted) {
                EXPECT_EQ(hash.get(1, key), key - 10) << c.name << ", key " << key;
            }
        }
        EXPECT_EQ(hash.get(0, 10), 4) << c.name;

        // A deleted key comes back with a new value; no value is handed out twice.
        EXPECT_EQ(hash.add(1, c.deleted), -1) << c.name;
        EXPECT_EQ(hash.get(1, c.deleted), 5) << c.name;
    }
}

TEST(Hash, DeletingAbsentKeysPrintsADiagnostic)
{
    Hash hash(4);
    hash.add(2, 5);
    hash.add(2, 6);
    EXPECT_EQ(delPrints(hash, 3, 1), "Element doesn't exist\n1,2 1\n");
    EXPECT_EQ(delPrints(hash, 2, 9), "Element doesn't exist\n2,-7 9\n");
    EXPECT_EQ(hash.get(2, 5), 0);
    EXPECT_EQ(hash.get(2, 6), 1);

    // The only key of a bucket leaves it empty.
    EXPECT_EQ(delPrints(hash, 2, 5), "");
    EXPECT_EQ(delPrints(hash, 2, 6), "");
    EXPECT_EQ(delPrints(hash, 2, 6), "Element doesn't exist\n1,-4 6\n");
    EXPECT_EQ(hash.add(2, 6), -1);
    EXPECT_EQ(hash.get(2, 6), 2);
}

TEST(Hash, KeysThatComeAndGoDoNotGrowTheTable)
{
    Hash hash(8);
    for (int key = 0; key < 9; ++key)
        hash.add(3, key);
    const int capacity = hash.getOverflowCapacity();
    // Each round replaces the chain's newest key by a new one.
    for (int round = 0; round < 1000; ++round) {
        const int previous = round == 0 ? 8 : 99 + round;
        hash.del(3, previous);
        ASSERT_EQ(hash.add(3, 100 + round), -1);
    }
    EXPECT_EQ(hash.getOverflowCapacity(), capacity);
    EXPECT_EQ(hash.get(3, 1099), 1008);
    for (int key = 0; key < 8; ++key)
        EXPECT_EQ(hash.get(3, key), key);
}

TEST(Hash, BucketsOutsideTheTableAreRefused)
{
    Hash hash(4);
    hash.add(0, 1);
    for (int bucket : {-1, 4, 1000}) {
        EXPECT_EQ(hash.add(bucket, 1), -1);
        EXPECT_EQ(hash.get(bucket, 1), -1);
        EXPECT_EQ(delPrints(hash, bucket, 1), "");
    }
    EXPECT_EQ(hash.getNElements(), 1);
    EXPECT_EQ(hash.get(0, 1), 0);

    Hash empty;
    EXPECT_EQ(empty.add(0, 1), -1);
    EXPECT_EQ(empty.get(0, 1), -1);
    EXPECT_EQ(empty.getNElements(), 0);

    // -1 marks empty entries, so it cannot be a key.
    EXPECT_EQ(hash.add(1, -1), -1);
    EXPECT_EQ(hash.add(1, -1), -1);
    EXPECT_EQ(hash.getNElements(), 1);
}

} // namespace
