// README.md as a newcomer follows it: every command of the tour prints what README shows, and
// the host example (cut out of README.md when the tests are built) finds a part and saves one.
#include <cstdio>
#include <cstdlib>

#include "test_tool_runner.h"

using nlohmann::json;
namespace fs = std::filesystem;
using tool_test::RESULT;
using tool_test::TOOL_WORLD;

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// What a shell command prints on stdout and stderr together, as a terminal shows it.
std::string shell(const std::string& command) {
    FILE* pipe = popen(("exec 2>&1\n" + command).c_str(), "r");
    if (pipe == nullptr) return "(popen failed)";
    std::string out;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    pclose(pipe);
    return out;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// One `$` line of a console block and the lines README shows after it.
struct STEP {
    std::string command;
    std::vector<std::string> expected;
};

std::vector<STEP> tour_steps(const std::string& readme) {
    std::vector<STEP> steps;
    bool in_block = false;
    bool continued = false;
    for (const std::string& line : lines_of(readme)) {
        if (!in_block) {
            in_block = line == "```console";
        } else if (line == "```") {
            in_block = false;
        } else if (continued) {
            steps.back().command += "\n" + line;
        } else if (line.rfind("$ ", 0) == 0) {
            steps.push_back({line.substr(2), {}});
        } else if (!steps.empty()) {
            steps.back().expected.push_back(line);
        }
        continued = in_block && !steps.empty() && !steps.back().command.empty() &&
                    steps.back().command.back() == '\\' && steps.back().expected.empty();
    }
    return steps;
}

// `expected` line by line, where a line "..." stands for any number of lines.
bool matches(const std::vector<std::string>& expected, const std::vector<std::string>& actual) {
    size_t a = 0;
    for (size_t e = 0; e < expected.size(); ++e) {
        if (expected[e] == "...") {
            if (e + 1 == expected.size()) return true;
            while (a < actual.size() && actual[a] != expected[e + 1]) ++a;
        } else if (a >= actual.size() || actual[a++] != expected[e]) {
            return false;
        }
    }
    return a == actual.size();
}

TEST(Readme, TheTourPrintsWhatReadmeShows) {
    // A fresh user: a home of its own, the user configuration where it is by default.
    vorn_test::TempDir root;
    const std::string home = root.path() + "home";
    fs::create_directories(home);
    for (const auto& entry : fs::directory_iterator(VORN_TEST_FILES_DIR "readme"))
        fs::copy(entry.path(), home + "/" + entry.path().filename().string());
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    unsetenv("VORN_INI");
    unsetenv("VORN_USER_INI");
    setenv("VORN_PROGRAMMER_DIR", VORN_TEST_DATA_DIR, 1);
    const std::string tools = fs::path(VORN_TOOL_PATH).parent_path().string();
    setenv("PATH", (tools + ":" + std::getenv("PATH")).c_str(), 1);

    std::ifstream readme(VORN_TEST_SOURCE_DIR "README.md");
    const auto steps = tour_steps(std::string(std::istreambuf_iterator<char>(readme), {}));
    ASSERT_GT(steps.size(), 20u) << "the tour has lost its commands";
    for (const STEP& step : steps) {
        // Paths differ from README's only by where the home and the programmer directory are.
        std::string printed = shell("cd \"$HOME\"\n" + step.command);
        printed = replace_all(printed, VORN_TEST_DATA_DIR, "/usr/share/vorn/");
        printed = replace_all(printed, home, "/home/me");
        std::string shown;
        for (const std::string& line : step.expected) shown += line + "\n";
        EXPECT_TRUE(matches(step.expected, lines_of(printed)))
            << "$ " << step.command << "\n--- README shows:\n"
            << shown << "--- vorn prints:\n"
            << printed;
    }
}

TEST(Readme, TheHostExampleFindsAPartByItsBytesAndSavesOneWithCopiedFlows) {
    TOOL_WORLD world;
    world.write(world.user_ini(), "vorn_custom_db_dir = " + world.custom() + "\n");
    setenv("VORN_USER_INI", world.user_ini().c_str(), 1);
    setenv("VORN_INI", world.switch_ini().c_str(), 1);
    setenv("VORN_PROGRAMMER_DIR", world.programmer().c_str(), 1);
    const std::string printed = shell("cd '" + world.root() + "home' && " VORN_README_HOST_PATH);
    EXPECT_EQ(printed, "found W25Q128FV\nsaved " + world.custom() + "pgm_flash_W25Q32JV.xml\n");

    RESULT saved = world.run({"show", "W25Q32JV", "--json"});
    RESULT vendor = world.run({"template", "show", "Winbond", "--json"});
    ASSERT_EQ(saved.status, 0) << saved;
    EXPECT_EQ(saved.json().at("device").at("source"), "custom");
    EXPECT_EQ(saved.json().at("device").at("flows"), vendor.json().at("template").at("flows"));
}

}  // namespace
