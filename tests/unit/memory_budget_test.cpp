#include "lib/baselib/memory_budget.h"

#include <gtest/gtest.h>

// The refusal names the very budget it was given, and refuses only past it.
TEST(MemoryRefusalTest, RefusesPastTheBudgetAndNamesBothNumbers) {
    struct Case {
        uint64_t bytes;
        uint64_t budget;
        const char* refusal;
    };
    const Case cases[] = {
        {0, 0, ""},
        {4096, 4096, ""},
        {4097, 4096, "needs 4.0 KB; 4.0 KB can be used now"},
        {3u << 20, 1000, "needs 3.0 MB; 1000 bytes can be used now"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.refusal, MemoryRefusal(c.bytes, c.budget)) << c.bytes << " of " << c.budget;
    }
}
