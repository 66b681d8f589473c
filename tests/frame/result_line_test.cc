#include "frame/result_line.h"

#include <gtest/gtest.h>

#include "tests/support/recording_sink.h"

TEST(ResultLine, LayoutKeepsSemicolonsOfTheMessage) {
    EXPECT_EQ(
        formatResultLine("error", "NVIDIA", 3, 2, "Restauracao NVIDIA incompleta; backup mantido"),
        "result=error;vendor=NVIDIA;supported=3;changed=2;message=Restauracao NVIDIA "
        "incompleta; backup mantido");
}

TEST(ResultLine, CountsInPlainDecimal) {
    struct Case {
        int32_t supported, changed;
        const char* expected;
    } cases[] = {
        {0, 0, "result=ok;vendor=AMD;supported=0;changed=0;message=m"},
        {26, 4, "result=ok;vendor=AMD;supported=26;changed=4;message=m"},
        {2147483647, -1, "result=ok;vendor=AMD;supported=2147483647;changed=-1;message=m"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(formatResultLine("ok", "AMD", c.supported, c.changed, "m"), c.expected);
    }
}

TEST(ResultPrinter, PrintsThroughItsSinkAndCounts) {
    RecordingSink sink;
    ResultPrinter printer("NVIDIA", sink);
    EXPECT_EQ(printer.linesPrinted(), 0);
    printer.printResultLine("ok", 13, 0, "GPU NVIDIA detectada");
    ASSERT_EQ(sink.lines.size(), 1u);
    EXPECT_EQ(sink.lines[0],
              "result=ok;vendor=NVIDIA;supported=13;changed=0;message=GPU NVIDIA detectada");
    EXPECT_EQ(printer.linesPrinted(), 1);
}
