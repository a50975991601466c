// Runs the built vorn tool the way a user does: from a shell, in a home of its own, and compares
// what it prints with console transcripts (README's own and those of tests/files/tool/).
#ifndef TEST_TOOL_RUNNER_H
#define TEST_TOOL_RUNNER_H

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "vorn_test_support.h"

namespace tool_test {

namespace fs = std::filesystem;

inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

inline std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

struct RUN {
    int status = -1;
    std::string out;
};

// A shell command's exit status and what it printed, stderr included unless it redirects it.
inline RUN shell(const std::string& command) {
    RUN run;
    FILE* pipe = popen(("exec 2>&1\n" + command).c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

// One `$` line of a console block (with its `\` continuation lines) and the lines shown after it.
struct STEP {
    std::string command;
    std::vector<std::string> expected;
};

// The steps of every ```console block of a Markdown text; the prose around them is not read.
inline std::vector<STEP> console_steps(const std::string& markdown) {
    std::vector<STEP> steps;
    bool in_block = false;
    bool continued = false;
    for (const std::string& line : lines_of(markdown)) {
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

// "..." inside a line stands for any text.
inline bool line_matches(const std::string& expected, const std::string& actual) {
    const size_t first = expected.find("...");
    if (first == std::string::npos) return expected == actual;
    if (actual.compare(0, first, expected, 0, first) != 0) return false;
    size_t at = first;
    size_t from = first + 3;
    for (size_t dots; (dots = expected.find("...", from)) != std::string::npos; from = dots + 3) {
        at = actual.find(expected.substr(from, dots - from), at);
        if (at == std::string::npos) return false;
        at += dots - from;
    }
    const size_t tail = expected.size() - from;
    return actual.size() >= at + tail &&
           actual.compare(actual.size() - tail, tail, expected, from) == 0;
}

// `expected` line by line, where a line "..." alone stands for any number of lines.
inline bool matches(const std::vector<std::string>& expected,
                    const std::vector<std::string>& actual) {
    size_t a = 0;
    for (size_t e = 0; e < expected.size(); ++e) {
        if (expected[e] == "...") {
            if (e + 1 == expected.size()) return true;
            while (a < actual.size() && !line_matches(expected[e + 1], actual[a])) ++a;
        } else if (a >= actual.size() || !line_matches(expected[e], actual[a++])) {
            return false;
        }
    }
    return a == actual.size();
}

// A fresh user: a home of its own holding the files of `files_dir`, a writable copy of the
// shipped programmer directory, no configuration yet, no editor, and the built tool on the PATH.
class CONSOLE {
  public:
    explicit CONSOLE(const std::string& files_dir) {
        fs::create_directories(home() + "/tmp");
        for (const auto& entry : fs::directory_iterator(files_dir))
            if (entry.is_regular_file())
                fs::copy(entry.path(), fs::path(home()) / entry.path().filename());
        static const std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
        const std::string tools = fs::path(VORN_TOOL_PATH).parent_path().string();
        setenv("PATH", (tools + ":" + path).c_str(), 1);
        setenv("HOME", home().c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home() + "/.config").c_str(), 1);
        if (const char* tmp = std::getenv("TMPDIR")) m_tmpdir = tmp;
        setenv("TMPDIR", (home() + "/tmp").c_str(), 1);
        setenv("VORN_PROGRAMMER_DIR", programmer().c_str(), 1);
        setenv("EDITOR", "false", 1);
        for (const char* unset : {"VISUAL", "VORN_INI", "VORN_USER_INI"}) unsetenv(unset);
    }

    // Temporary folders of the test itself go where they went before.
    ~CONSOLE() {
        if (m_tmpdir.empty())
            unsetenv("TMPDIR");
        else
            setenv("TMPDIR", m_tmpdir.c_str(), 1);
    }
    CONSOLE(const CONSOLE&) = delete;
    CONSOLE& operator=(const CONSOLE&) = delete;

    std::string home() const { return m_root.path() + "home"; }
    const std::string& programmer() const { return m_programmer.path(); }

    // Runs `command` from the home; paths are printed as on README's machine.
    std::string run(const std::string& command) const {
        std::string printed = shell("cd \"$HOME\"\n" + command).out;
        printed = replace_all(printed, programmer(), "/usr/share/vorn/");
        return replace_all(printed, home(), "/home/me");
    }
    // stdout of `command`, which prints JSON.
    nlohmann::json json(const std::string& command) const {
        const std::string out = run(command + " 2>/dev/null");
        try {
            return nlohmann::json::parse(out);
        } catch (const std::exception& e) {
            ADD_FAILURE() << command << ": not JSON (" << e.what() << "):\n" << out;
            return nlohmann::json::object();
        }
    }

    // Every step prints exactly the lines its transcript shows after it.
    void expect_transcript(const std::vector<STEP>& steps) const {
        for (const STEP& step : steps) {
            const std::string printed = run(step.command);
            std::string shown;
            for (const std::string& line : step.expected) shown += line + "\n";
            EXPECT_TRUE(matches(step.expected, lines_of(printed)))
                << "$ " << step.command << "\n--- expected:\n"
                << shown << "--- printed:\n"
                << printed;
        }
    }

  private:
    vorn_test::TempDir m_root;
    vorn_test::ProgrammerDir m_programmer;
    std::string m_tmpdir;
};

}  // namespace tool_test

#endif
