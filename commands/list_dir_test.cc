#include "commands/list_dir.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using std::string_literals::operator""s;

auto fields(const TDirEntry& e) { return std::tie(e.name, e.type, e.size, e.mtime, e.mode); }

}  // namespace

TEST(ListDir, RecordsBecomeEntriesWithTheirTypeWholeSecondsAndFourDigitMode)
{
    const TListing listing = parse_listing("a b\nc/f/12/1733650000.1234567890/644\0"
                                           "007/d/4096/5.0000000000/4755\0"
                                           "l/l/3/0.5/777\0"
                                           "p/p/0/-1.5/0\0"
                                           "s/s/0/9/1777\0"s,
                                           10);
    const std::vector<std::tuple<std::string, std::string, std::string, std::string, std::string>>
        want = {{"a b\nc", "file", "12", "1733650000", "0644"},
                {"007", "dir", "4096", "5", "4755"},
                {"l", "link", "3", "0", "0777"},
                {"p", "other", "0", "-1", "0000"},
                {"s", "other", "0", "9", "1777"}};
    ASSERT_EQ(listing.entries.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i)
        EXPECT_EQ(fields(listing.entries[i]), want[i]) << i;
    EXPECT_FALSE(listing.truncated);
}

// The output's cap may cut a record, and a tenant's odd file system may
// print anything: only whole, well-formed records count.
TEST(ListDir, MalformedAndCutRecordsAreLeftOut)
{
    const TListing listing = parse_listing("/f/1/1/644\0"     // no name
                                           "x/f/1/1\0"        // a field short
                                           "x/f\0"            // three fields short
                                           "x/f/-/1/644\0"    // size not a number
                                           "x/f/1/now/644\0"  // mtime not a number
                                           "x/f/1/1/9\0"      // mode not octal
                                           "x/f/1/1/10644\0"  // mode too long
                                           "ok/f/1/1/644\0"
                                           "cut/f/1/1/6"s,
                                           10);
    ASSERT_EQ(listing.entries.size(), 1u);
    EXPECT_EQ(listing.entries[0].name, "ok");
}

TEST(ListDir, MoreThanMaxEntriesAreTruncated)
{
    const std::string three = "a/f/1/1/644\0b/f/1/1/644\0c/f/1/1/644\0"s;
    EXPECT_FALSE(parse_listing(three, 3).truncated);
    const TListing listing = parse_listing(three, 2);
    ASSERT_EQ(listing.entries.size(), 2u);
    EXPECT_EQ(listing.entries[1].name, "b");
    EXPECT_TRUE(listing.truncated);
}
