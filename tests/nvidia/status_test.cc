#include "tests/nvidia/nvidia_fixture.h"

namespace {
const char kOk[] = "result=ok;vendor=NVIDIA;supported=13;changed=0;message=GPU NVIDIA detectada";
const char kUnsupported[] =
    "result=unsupported;vendor=NVIDIA;supported=0;changed=0;message=NVAPI indisponivel ou nenhuma "
    "GPU NVIDIA compativel";
}  // namespace

TEST_F(NvidiaTest, StatusOpensInOrderPrintsThenCloses) {
    driver.committed.erase(0x00A879CF);  // absent settings do not matter to the probe
    EXPECT_EQ(status(), 0);
    EXPECT_EQ(line(), kOk);
    EXPECT_EQ(driver.calls,
              (std::vector<std::string>{"Initialize", "CreateSession", "LoadSettings",
                                        "GetBaseProfile", "LINE", "DestroySession", "Unload"}));
    EXPECT_TRUE(files.log.empty());
}

TEST_F(NvidiaTest, StatusClosesAsFarAsItOpened) {
    struct Case {
        const char* failing;
        std::vector<std::string> calls;
    } cases[] = {
        {"Initialize", {"Initialize", "LINE"}},
        {"CreateSession", {"Initialize", "CreateSession", "LINE", "Unload"}},
        {"LoadSettings",
         {"Initialize", "CreateSession", "LoadSettings", "LINE", "DestroySession", "Unload"}},
        {"GetBaseProfile",
         {"Initialize", "CreateSession", "LoadSettings", "GetBaseProfile", "LINE", "DestroySession",
          "Unload"}},
    };
    for (const Case& c : cases) {
        driver.calls.clear();
        driver.faults = {{c.failing, -2}};
        EXPECT_EQ(status(), 10) << c.failing;
        EXPECT_EQ(line(), kUnsupported);
        EXPECT_EQ(driver.calls, c.calls) << c.failing;
    }
}

TEST_F(NvidiaTest, ClosingStatusesAreIgnored) {
    driver.faults = {{"DestroySession", -1}, {"Unload", -209}};
    EXPECT_EQ(status(), 0);
    EXPECT_EQ(line(), kOk);
}
