// The exported entry points: argument checks, their order and messages, and
// the last-error text.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "api.h"
#include "driver.h"
#include "inkveil.h"

namespace {
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();
}  // namespace

TEST(Api, InitAndCleanupClearTheLastError) {
    set_error("earlier failure");
    EXPECT_EQ(inkveil_init(), 1);
    EXPECT_STREQ(inkveil_last_error(), "");
    EXPECT_EQ(inkveil_text("in.pdf", "out.pdf", "", 0, 0, 0), 0);
    EXPECT_STREQ(inkveil_last_error(), "search_text cannot be empty");
    inkveil_cleanup();
    EXPECT_STREQ(inkveil_last_error(), "");
    EXPECT_EQ(inkveil_last_error(), inkveil_last_error());  // always the same buffer
}

TEST(Api, LongMessagesAreCutTo1023Bytes) {
    const std::string path(3000, 'p');
    set_error("cannot open %s: %s", path.c_str(), "No such file or directory");
    const std::string text = inkveil_last_error();
    EXPECT_EQ(text.size(), 1023u);
    EXPECT_EQ(text.substr(0, 13), "cannot open p");
}

TEST(Api, RegionArgumentChecksInOrder) {
    struct Case {
        int page;
        float x, width, height;
        const char *message;
    };
    const Case cases[] = {
        {0, 0, 10, 10, "page number must be >= 1 (got 0)"},
        {-3, 0, 10, 10, "page number must be >= 1 (got -3)"},
        {0, 0, 0, 0, "page number must be >= 1 (got 0)"},  // the page comes first
        {1, 0, 0, 10, "invalid region dimensions: width and height must be positive"},
        {1, 0, 10, -1, "invalid region dimensions: width and height must be positive"},
        {1, kNaN, 10, 10, "region 0 has a coordinate or dimension that is not a finite number"},
        {1, 0, kInf, 10, "region 0 has a coordinate or dimension that is not a finite number"},
        {1, 0, 10, kNaN, "region 0 has a coordinate or dimension that is not a finite number"},
        {1, 0, 10, 10, "NULL path argument"},  // the paths are the driver's to check
    };
    for (const Case &c : cases) {
        const char *output = c.message[0] == 'N' ? nullptr : "out.pdf";
        EXPECT_EQ(inkveil_region("in.pdf", output, c.page, c.x, 0, c.width, c.height, 0, 0, 0), 0);
        EXPECT_STREQ(inkveil_last_error(), c.message);
    }
}

TEST(Api, RegionsArgumentChecks) {
    const Region one = {1, 0, 0, 10, 10};
    struct Case {
        const Region *regions;
        int count;
        const char *message;
    };
    const Case cases[] = {
        {nullptr, 2, "NULL regions pointer with count > 0"},
        {nullptr, 0, "region_count must be > 0 (got 0)"},
        {&one, 0, "region_count must be > 0 (got 0)"},
        {&one, -1, "region_count must be > 0 (got -1)"},
        {nullptr, -1, "region_count must be > 0 (got -1)"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(inkveil_regions("in.pdf", "out.pdf", c.regions, c.count, 0, 0, 0), 0);
        EXPECT_STREQ(inkveil_last_error(), c.message);
    }
    EXPECT_EQ(inkveil_regions(nullptr, "out.pdf", &one, 1, 0, 0, 0), 0);
    EXPECT_STREQ(inkveil_last_error(), "NULL path argument");
}

TEST(Api, TextAndCountArgumentChecks) {
    EXPECT_EQ(inkveil_text(nullptr, nullptr, nullptr, 0, 0, 0), 0);
    EXPECT_STREQ(inkveil_last_error(), "search_text cannot be empty");
    EXPECT_EQ(inkveil_text(nullptr, "out.pdf", "secret", 0, 0, 0), 0);
    EXPECT_STREQ(inkveil_last_error(), "NULL path argument");
    // Counting checks the path before the search text.
    EXPECT_EQ(inkveil_count_matches(nullptr, ""), -1);
    EXPECT_STREQ(inkveil_last_error(), "NULL path argument");
    EXPECT_EQ(inkveil_count_matches("in.pdf", nullptr), -1);
    EXPECT_STREQ(inkveil_last_error(), "search_text cannot be empty");
}

TEST(Api, RegionValidationAgainstTheDocument) {
    struct Case {
        Region second;  // the first region is always valid
        const char *message;
    };
    const Case cases[] = {
        {{3, 0, 0, 1, 1}, "page 3 in regions[1] is out of range (document has 2 pages)"},
        {{0.9f, 0, 0, 1, 1}, "page 0 in regions[1] is out of range (document has 2 pages)"},
        {{1, 0, 0, 0, 5}, "region 1 has invalid non-positive dimensions: 0.00x5.00"},
        {{1, 0, 0, 2, -0.5f}, "region 1 has invalid non-positive dimensions: 2.00x-0.50"},
        {{9, 0, 0, 0, 5}, "page 9 in regions[1] is out of range (document has 2 pages)"},
        {{kNaN, 0, 0, 1, 1}, "region 1 has a coordinate or dimension that is not a finite number"},
        {{1, 0, kInf, 1, 1}, "region 1 has a coordinate or dimension that is not a finite number"},
        // Pages far outside the int range are compared before any conversion.
        {{1e30f, 0, 0, 1, 1}, "page 2147483647 in regions[1] is out of range (document has 2 pages)"},
        {{-1e30f, 0, 0, 1, 1},
         "page -2147483648 in regions[1] is out of range (document has 2 pages)"},
    };
    for (const Case &c : cases) {
        const Region regions[2] = {{2.7f, 0, 0, 1, 1}, c.second};
        EXPECT_FALSE(validate_regions(regions, 2, 2));
        EXPECT_STREQ(g_err, c.message);
    }
    const Region good[2] = {{2.7f, 0, 0, 1, 1}, {1, -5, -5, 1, 1}};
    EXPECT_TRUE(validate_regions(good, 2, 2));
}
