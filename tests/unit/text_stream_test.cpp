#include "stream/text_stream.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace hivedump {
namespace {

using testing::MemorySink;

TEST(TextStream, CarriageReturnBeforeEveryLineFeedAndNothingElseChanged)
{
    MemorySink sink;
    TextStream stream(sink);
    stream.write("a\nb\r\nc\x1a\n");
    stream.put('\n');
    stream.write(std::string_view("\0z", 2));
    ASSERT_TRUE(stream.close());
    EXPECT_EQ(sink.text(), std::string("a\r\nb\r\r\nc\x1a\r\n\r\n\0z", 15));
}

TEST(TextStream, WritesInBlocksOf4096)
{
    MemorySink sink;
    TextStream stream(sink);
    stream.write(std::string(10000, 'x'));
    EXPECT_EQ(sink.write_sizes, (std::vector<std::size_t>{ 4096, 4096 }));
    ASSERT_TRUE(stream.close());
    EXPECT_EQ(sink.write_sizes.back(), 10000u - 8192u);
    EXPECT_EQ(sink.closes, 1);
}

TEST(TextStream, WritesInBlocksOfTheSinksSize)
{
    for (std::size_t block : { 1u, 2u, 3u, 1u << 20 }) {
        MemorySink sink;
        sink.block = block;
        TextStream stream(sink);
        stream.write("ab\nc");
        stream.put('\n');
        stream.write_verbatim("d\r\n");
        ASSERT_TRUE(stream.close());
        EXPECT_EQ(sink.text(), "ab\r\nc\r\nd\r\n") << block;
        for (std::size_t size : sink.write_sizes)
            EXPECT_LE(size, block);
    }
}

TEST(TextStream, LineFeedAtBlockEdgeKeepsItsCarriageReturn)
{
    MemorySink sink;
    TextStream stream(sink);
    stream.write(std::string(4095, 'x') + "\n");
    ASSERT_TRUE(stream.close());
    EXPECT_EQ(sink.text().substr(4094), "x\r\n");
}

TEST(TextStream, RemembersFirstWriteFailure)
{
    // Only the first block's write fails: the close, whose own write would
    // succeed, must still report it, and drop the rest.
    MemorySink sink;
    sink.fail_write_at = 1;
    TextStream stream(sink);
    stream.write(std::string(5000, 'x'));
    EXPECT_FALSE(stream.close());
    EXPECT_EQ(sink.writes, 1);
}

TEST(TextStream, FailedCloseIsAFailure)
{
    MemorySink sink;
    sink.fail_close = true;
    TextStream stream(sink);
    stream.write("x");
    EXPECT_FALSE(stream.close());
}

} // namespace
} // namespace hivedump
