// St's per-thread ring and the heap wrappers.
#include "platform/memalloc.h"
#include "support/err.h"
#include "support/st.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

// Huge requests must answer null rather than abort under the sanitizer.
extern "C" const char *__asan_default_options()
{
    return "allocator_may_return_null=1";
}

namespace
{

TEST(St, RingOfTenSlotsPerThread)
{
    // A fresh thread starts at slot 1, so its tenth result is slot 0.
    std::vector<const char *> p;
    std::vector<std::string> text;
    std::thread([&] {
        for (int i = 0; i < 11; i++)
            p.push_back(St("t%d", i));
        for (const char *s : p)
            text.push_back(s);
    }).join();
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(p[i + 1] - p[i], ST_SLOT_SIZE) << i;
    EXPECT_EQ(p[0] - p[9], ST_SLOT_SIZE);
    EXPECT_EQ(p[10], p[0]); // the eleventh reuses the first's slot
    EXPECT_EQ(text[0], "t10");
    EXPECT_EQ(text[9], "t9");

    // Two threads do not share slots: another thread's results lie outside
    // this thread's ring and leave its texts alone.
    std::vector<const char *> mine;
    for (int i = 0; i < ST_SLOTS; i++)
        mine.push_back(St("m%d", i));
    const char *lo = *std::min_element(mine.begin(), mine.end());
    const char *hi = *std::max_element(mine.begin(), mine.end()) + ST_SLOT_SIZE;
    std::vector<const char *> theirs;
    std::thread([&] {
        for (int i = 0; i < ST_SLOTS; i++)
            theirs.push_back(St("other %d", i));
    }).join();
    for (const char *s : theirs)
        EXPECT_TRUE(s < lo || s >= hi);
    for (int i = 0; i < ST_SLOTS; i++)
        EXPECT_EQ(std::string(mine[i]), "m" + std::to_string(i));

    // Long results are cut to 240 characters.
    EXPECT_EQ(strlen(St("%s", std::string(500, 'a').c_str())), 240u);

    // ErrnoName's fallback lives in the ring: valid for nine more calls.
    const char *name = ErrnoName(99);
    for (int i = 0; i < 9; i++)
        St("%d", i);
    EXPECT_STREQ(name, "E99");
    St("x");
    EXPECT_STREQ(name, "x");
}

std::vector<size_t> g_requests;

void *countingAlloc(size_t size)
{
    g_requests.push_back(size);
    return _mem_malloc(size);
}

TEST(MemAlloc, EdgeCases)
{
    g_requests.clear();
    EXPECT_EQ(_mem_strdup_with(nullptr, countingAlloc), nullptr);
    EXPECT_TRUE(g_requests.empty());
    char *empty = _mem_strdup_with("", countingAlloc);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(g_requests, std::vector<size_t>{1});
    EXPECT_EQ(empty[0], '\0');
    EXPECT_EQ(_mem_free(empty), nullptr);
    EXPECT_EQ(_mem_strdup_with("abc", [](size_t) -> void * { return nullptr; }), nullptr);

    char *copy = _mem_strdup("firmware");
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "firmware");
    EXPECT_EQ(_mem_free(nullptr), nullptr);

    unsigned char *zero = static_cast<unsigned char *>(_mem_calloc(64));
    ASSERT_NE(zero, nullptr);
    for (int i = 0; i < 64; i++)
        EXPECT_EQ(zero[i], 0) << i;
    _mem_free(zero);

    // A failed resize leaves the old block as it was.
    EXPECT_EQ(_mem_realloc(copy, SIZE_MAX / 2), nullptr);
    EXPECT_STREQ(copy, "firmware");
    EXPECT_EQ(_mem_malloc(SIZE_MAX / 2), nullptr);
    EXPECT_EQ(_mem_calloc(SIZE_MAX / 2), nullptr);
    char *grown = static_cast<char *>(_mem_realloc(copy, 4096));
    ASSERT_NE(grown, nullptr);
    EXPECT_STREQ(grown, "firmware");
    // A resize to nothing still gives a block (and does not free it).
    char *none = static_cast<char *>(_mem_realloc(grown, 0));
    ASSERT_NE(none, nullptr);
    _mem_free(none);
    void *fromNull = _mem_realloc(nullptr, 16);
    EXPECT_NE(fromNull, nullptr);
    _mem_free(fromNull);
}

} // namespace
