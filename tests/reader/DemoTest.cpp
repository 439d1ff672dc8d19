#include <gtest/gtest.h>
#include <stdio.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

namespace {

struct DemoRun {
    int status = -1;
    std::vector<std::string> lines;
};

DemoRun RunDemo(const std::string& arguments) {
    DemoRun run;
    const std::string command = std::string("'") + NIMBEX_DEMO_PATH + "' " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char line[1024];
    while (fgets(line, sizeof(line), pipe)) {
        std::string text = line;
        if (!text.empty() && text.back() == '\n') text.pop_back();
        run.lines.push_back(text);
    }
    run.status = pclose(pipe);
    return run;
}

}  // namespace

TEST(Demo, ReportsTheReaderAndEveryFunction) {
    for (const std::string& arguments :
         {std::string(), "'" + std::string(NIMBEX_MODULE_PATH) + "'"}) {
        const DemoRun run = RunDemo(arguments);
        ASSERT_EQ(run.status, 0);
        std::vector<std::string> header(run.lines.begin(),
                                        run.lines.begin() + std::min<size_t>(6, run.lines.size()));
        EXPECT_NE(std::find(header.begin(), header.end(), "reader name:       CLOUD"),
                  header.end());
        EXPECT_NE(std::find(header.begin(), header.end(), "media name:        Cloud Token"),
                  header.end());
        EXPECT_NE(std::find(header.begin(), header.end(), "interface version: 3"), header.end());

        const std::regex function(R"(  0x([0-9a-f]{4})  (\w+) +(supported|not supported yet))");
        const std::regex summary(R"((\d+) of 53 functions supported)");
        int functions = 0, supported = 0, reported = -1;
        std::smatch m;
        for (const std::string& line : run.lines) {
            if (std::regex_match(line, m, function)) {
                ++functions;
                supported += m[3] == "supported";
                if (m[2] == "get_reader_name" || m[2] == "release_key") {
                    EXPECT_EQ(m[3], "supported") << line;
                }
            } else if (std::regex_match(line, m, summary)) {
                reported = std::stoi(m[1]);
            }
        }
        EXPECT_EQ(functions, 53);
        EXPECT_EQ(reported, supported);
    }
}

TEST(Demo, MissingModuleIsReported) {
    const DemoRun run = RunDemo("/nonexistent/libnimbex.so");
    EXPECT_NE(run.status, 0);
    ASSERT_FALSE(run.lines.empty());
    EXPECT_EQ(run.lines[0].rfind("cannot load /nonexistent/libnimbex.so", 0), 0u);
}
