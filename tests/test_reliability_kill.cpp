// No device is lost at any kill point, and writers take turns.
//
// A child process saves, re-saves and deletes devices (some of them sharing a file) and saves
// and deletes templates in the custom folder, telling the parent before and after each step,
// and is killed with SIGKILL at a random moment. A fresh manager must then show every device
// and template whose save had completed before the kill, the one being saved in its old or its
// new form, and no empty, partial or leftover file once it has loaded. VORN_KILLS sets the
// number of kills (the reliability run uses 1,000), VORN_CONCURRENT_ROUNDS the rounds of each
// of the two concurrent writers.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "host_fault.h"
#include "test_reliability_support.h"
#include "vorn.h"
#include "vorn_test_support.h"

using namespace reliability_test;
using vorn_test::entries;

namespace {

int setting(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

// What the folder must hold: device name -> ID version, template name -> delay version.
struct STATE {
    std::map<std::string, int> devices;
    std::map<std::string, int> templates;
    bool operator==(const STATE& o) const {
        return devices == o.devices && templates == o.templates;
    }
};

std::string describe(const STATE& s) {
    std::ostringstream out;
    for (const auto& d : s.devices) out << " " << d.first << "=" << d.second;
    out << " |";
    for (const auto& t : s.templates) out << " " << t.first << "=" << t.second;
    return out.str();
}

VORN_FLASH* versioned_device(VORN_QSPI_MGR& mgr, const std::string& name, int version) {
    VORN_FLASH* flash = make_qspi_device(mgr, name);
    flash->set_parameter_value(VORN_FLASH_PARAM_ID,
                               TARVEN::fmt_sprintf("0x20 0xBB 0x%02X", version));
    return flash;
}

// A record that only carries a template whose first delay tells its version.
std::unique_ptr<VORN_FLASH> versioned_template(VORN_QSPI_MGR& mgr, const std::string& name,
                                               int version) {
    std::unique_ptr<VORN_FLASH> carrier(
        make_qspi_device(mgr, "carrier", VORN_PROG_FLOW_TEMPLATE_MICRON, name));
    VORN_ACTION* first =
        carrier->get_operation_list(VORN_PROG_FLOW_TYPE_SFL)->at(0)->get_action_list()->at(0);
    first->set_property_value(VORN_ACT_PROPERTY_WRITE_REG_DELAY, std::to_string(version));
    return carrier;
}

STATE observe(VORN_QSPI_MGR& mgr) {
    STATE s;
    for (const auto& entry : mgr.get_custom_dir_map()) {
        const std::string id =
            mgr.get_flash_map().at(entry.first)->get_parameter_value(VORN_FLASH_PARAM_ID);
        s.devices[entry.first] =
            static_cast<int>(std::stoul(id.substr(id.rfind(' ') + 1), nullptr, 16));
    }
    for (const auto& entry : mgr.get_user_flash_template_map()) {
        const VORN_ACTION* first = entry.second->sfl_operation_list.at(0)->get_action_list()->at(0);
        s.templates[entry.first] =
            std::stoi(first->get_property_value(VORN_ACT_PROPERTY_WRITE_REG_DELAY));
    }
    return s;
}

// Three devices and a template in one file, as an import leaves them, and one device alone.
void reset_folder(const std::string& dir, STATE& state) {
    for (const std::string& name : entries(dir, "*")) unlink((dir + name).c_str());
    VORN_QSPI_MGR mgr;
    std::vector<std::unique_ptr<VORN_FLASH>> shared;
    for (const char* name : {"S0", "S1", "S2"}) shared.emplace_back(versioned_device(mgr, name, 0));
    std::vector<VORN_FLASH*> raw;
    for (auto& flash : shared) raw.push_back(flash.get());
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> root(mgr.create_xml_object_with_flash_list(raw));
    ASSERT_TRUE(mgr.update_template_db(versioned_template(mgr, "ST", 0).get(), dir));
    PGM_COMMON_XML_ELEMENT* tree = root.release();
    mgr.create_user_template_with_template_list(tree, {"ST"});
    root.reset(tree);
    ASSERT_TRUE(PGM_COMMON_XML::write_xml(root.get(), dir + "pgm_flash_shared.xml"));
    unlink((dir + "pgm_flash_template_ST.xml").c_str());
    ASSERT_TRUE(mgr.update_db(versioned_device(mgr, "D0", 0), dir));
    state = {{{"S0", 0}, {"S1", 0}, {"S2", 0}, {"D0", 0}}, {{"ST", 0}}};
}

// One step of the child: its kind, name and the version it gives.
struct STEP {
    char kind;  // 'd' save device, 'x' delete device, 't' save template, 'y' delete template
    std::string name;
    int version;
};

STATE apply(STATE s, const STEP& step) {
    auto& names = step.kind == 'd' || step.kind == 'x' ? s.devices : s.templates;
    if (step.kind == 'd' || step.kind == 't')
        names[step.name] = step.version;
    else
        names.erase(step.name);
    return s;
}

// Carries out a save or delete step; its result.
bool perform(VORN_QSPI_MGR& mgr, const STEP& step, const std::string& dir) {
    switch (step.kind) {
        case 'd':
            return mgr.update_db(versioned_device(mgr, step.name, step.version), dir);
        case 't':
            return mgr.update_template_db(versioned_template(mgr, step.name, step.version).get(),
                                          dir);
        default:
            return mgr.delete_db(step.name, dir);
    }
}

// Files of `dir` that a loaded folder may not hold: anything but a valid user file.
std::string strays(const std::string& dir) {
    std::string out;
    for (const std::string& name : entries(dir, "*"))
        if (name.rfind("pgm_flash_", 0) != 0 || !is_valid_qspi_file(dir + name)) out += " " + name;
    return out;
}

[[noreturn]] void child_work(unsigned seed, const std::string& dir, int report_fd) {
    msg_set_sink([](const MSG_RECORD&) {});
    std::mt19937 rng(seed);
    auto say = [&](const std::string& line) {
        if (write(report_fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            _exit(4);
    };
    try {
        auto mgr = std::make_unique<VORN_QSPI_MGR>();
        say("ready\n");
        const char* const devices[] = {"S0", "S1", "S2", "D0", "D1", "D2"};
        const char* const templates[] = {"T0", "T1"};
        for (;;) {
            STEP step{"dxdtyr"[rng() % 6], "", static_cast<int>(1 + rng() % 250)};
            if (step.kind == 'r') {  // a renewal changes nothing on disk
                mgr.reset(static_cast<VORN_QSPI_MGR*>(mgr->get_new_instance()));
                continue;
            }
            step.name = step.kind == 'd' || step.kind == 'x' ? devices[rng() % 6]
                        : step.kind == 'y' && rng() % 3 == 0 ? "ST"
                                                             : templates[rng() % 2];
            if (step.kind == 't' && mgr->get_user_flash_template_map().count(step.name) != 0) {
                // A template name in use is freed first: saving over it is refused.
                say(TARVEN::fmt_sprintf("B y %s 0\n", step.name));
                say(mgr->delete_db(step.name, dir) ? "E\n" : "F\n");
            }
            say(TARVEN::fmt_sprintf("B %c %s %d\n", step.kind, step.name, step.version));
            say(perform(*mgr, step, dir) ? "E\n" : "F\n");
        }
    } catch (const std::exception& e) {
        std::cerr << "child: " << e.what() << std::endl;
        _exit(3);
    }
}

// The steps a killed child completed, and the one it was in, read from its report.
void read_report(int fd, STATE& completed, std::optional<STEP>& in_progress) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line[0] == 'B') {
            std::istringstream words(line.substr(2));
            STEP step{};
            words >> step.kind >> step.name >> step.version;
            in_progress = step;
        } else if (in_progress) {
            if (line == "E") completed = apply(completed, *in_progress);
            in_progress.reset();
        }
    }
}

class ReliabilityFolder : public ::testing::Test, protected SMALL_DATABASE {
  protected:
    const std::string dir = custom.path();
};
using ReliabilityKill = ReliabilityFolder;
using ReliabilityRecovery = ReliabilityFolder;
using ReliabilityLinks = ReliabilityFolder;
using ReliabilityConcurrency = ReliabilityFolder;

TEST_F(ReliabilityKill, NoSavedDeviceIsLostWhereverASaveIsKilled) {
    std::vector<std::string> recovered;
    msg_set_sink([&](const MSG_RECORD& r) {
        if (r.id == 20561) recovered.push_back(r.text);
    });

    const int kills = setting("VORN_KILLS", 40);
    std::mt19937 rng(20261206);
    STATE state;
    int checked = 0;
    int lost = 0;
    int interrupted = 0;
    for (int round = 0; round < kills; ++round) {
        if (round % 10 == 0) reset_folder(dir, state);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(fds[0]);
            child_work(static_cast<unsigned>(round) * 7919u + 1u, dir, fds[1]);
        }
        close(fds[1]);
        // The kill lands once the child has loaded, however long that takes here.
        char ready_line[6] = {};
        const bool ready = read(fds[0], ready_line, sizeof ready_line) == 6;
        usleep(static_cast<useconds_t>(5000 + rng() % 30000));
        kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        STATE completed = state;
        std::optional<STEP> step;
        read_report(fds[0], completed, step);
        close(fds[0]);
        ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round << ": the child ended by itself";
        if (!ready) continue;  // killed while it loaded: nothing was written

        std::unique_ptr<VORN_QSPI_MGR> fresh;
        try {
            fresh = std::make_unique<VORN_QSPI_MGR>();
        } catch (const VORN_INTERNAL_ERROR& e) {
            FAIL() << "round " << round << ": a fresh manager does not load: " << e.what();
        }
        const STATE seen = observe(*fresh);
        const STATE after = step ? apply(completed, *step) : completed;
        interrupted += step.has_value();
        checked += static_cast<int>(completed.devices.size());
        if (!(seen == completed) && !(seen == after)) {
            ++lost;
            ADD_FAILURE() << "round " << round << (step ? " during " + step->name : "")
                          << ": on disk" << describe(seen) << "; saved" << describe(completed)
                          << "; or" << describe(after);
        }
        // Nothing half done stays once a manager has loaded the folder.
        EXPECT_EQ(strays(dir), "") << "round " << round;
        state = seen;
    }
    std::cout << "kills: " << kills << ", steps interrupted: " << interrupted
              << ", devices checked after the kills: " << checked
              << ", files recovered on load: " << recovered.size() << ", devices lost: " << lost
              << std::endl;
    RecordProperty("kills", kills);
    RecordProperty("devices_checked", checked);
    EXPECT_EQ(lost, 0);
    EXPECT_GT(interrupted, kills / 4) << "the kills must land in the middle of steps";
    msg_set_sink({});
}

// Every step of every kind of save, one at a time, as the last thing the process does.
TEST_F(ReliabilityKill, EveryCrashPointOfEveryKindOfSaveKeepsEachDeviceOnce) {
    vorn_test::MessageCapture quiet;
    struct SCENARIO {
        const char* what;
        STEP step;
    };
    const SCENARIO scenarios[] = {
        {"a new device", {'d', "N1", 7}},
        {"a device saved again in its own file", {'d', "D0", 7}},
        {"a device of a shared file saved again", {'d', "S1", 7}},
        {"a device deleted from a shared file", {'x', "S1", 0}},
        {"the only device of a file deleted", {'x', "D0", 0}},
        {"a new template", {'t', "T0", 7}},
        {"a template deleted from a shared file", {'y', "ST", 0}},
    };
    int points = 0;
    for (const SCENARIO& scenario : scenarios) {
        SCOPED_TRACE(scenario.what);
        bool completed = false;
        for (int n = 1; !completed && n < 40; ++n) {
            STATE before;
            reset_folder(dir, before);
            const int status = vorn_test::Child([&] {
                                   msg_set_sink([](const MSG_RECORD&) {});
                                   VORN_QSPI_MGR mgr;
                                   HOST_FAULT::crash_at(n);
                                   return perform(mgr, scenario.step, dir) ? 0 : 1;
                               }).wait();
            completed = status == 0;
            ASSERT_TRUE(completed || status == 99) << "crash point " << n;
            ++points;
            VORN_QSPI_MGR fresh;
            const STATE seen = observe(fresh);
            const STATE after = apply(before, scenario.step);
            EXPECT_TRUE(seen == (completed ? after : before) || (!completed && seen == after))
                << "crash point " << n << ": on disk" << describe(seen) << "; before"
                << describe(before) << "; after" << describe(after);
            EXPECT_EQ(strays(dir), "") << "crash point " << n;
        }
        EXPECT_TRUE(completed);
    }
    std::cout << "crash points tried: " << points << std::endl;
}

// What an interrupted save can leave is recovered by the next load of the folder, each file
// named once in a warning; a journal is completed and temporaries go. A user's empty file is
// not ours to remove, and a journal that is not one of ours is set aside, never carried out.
TEST_F(ReliabilityRecovery, LeftoversAreCompletedOrRemovedWithOneWarningEach) {
    STATE state;
    reset_folder(dir, state);
    std::string saved_d0;
    {
        VORN_QSPI_MGR mgr;
        std::unique_ptr<VORN_FLASH> d1(versioned_device(mgr, "D1", 9));
        std::unique_ptr<PGM_COMMON_XML_ELEMENT> root(
            mgr.create_xml_object_with_flash_list({d1.get()}));
        custom.write(".pgm_flash_D1.xml.Ab12Cd", PGM_COMMON_XML::write_xml_string(root.get()));
        saved_d0 = custom.read("pgm_flash_D0.xml");
    }
    custom.write("..vorn-journal.Zz99Yy", "vorn folder change 1\n");
    custom.write(".vorn-journal",
                 "vorn folder change 1\nrename .pgm_flash_D1.xml.Ab12Cd pgm_flash_D1.xml\n"
                 "remove pgm_flash_D0%2exml\nend\n");  // escapes read in either case
    custom.write(".pgm_flash_D2.xml.Qq77Rr", "<QSPI_FLASH version=\"1\"><FLA");
    custom.write("pgm_flash_EMPTY.xml", "");

    vorn_test::MessageCapture capture;
    VORN_QSPI_MGR mgr;
    std::vector<std::string> warnings;
    for (const MSG_RECORD& r : capture.messages())
        if (r.id == 20561) warnings.push_back(r.text);
    std::sort(warnings.begin(), warnings.end());
    EXPECT_EQ(
        warnings,
        (std::vector<std::string>{
            "Recovered " + dir +
                "..vorn-journal.Zz99Yy (removed: the unfinished part of an interrupted save).",
            "Recovered " + dir +
                ".pgm_flash_D2.xml.Qq77Rr (removed: the unfinished part of an interrupted save).",
            "Recovered " + dir + "pgm_flash_D0.xml (removed, as an interrupted save intended).",
            "Recovered " + dir + "pgm_flash_D1.xml (completed from an interrupted save)."}));
    EXPECT_EQ(observe(mgr).devices,
              (std::map<std::string, int>{{"S0", 0}, {"S1", 0}, {"S2", 0}, {"D1", 9}}));
    EXPECT_EQ(entries(dir, "*"),
              (std::vector<std::string>{"pgm_flash_D1.xml", "pgm_flash_EMPTY.xml",
                                        "pgm_flash_shared.xml"}));

    // Journals no save of ours writes: each is reported once and set aside, and nothing it
    // names happens; the load goes on.
    for (const std::string& journal :
         {std::string("vorn folder change 1\nremove %ZZ\nend\n"),
          std::string("vorn folder change 1\nrename pgm_flash_EMPTY.xml pgm_flash_D1.xml\nend\n"),
          std::string("vorn folder change 1\nrename .pgm_flash_D1.xml.Ab12Cd pgm_flash_EMPTY.xml\n"
                      "end\n"),
          std::string("vorn folder change 1\nremove .vorn-journal.damaged\nend\n"),
          std::string("vorn folder change 1\nremove pgm_flash_D1.xml pgm_flash_EMPTY.xml\nend\n"),
          std::string("vorn folder change 1\nremove pgm_flash_D1.xml\n"),
          std::string("something else entirely")}) {
        custom.write(".vorn-journal", journal);
        custom.write(".pgm_flash_D1.xml.Ab12Cd", "new content");
        vorn_test::MessageCapture damaged;
        VORN_QSPI_MGR again;
        EXPECT_EQ(damaged.message_ids(), (std::vector<unsigned>{20561, 20561})) << journal;
        EXPECT_TRUE(damaged.messages().size() == 2 &&
                    damaged.messages()[0].text ==
                        "Recovered " + dir + ".vorn-journal (set aside as " + dir +
                            ".vorn-journal.damaged: damaged, so nothing it names was done).")
            << journal;
        EXPECT_EQ(custom.read(".vorn-journal.damaged"), journal);
        EXPECT_EQ(entries(dir, "*"),
                  (std::vector<std::string>{".vorn-journal.damaged", "pgm_flash_D1.xml",
                                            "pgm_flash_EMPTY.xml", "pgm_flash_shared.xml"}))
            << journal;
        EXPECT_EQ(observe(again).devices, observe(mgr).devices) << journal;
    }

    // A clean folder is only read, and a folder a writer holds is left to it.
    custom.write(".pgm_flash_D3.xml.Kk55Ll", "");
    vorn_test::Child reader(
        [&] {
            msg_set_sink([](const MSG_RECORD&) {});
            VORN_QSPI_MGR other;
            return custom.exists(".pgm_flash_D3.xml.Kk55Ll") ? 0 : 1;
        },
        true);
    {
        VORN_DB_LOCK writer(dir);
        ASSERT_TRUE(reader.go());
        EXPECT_EQ(reader.wait(), 0) << "a reader waited or recovered";
    }
}

// A link in a database folder is never followed: a save replaces the link itself, whether its
// target exists or not, and the target keeps its content and mode.
TEST_F(ReliabilityLinks, SavesReplaceLinksAndLeaveTheirTargetsAlone) {
    vorn_test::TempDir outside;
    outside.write("target.xml", "precious");
    ASSERT_EQ(chmod(outside.file("target.xml").c_str(), 0640), 0);
    ASSERT_EQ(symlink(outside.file("target.xml").c_str(), (dir + "pgm_flash_L1.xml").c_str()), 0);
    ASSERT_EQ(symlink((outside.path() + "missing/nowhere.xml").c_str(),
                      (dir + "pgm_flash_L2.xml").c_str()),
              0);

    vorn_test::MessageCapture quiet;
    VORN_QSPI_MGR mgr;
    EXPECT_TRUE(mgr.get_custom_dir_map().empty()) << "a linked file is not read";
    for (const char* name : {"L1", "L2"}) {
        ASSERT_TRUE(mgr.update_db(versioned_device(mgr, name, 3), dir));
        struct stat st;
        ASSERT_EQ(lstat((dir + "pgm_flash_" + name + ".xml").c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
    }
    EXPECT_EQ(outside.read("target.xml"), "precious");
    struct stat st;
    ASSERT_EQ(stat(outside.file("target.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_FALSE(outside.exists("missing"));
    ASSERT_TRUE(mgr.delete_db("L1", dir));
    EXPECT_EQ(outside.read("target.xml"), "precious");
}

// Two processes save the same device and devices of their own into one folder, each round
// under the folder's lock with a manager renewed inside it, as the tool and README's hosts do.
TEST_F(ReliabilityConcurrency, TwoWritersTakeTurnsWithoutLossOrInternalError) {
    const int rounds = setting("VORN_CONCURRENT_ROUNDS", 200);

    std::vector<std::unique_ptr<vorn_test::Child>> writers;
    for (int writer = 0; writer < 2; ++writer)
        writers.push_back(std::make_unique<vorn_test::Child>([&, writer] {
            msg_set_sink([](const MSG_RECORD&) {});
            int failures = 0;
            for (int round = 0; round < rounds; ++round) {
                VORN_DB_LOCK lock(dir);
                VORN_QSPI_MGR mgr;
                const std::string own =
                    "W" + std::to_string(writer) + "_" + std::to_string(round % 4);
                failures += !mgr.update_db(versioned_device(mgr, "SAME", writer), dir);
                failures += !mgr.update_db(versioned_device(mgr, own, round % 250), dir);
                if (round % 5 == 4) failures += !mgr.delete_db(own, dir);
            }
            return failures == 0 ? 0 : 1;  // 3: an exception, an internal error among them
        }));
    for (auto& writer : writers) EXPECT_EQ(writer->wait(), 0);
    VORN_QSPI_MGR fresh;
    const STATE seen = observe(fresh);
    EXPECT_EQ(seen.devices.count("SAME"), 1u);
    // Each writer's own devices as its rounds left them.
    std::vector<bool> present(4, false);
    for (int round = 0; round < rounds; ++round) present[round % 4] = round % 5 != 4;
    for (int writer = 0; writer < 2; ++writer)
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(seen.devices.count("W" + std::to_string(writer) + "_" + std::to_string(k)),
                      present[k] ? 1u : 0u)
                << writer << " " << k;
    EXPECT_EQ(strays(dir), "");
    std::cout << "concurrent writers: 2, rounds each: " << rounds
              << ", devices at the end: " << seen.devices.size() << std::endl;
}

// The same through the tool: a command that writes waits for the writer that holds the folder
// and then loads what that writer left, so it never works on a stale view of the files.
TEST_F(ReliabilityConcurrency, AToolThatWritesLoadsOnlyOnceTheOtherWriterIsDone) {
    if (tool_path().empty()) GTEST_SKIP() << "no vorn tool in this build";
    vorn_test::TempDir home;
    vorn_test::TempDir scratch;
    vorn_test::MessageCapture quiet;
    VORN_QSPI_MGR mgr;
    ASSERT_TRUE(mgr.update_db(make_qspi_device(mgr, "SAME"), dir));

    // Forked before the lock is taken: a child would share the lock the parent holds.
    vorn_test::Child tool(
        [&] {
            const RUN del = run_tool(
                {"--programmer-dir", programmer.path(), "--custom-dir", dir, "delete", "SAME"},
                {"HOME=" + home.path(), "XDG_CONFIG_HOME=" + home.path() + ".config"},
                scratch.path());
            std::cerr << del.err;
            return del.status;
        },
        true);
    std::optional<VORN_DB_LOCK> held(std::in_place, dir);
    ASSERT_TRUE(tool.go());
    usleep(400000);  // long enough for the tool to load, if it did so before it locked
    ASSERT_TRUE(mgr.delete_db("SAME", dir));
    held.reset();
    EXPECT_EQ(tool.wait(), 1) << "the tool did not find the device the other writer deleted";
}

}  // namespace
