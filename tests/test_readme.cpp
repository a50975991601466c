// README.md as a newcomer follows it: every command of the tour prints what README shows, and
// the host example (cut out of README.md when the tests are built) finds parts, walks a flow,
// saves a draft and writes no configuration of its own.
#include "test_tool_runner.h"

namespace {

using tool_test::CONSOLE;

// What the host example prints on stdout.
const char* const HOST_EXAMPLE_OUTPUT =
    "candidate W25Q128FV\n"
    "candidate W25Q128JV\n"
    "  Write Register: Write Enable, 0x06\n"
    "  Write Data: Page Program, 0x02\n"
    "  Read Register: Read Status Register, 0x05\n"
    "refused: Device density '32MB' is invalid.\n"
    "saved /home/me/db/pgm_flash_W25Q32BVSSIG.xml\n";

TEST(Readme, TheTourPrintsWhatReadmeShows) {
    CONSOLE console(VORN_TEST_FILES_DIR "readme");
    const auto steps =
        tool_test::console_steps(vorn_test::read_text(VORN_TEST_SOURCE_DIR "README.md"));
    ASSERT_GT(steps.size(), 20u) << "the tour has lost its commands";
    console.expect_transcript(steps);
}

TEST(Readme, TheHostExampleFindsPartsByTheirBytesWalksAFlowAndSavesADraft) {
    CONSOLE console(VORN_TEST_FILES_DIR "readme");
    console.run("mkdir db && vorn config set custom-dir db");
    const std::string ini = console.run("cat .config/vorn/user.ini");
    EXPECT_EQ(console.run(VORN_README_HOST_PATH " 2>/dev/null"), HOST_EXAMPLE_OUTPUT);
    // The refused save posted the validator's warning.
    EXPECT_EQ(console.run("vorn delete W25Q32BVSSIG >/dev/null && " VORN_README_HOST_PATH
                          " 2>&1 >/dev/null"),
              "Warning (20478): Device density '32MB' is invalid.\n");

    const auto saved = console.json("vorn show W25Q32BVSSIG --json");
    EXPECT_EQ(saved.at("device").at("source"), "custom");
    EXPECT_EQ(saved.at("device").at("density"), "32Mb");
    EXPECT_EQ(saved.at("device").at("flows"),
              console.json("vorn show W25Q128FV --json").at("device").at("flows"));
    EXPECT_EQ(console.run("cat .config/vorn/user.ini"), ini);
}

TEST(Readme, TheHostExampleWritesNoIniBehindTheUsersBack) {
    CONSOLE console(VORN_TEST_FILES_DIR "readme");
    // No custom directory anywhere: it refuses, and leaves the user's configuration alone.
    EXPECT_EQ(console.run(VORN_README_HOST_PATH " 2>&1; echo \"exit $?\""),
              "no custom directory: give one, or `vorn config set custom-dir DIR`\nexit 1\n");
    EXPECT_EQ(console.run("ls .config/vorn/user.ini 2>/dev/null | wc -l"), "0\n");
    // Given one, it saves there, and still writes no INI.
    console.run("mkdir mine");
    EXPECT_EQ(console.run(VORN_README_HOST_PATH " mine 2>/dev/null | tail -n 1"),
              "saved /home/me/mine/pgm_flash_W25Q32BVSSIG.xml\n");
    EXPECT_EQ(console.run("ls .config/vorn/user.ini 2>/dev/null | wc -l"), "0\n");
}

}  // namespace
