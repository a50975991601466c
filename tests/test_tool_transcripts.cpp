// The vorn tool's contract, run as a user runs it: each transcript of tests/files/tool/*.md
// prints what it shows (exit statuses included), the JSON documents keep their shape, and what
// only a terminal shows (the offer to edit again, the progress line) is shown there only.
#include <pty.h>
#include <unistd.h>

#include <algorithm>

#include "test_tool_runner.h"

namespace {

using nlohmann::json;
using tool_test::CONSOLE;
namespace fs = std::filesystem;

const std::string FILES = VORN_TEST_FILES_DIR "tool/";

// Every transcript, each from a fresh home; one test, so that a new file needs no rebuild.
TEST(ToolTranscripts, EachPrintsWhatItShows) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(FILES))
        if (entry.path().extension() == ".md") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 5u) << "the transcripts are lost";
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        CONSOLE console(FILES);
        const auto steps = tool_test::console_steps(vorn_test::read_text(file.string()));
        EXPECT_FALSE(steps.empty());
        console.expect_transcript(steps);
    }
}

// `actual` has every key of `shape` with a value of the same type; the elements of an array
// each have the shape of the example's first element.
void expect_shape(const json& actual, const json& shape, const std::string& where) {
    const auto kind = [](const json& j) {
        return j.is_number() ? json::value_t::number_float : j.type();
    };
    if (kind(actual) != kind(shape)) {
        ADD_FAILURE() << where << " is " << actual.type_name() << ", not " << shape.type_name();
    } else if (shape.is_object()) {
        for (const auto& [key, value] : shape.items()) {
            if (!actual.contains(key))
                ADD_FAILURE() << where << " has no " << key;
            else
                expect_shape(actual.at(key), value, where + "." + key);
        }
    } else if (shape.is_array() && !shape.empty()) {
        for (size_t i = 0; i < actual.size(); ++i)
            expect_shape(actual[i], shape[0], where + "[" + std::to_string(i) + "]");
    }
}

// Each entry of json_shapes.json runs a command in one console, in order: its exit status and
// the shape of the document it prints.
TEST(ToolJson, DocumentsKeepTheirShape) {
    CONSOLE console(FILES);
    const json runs = json::parse(vorn_test::read_text(FILES + "json_shapes.json"));
    for (const json& run : runs) {
        const std::string command = run.at("run");
        const auto printed = tool_test::shell("cd \"$HOME\"\n" + command + " 2>/dev/null");
        EXPECT_EQ(printed.status, run.at("status")) << command << "\n" << printed.out;
        if (!run.contains("shape")) continue;
        const json doc = json::parse(printed.out, nullptr, false);
        expect_shape(doc, run.at("shape"), command);
        EXPECT_EQ(doc.value("status", -1), printed.status) << command;
    }
}

// What a terminal shows while `command` runs with a terminal as its stdin, stdout and stderr,
// `input` typed ahead.
std::string on_terminal(const std::string& command, const std::string& input = "") {
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", ("cd \"$HOME\"\n" + command).c_str(), nullptr);
        _exit(127);
    }
    if (pid < 0) return "(no terminal)";
    if (!input.empty() && write(master, input.data(), input.size()) < 0) return "(no input)";
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) out.append(buffer, n);
    waitpid(pid, nullptr, 0);
    close(master);
    return out;
}

TEST(ToolTerminal, ARefusedEditIsOfferedAgainAndProgressIsDrawn) {
    CONSOLE console(FILES);
    console.run("mkdir db && vorn config set custom-dir db && vorn import second_device.xml");
    const std::string edit = "EDITOR='sh two_pass_editor.sh' vorn edit OTHERDEV";
    const std::string refused = on_terminal(edit, "n\n");
    EXPECT_NE(refused.find("Device density '7Mb' is invalid."), std::string::npos) << refused;
    EXPECT_NE(refused.find("Edit again? [Y/n]"), std::string::npos) << refused;
    EXPECT_EQ(console.run("cat edits"), "1\n") << "the editor ran once";
    EXPECT_EQ(console.json("vorn show OTHERDEV --json").at("device").at("density"), "64Mb");

    console.run("rm edits");
    // A second refusal would be answered "n" rather than wait for an answer.
    const std::string mended = on_terminal(edit, "y\nn\n");
    EXPECT_NE(mended.find("Saved device 'OTHERDEV'"), std::string::npos) << mended;
    EXPECT_EQ(console.json("vorn show OTHERDEV --json").at("device").at("density"), "32Mb");

    const std::string check = "vorn check --replace second_device.xml second_device.xml";
    const std::string progress = on_terminal(check);
    EXPECT_NE(progress.find("\rchecking 2/2"), std::string::npos) << progress;
    EXPECT_EQ(on_terminal(check + " > out").find("checking"), std::string::npos);
    EXPECT_EQ(on_terminal(check + " --json").find("checking"), std::string::npos);
    EXPECT_NE(on_terminal("vorn verify --all").find("\rverifying 1/"), std::string::npos);
}

}  // namespace
