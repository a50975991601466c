// A child process saves and deletes devices and templates in both database folders and is
// killed with SIGKILL at random moments. After every kill a fresh manager must load, every
// user file must be complete and valid or absent, and the fresh maps must agree with the files.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "test_reliability_support.h"
#include "vorn.h"
#include "vorn_test_support.h"

using namespace reliability_test;

namespace {

constexpr int KILLS = 220;
// Kills land up to this long after the child has loaded; long enough for dozens of saves.
constexpr int MAX_DELAY_US = 25000;

struct FOLDER {
    std::string dir;
    // Names are per folder, so that no name is defined in both: the load order would then
    // decide which one the maps show, which is a different question.
    std::vector<std::string> devices;
    std::vector<std::string> templates;
};

[[noreturn]] void child_work(unsigned seed, const std::vector<FOLDER>& folders, int ready_fd) {
    msg_set_sink([](const MSG_RECORD&) {});
    std::mt19937 rng(seed);
    try {
        auto mgr = std::make_unique<VORN_QSPI_MGR>();
        if (write(ready_fd, "r", 1) != 1) _exit(4);
        for (;;) {
            const FOLDER& folder = folders[rng() % folders.size()];
            const std::string& device = folder.devices[rng() % folder.devices.size()];
            const std::string& tmpl = folder.templates[rng() % folder.templates.size()];
            const auto vendor = static_cast<VORN_PROG_FLOW_TEMPLATE>(rng() % 5);
            // A template name in use must be freed first; saving over it is refused.
            auto free_template = [&] {
                if (mgr->get_user_flash_template_map().count(tmpl) != 0)
                    mgr->delete_db(tmpl, folder.dir);
            };
            switch (rng() % 7) {
                case 0:
                case 1:
                    mgr->update_db(make_qspi_device(*mgr, device, vendor), folder.dir);
                    break;
                case 2:  // a device that carries a user template: two files
                    free_template();
                    mgr->update_db(make_qspi_device(*mgr, device, vendor, tmpl), folder.dir);
                    break;
                case 3: {
                    free_template();
                    std::unique_ptr<VORN_FLASH> carrier(
                        make_qspi_device(*mgr, "carrier", vendor, tmpl));
                    mgr->update_template_db(carrier.get(), folder.dir);
                    break;
                }
                case 4:
                    mgr->delete_db(device, folder.dir);
                    break;
                case 5:
                    mgr->delete_db(tmpl, folder.dir);
                    break;
                default:
                    mgr.reset(static_cast<VORN_QSPI_MGR*>(mgr->get_new_instance()));
                    break;
            }
        }
    } catch (const std::exception& e) {
        std::cerr << "child: " << e.what() << std::endl;
        _exit(3);
    }
}

struct CHECK_RESULT {
    int files = 0;
    std::vector<std::string> problems;
    std::vector<std::string> bad_files;
    std::vector<std::string> placeholders;  // file names, without the folder
};

// The folder read without the manager, against the maps of a fresh manager.
void check_folder(const VORN_QSPI_MGR& mgr, const FOLDER& folder,
                  const std::map<std::string, std::string>& dir_map, CHECK_RESULT& result) {
    std::map<std::string, std::string> devices_on_disk;
    std::map<std::string, std::string> templates_on_disk;
    for (const std::string& name : entries(folder.dir, "pgm_flash_*.xml")) {
        // The golden templates of both families live in the Zentro folder too.
        if (name == "pgm_flash_db_qspi.xml" || name == "pgm_flash_db_sdmmc.xml") continue;
        const std::string path = folder.dir + name;
        ++result.files;
        struct stat st;
        if (stat(path.c_str(), &st) == 0 && st.st_size == 0) {
            // The empty file a save creates before its first write: it holds nothing, so
            // nothing can be half-written in it; the load skips it.
            result.placeholders.push_back(name);
            continue;
        }
        FILE_CONTENT content = read_qspi_file(path);
        if (!content.valid) {
            result.problems.push_back("incomplete or invalid file " + path + ": " + content.reason);
            result.bad_files.push_back(path);
            continue;
        }
        for (const std::string& device : content.devices) devices_on_disk[device] = path;
        for (const std::string& tmpl : content.templates) templates_on_disk[tmpl] = path;
    }

    std::map<std::string, std::string> devices_in_map;
    for (const auto& entry : dir_map) {
        if (FIO_PATH(entry.second).full_directory() != folder.dir) continue;  // golden devices
        devices_in_map[entry.first] = FIO_PATH(entry.second).fullpath();
        if (mgr.get_flash_map().count(entry.first) == 0)
            result.problems.push_back("no record for " + entry.first);
    }
    std::map<std::string, std::string> templates_in_map;
    for (const auto& entry : mgr.get_template_db_dir_map()) {
        if (FIO_PATH(entry.second).full_directory() != folder.dir) continue;
        templates_in_map[entry.first] = FIO_PATH(entry.second).fullpath();
        if (mgr.get_user_flash_template_map().count(entry.first) == 0)
            result.problems.push_back("no template record for " + entry.first);
    }
    auto describe = [](const std::map<std::string, std::string>& m) {
        std::string out;
        for (const auto& e : m) out += " " + e.first + "=" + e.second;
        return out;
    };
    if (devices_in_map != devices_on_disk)
        result.problems.push_back("devices of " + folder.dir + ": maps" + describe(devices_in_map) +
                                  " | files" + describe(devices_on_disk));
    if (templates_in_map != templates_on_disk)
        result.problems.push_back("templates of " + folder.dir + ": maps" +
                                  describe(templates_in_map) + " | files" +
                                  describe(templates_on_disk));
}

// A save over an empty placeholder must succeed and leave a complete file: the placeholder
// never blocks the name it was made for.
void save_over_placeholder(VORN_QSPI_MGR& mgr, const FOLDER& folder, const std::string& file,
                           std::vector<std::string>& problems) {
    const std::string tmpl_prefix = "pgm_flash_template_";
    const bool is_template = file.compare(0, tmpl_prefix.size(), tmpl_prefix) == 0;
    const std::string stem = file.substr(0, file.size() - 4);  // without ".xml"
    const std::string name = stem.substr(is_template ? tmpl_prefix.size() : 10);
    bool saved = false;
    if (is_template) {
        std::unique_ptr<VORN_FLASH> carrier(
            make_qspi_device(mgr, "carrier", VORN_PROG_FLOW_TEMPLATE_MICRON, name));
        saved = mgr.get_user_flash_template_map().count(name) == 0 &&
                mgr.update_template_db(carrier.get(), folder.dir);
    } else {
        saved = mgr.update_db(make_qspi_device(mgr, name), folder.dir);
    }
    if (!saved) {
        problems.push_back("saving over the placeholder " + folder.dir + file + " failed");
        return;
    }
    const FILE_CONTENT content = read_qspi_file(folder.dir + file);
    const std::vector<std::string>& names = is_template ? content.templates : content.devices;
    if (!content.valid || names != std::vector<std::string>{name})
        problems.push_back("saving over the placeholder " + folder.dir + file +
                           " left no complete file: " + content.reason);
}

// A save of a name that has no file yet first creates an empty placeholder (touch), then removes
// it and writes the new file atomically; a kill in between leaves the empty placeholder. It is
// counted and must then be harmless: the fresh maps ignore it and a later save replaces it.
TEST(ReliabilityKill, SavesAndDeletesSurviveSigkillAtAnyMoment) {
    vorn_test::ProgrammerDir programmer;
    programmer.write("xml/pgm_flash_db_qspi.xml", small_golden());
    vorn_test::TempDir custom;
    VORN_MGR::set_db_custom_dir(custom.path());
    const std::vector<FOLDER> folders = {
        {VORN_MGR::get_db_zentro_dir(), {"ZDEV0", "ZDEV1", "ZDEV2", "ZDEV3"}, {"ztpl0", "ztpl1"}},
        {custom.path(), {"CDEV0", "CDEV1", "CDEV2", "CDEV3"}, {"ctpl0", "ctpl1"}}};
    vorn_test::MessageCapture quiet;

    std::mt19937 rng(20240611);
    int kills = 0;
    int files_checked = 0;
    int nonempty_states = 0;
    int rounds_with_problems = 0;
    int placeholders = 0;
    std::set<std::string> temporaries;
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < KILLS; ++round) {
        int pipe_fds[2];
        ASSERT_EQ(pipe(pipe_fds), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(pipe_fds[0]);
            child_work(static_cast<unsigned>(round) * 7919u + 1u, folders, pipe_fds[1]);
        }
        close(pipe_fds[1]);
        char ready = 0;
        const bool loaded = read(pipe_fds[0], &ready, 1) == 1;
        close(pipe_fds[0]);
        if (loaded) usleep(static_cast<useconds_t>(rng() % MAX_DELAY_US));
        kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(loaded && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            << "round " << round << ": the child ended on its own (status " << status << ")";
        ++kills;

        std::unique_ptr<VORN_QSPI_MGR> fresh;
        try {
            fresh = std::make_unique<VORN_QSPI_MGR>();
        } catch (const VORN_INTERNAL_ERROR& e) {
            FAIL() << "round " << round << ": a fresh manager does not load: " << e.what();
        }
        CHECK_RESULT result;
        for (size_t f = 0; f < folders.size(); ++f) {
            CHECK_RESULT own;
            check_folder(*fresh, folders[f],
                         f == 0 ? fresh->get_zentro_dir_map() : fresh->get_custom_dir_map(), own);
            result.files += own.files;
            result.problems.insert(result.problems.end(), own.problems.begin(), own.problems.end());
            result.bad_files.insert(result.bad_files.end(), own.bad_files.begin(),
                                    own.bad_files.end());
            placeholders += static_cast<int>(own.placeholders.size());
            for (const std::string& file : own.placeholders)
                save_over_placeholder(*fresh, folders[f], file, result.problems);
        }
        files_checked += result.files;
        if (result.files > 0) ++nonempty_states;
        if (!result.problems.empty()) {
            ++rounds_with_problems;
            if (rounds_with_problems <= 5)
                for (const std::string& problem : result.problems)
                    ADD_FAILURE() << "round " << round << ": " << problem;
            // Later rounds are judged on their own: the bad file goes, the maps follow it.
            for (const std::string& path : result.bad_files) unlink(path.c_str());
        }
        for (const FOLDER& folder : folders)
            for (const std::string& name : entries(folder.dir, ".pgm_flash_*"))
                temporaries.insert(folder.dir + name);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << "kills: " << kills << ", files checked: " << files_checked
              << ", rounds with user files: " << nonempty_states
              << ", empty placeholders left by a kill (each then saved over): " << placeholders
              << ", rounds with a partial file or a disagreement: " << rounds_with_problems
              << ", temporaries left by killed writes: " << temporaries.size() << ", " << seconds
              << " s" << std::endl;
    RecordProperty("kills", kills);
    RecordProperty("files_checked", files_checked);
    RecordProperty("placeholders", placeholders);
    EXPECT_EQ(kills, KILLS);
    EXPECT_EQ(rounds_with_problems, 0);
    // The kills must have met a folder in use, or nothing was tested.
    EXPECT_GT(nonempty_states, KILLS / 2);
    VORN_MGR::set_db_custom_dir("");
}

// What a kill between touch and remove leaves, made on purpose: the load skips it and a save of
// either kind replaces it.
TEST(ReliabilityKill, AnEmptyPlaceholderIsSkippedAndSavedOver) {
    vorn_test::ProgrammerDir programmer;
    programmer.write("xml/pgm_flash_db_qspi.xml", small_golden());
    vorn_test::TempDir custom;
    VORN_MGR::set_db_custom_dir(custom.path());
    vorn_test::MessageCapture quiet;
    const FOLDER folder{custom.path(), {"CDEV0"}, {"ctpl0"}};
    for (const char* file : {"pgm_flash_CDEV0.xml", "pgm_flash_template_ctpl0.xml"})
        std::ofstream(folder.dir + file).flush();

    VORN_QSPI_MGR mgr;
    CHECK_RESULT result;
    check_folder(mgr, folder, mgr.get_custom_dir_map(), result);
    EXPECT_EQ(result.placeholders,
              (std::vector<std::string>{"pgm_flash_CDEV0.xml", "pgm_flash_template_ctpl0.xml"}));
    EXPECT_TRUE(result.problems.empty());
    EXPECT_EQ(mgr.get_custom_dir_map().count("CDEV0"), 0u);
    EXPECT_EQ(mgr.get_user_flash_template_map().count("ctpl0"), 0u);

    for (const std::string& file : result.placeholders)
        save_over_placeholder(mgr, folder, file, result.problems);
    EXPECT_TRUE(result.problems.empty()) << result.problems.front();
    EXPECT_EQ(mgr.get_custom_dir_map().count("CDEV0"), 1u);
    EXPECT_EQ(mgr.get_user_flash_template_map().count("ctpl0"), 1u);
    VORN_MGR::set_db_custom_dir("");
}

}  // namespace
