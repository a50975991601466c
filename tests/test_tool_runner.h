// Runs the built vorn tool the way a user does: a separate process with its own programmer
// directory (a copy of data/), custom directory and configuration files.
#ifndef TEST_TOOL_RUNNER_H
#define TEST_TOOL_RUNNER_H

#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "vorn_test_support.h"

extern char** environ;

namespace tool_test {

namespace fs = std::filesystem;

#ifndef VORN_TOOL_PATH
// A build without the tool has nothing to run these suites against.
class NO_TOOL : public ::testing::Environment {
  public:
    void SetUp() override { GTEST_SKIP() << "the vorn tool is not part of this build"; }
};
inline ::testing::Environment* const no_tool = ::testing::AddGlobalTestEnvironment(new NO_TOOL);
#endif

struct RESULT {
    int status = -1;
    std::string out;
    std::string err;

    nlohmann::json json() const {
        try {
            return nlohmann::json::parse(out);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "stdout is not JSON (" << e.what() << "):\n"
                          << out << "\nstderr:\n"
                          << err;
            return nlohmann::json::object();
        }
    }
    // stderr split into lines, without the empty last one.
    std::vector<std::string> err_lines() const {
        std::vector<std::string> lines;
        std::istringstream in(err);
        std::string line;
        while (std::getline(in, line)) lines.push_back(line);
        return lines;
    }
};

// Each member of `expected`, a JSON object in text, has that value in `actual`.
inline void expect_members(const nlohmann::json& actual, const std::string& expected) {
    const nlohmann::json members = nlohmann::json::parse(expected);
    for (const auto& [key, value] : members.items())
        EXPECT_EQ(actual.value(key, nlohmann::json()), value) << key;
}

inline std::ostream& operator<<(std::ostream& os, const RESULT& r) {
    return os << "status " << r.status << "\n--- stdout\n" << r.out << "--- stderr\n" << r.err;
}

// `r` ended with `status` and, when `text` is given, wrote it to `stream`.
inline ::testing::AssertionResult ended(const RESULT& r, int status, const std::string& stream,
                                        const std::string& text, const char* stream_name) {
    if (r.status != status)
        return ::testing::AssertionFailure() << "status " << r.status << ", not " << status << "\n"
                                             << r;
    if (stream.find(text) == std::string::npos)
        return ::testing::AssertionFailure() << "no \"" << text << "\" on " << stream_name << "\n"
                                             << r;
    return ::testing::AssertionSuccess();
}
inline ::testing::AssertionResult exits(const RESULT& r, int status, const std::string& text = "") {
    return ended(r, status, r.err, text, "stderr");
}
inline ::testing::AssertionResult prints(const RESULT& r, int status, const std::string& text) {
    return ended(r, status, r.out, text, "stdout");
}

// One user's world: everything the tool may read or write lives below a temporary root.
class TOOL_WORLD {
  public:
    TOOL_WORLD() {
        fs::create_directories(programmer());
        for (const char* sub : {"xml", "xsd", "dev"})
            fs::copy(fs::path(VORN_TEST_DATA_DIR) / sub, fs::path(programmer()) / sub,
                     fs::copy_options::recursive);
        fs::create_directories(custom());
        fs::create_directories(m_root.path() + "tmp");
        fs::create_directories(m_root.path() + "home");
    }

    std::string root() const { return m_root.path(); }
    std::string programmer() const { return m_root.path() + "programmer/"; }
    std::string zentro() const { return programmer() + "xml/"; }
    std::string custom() const { return m_root.path() + "custom/"; }
    std::string user_ini() const { return m_root.path() + "config/user.ini"; }
    std::string switch_ini() const { return m_root.path() + "config/vorn.ini"; }
    std::string scratch() const { return m_root.path() + "tmp/"; }

    void write(const std::string& path, const std::string& text) const {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }
    std::string read(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // File names in a directory, sorted.
    std::vector<std::string> files_in(const std::string& dir) const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(dir, ec))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // Everything below the root with its size, to prove that nothing was touched.
    std::map<std::string, std::string> snapshot() const {
        std::map<std::string, std::string> out;
        for (const auto& entry : fs::recursive_directory_iterator(m_root.path())) {
            if (!entry.is_regular_file()) continue;
            out[entry.path().string()] = read(entry.path().string());
        }
        return out;
    }

    void set_env(const std::string& key, const std::string& value) { m_env[key] = value; }
    // Leaves one of the variables the world sets out of the tool's environment.
    void unset_env(const std::string& key) { m_unset.push_back(key); }
    // Standard input becomes a terminal (fed with the run's input) instead of a file.
    void use_terminal(bool terminal) { m_terminal = terminal; }

    // Runs `vorn --custom-dir <custom> args...` (the custom directory comes from the user INI
    // instead when `with_custom_dir` is false).
    RESULT run(const std::vector<std::string>& args, bool with_custom_dir = true,
               const std::string& input = "") const {
        RESULT result;
#ifndef VORN_TOOL_PATH
        (void)args;
        (void)with_custom_dir;
        (void)input;
        ADD_FAILURE() << "the vorn tool is not built";
#else
        std::vector<std::string> argv_text{VORN_TOOL_PATH};
        if (with_custom_dir) {
            argv_text.push_back("--custom-dir");
            argv_text.push_back(custom());
        }
        argv_text.insert(argv_text.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : argv_text) argv.push_back(&a[0]);
        argv.push_back(nullptr);

        std::map<std::string, std::string> env{
            {"PATH", std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin:/bin"},
            {"HOME", m_root.path() + "home"},
            {"XDG_CONFIG_HOME", m_root.path() + "xdg"},
            {"VORN_INI", switch_ini()},
            {"VORN_USER_INI", user_ini()},
            {"VORN_PROGRAMMER_DIR", programmer()},
            {"TMPDIR", scratch()},
            {"EDITOR", "false"}};
        for (const auto& e : m_env) env[e.first] = e.second;
        for (const auto& key : m_unset) env.erase(key);
        // Sanitizer settings of the test run reach the tool too.
        for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
            if (std::getenv(keep) != nullptr && env.count(keep) == 0) env[keep] = std::getenv(keep);
        std::vector<std::string> env_text;
        for (const auto& e : env) env_text.push_back(e.first + "=" + e.second);
        std::vector<char*> envp;
        for (auto& e : env_text) envp.push_back(&e[0]);
        envp.push_back(nullptr);

        const std::string out_file = m_root.path() + "run.out";
        const std::string err_file = m_root.path() + "run.err";
        const std::string in_file = m_root.path() + "run.in";
        write(in_file, input);
        int master = -1;
        int slave = -1;
        if (m_terminal) {
            if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
                ADD_FAILURE() << "no pseudo-terminal";
                return result;
            }
            // The line discipline keeps the answer until the tool reads it.
            if (!input.empty() && ::write(master, input.data(), input.size()) < 0)
                ADD_FAILURE() << "cannot feed the terminal";
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        // The library's default custom directory is "./": keep it inside this world.
        const std::string home = m_root.path() + "home";
        posix_spawn_file_actions_addchdir_np(&actions, home.c_str());
        if (m_terminal)
            posix_spawn_file_actions_adddup2(&actions, slave, 0);
        else
            posix_spawn_file_actions_addopen(&actions, 0, in_file.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = 0;
        const int rc =
            posix_spawn(&pid, VORN_TOOL_PATH, &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (slave >= 0) close(slave);
        if (rc != 0) {
            if (master >= 0) close(master);
            ADD_FAILURE() << "cannot start " << VORN_TOOL_PATH;
            return result;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (master >= 0) close(master);
        if (WIFEXITED(status))
            result.status = WEXITSTATUS(status);
        else
            result.status = 128 + WTERMSIG(status);  // a crash or an abort
        result.out = read(out_file);
        result.err = read(err_file);
        fs::remove(out_file);
        fs::remove(err_file);
        fs::remove(in_file);
#endif
        return result;
    }

  private:
    vorn_test::TempDir m_root;
    std::map<std::string, std::string> m_env;
    std::vector<std::string> m_unset;
    bool m_terminal = false;
};

// A shipped device used throughout: Micron, 128Mb, 3.0V/3.3V, ID 0x20 0xBA 0x18.
constexpr const char* SHIPPED = "MT25QL128";

}  // namespace tool_test

#endif
