// README.md as a newcomer follows it: every command of the tour prints what README shows, and
// the host example (cut out of README.md when the tests are built) finds a part and saves one.
#include "test_tool_runner.h"

namespace {

using tool_test::CONSOLE;

TEST(Readme, TheTourPrintsWhatReadmeShows) {
    CONSOLE console(VORN_TEST_FILES_DIR "readme");
    const auto steps =
        tool_test::console_steps(tool_test::read_file(VORN_TEST_SOURCE_DIR "README.md"));
    ASSERT_GT(steps.size(), 20u) << "the tour has lost its commands";
    console.expect_transcript(steps);
}

TEST(Readme, TheHostExampleFindsAPartByItsBytesAndSavesOneWithCopiedFlows) {
    CONSOLE console(VORN_TEST_FILES_DIR "readme");
    console.run("mkdir db && vorn config set custom-dir db");
    EXPECT_EQ(console.run(VORN_README_HOST_PATH),
              "found W25Q128FV\nsaved /home/me/db/pgm_flash_W25Q32JV.xml\n");

    const auto saved = console.json("vorn show W25Q32JV --json");
    EXPECT_EQ(saved.at("device").at("source"), "custom");
    EXPECT_EQ(saved.at("device").at("flows"),
              console.json("vorn template show Winbond --json").at("template").at("flows"));
}

}  // namespace
