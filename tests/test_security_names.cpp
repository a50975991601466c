// Device and template names that would lead a file out of its folder: the tool refuses them
// before it saves or deletes anything, and the library's own writes stay in db_dir even when
// a caller skipped validation or the name came from a user file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "test_reliability_support.h"
#include "vorn.h"
#include "vorn_test_support.h"

using namespace reliability_test;

namespace {

struct NAME {
    std::string label;  // printable
    std::string value;
};

void PrintTo(const NAME& name, std::ostream* os) { *os << name.label; }

// None holds a character that XML would need escaped.
const std::vector<NAME>& hostile_names() {
    static const std::vector<NAME> names = {
        {"../x", "../x"},
        {"a/b", "a/b"},
        {"a/../../escaped", "a/../../escaped"},
        {"/tmp/vorn_abs", "/tmp/vorn_abs"},
        {"..", ".."},
        {"a\\b", "a\\b"},
        {"x<NUL>/../../nul", std::string("x\0/../../nul", 12)},
        {"300 letters", std::string(300, 'L')},
        {"5000 letters", std::string(5000, 'L')},
    };
    return names;
}

// A valid QSPI user file whose one device bears `name`, whatever a validator says of it.
std::string file_with_device_named(const std::string& name) {
    VORN_QSPI_MGR mgr;
    std::unique_ptr<VORN_FLASH> model(make_qspi_device(mgr, "MODEL"));
    std::string text = qspi_test::text_of(mgr, model.get());
    const size_t at = text.find("<DEVICE_NAME>MODEL</DEVICE_NAME>");
    EXPECT_NE(at, std::string::npos);
    return text.replace(at, 32, "<DEVICE_NAME>" + name + "</DEVICE_NAME>");
}

// root/ holds the database folder db/ and nothing else the library may touch. db/ holds
// folders named like the start of a file name, which are what a name with a separator needs
// to lead a write elsewhere: whoever can drop a file into a shared folder can make them too.
class Sandbox {
  public:
    Sandbox() {
        for (const char* decoy :
             {"pgm_flash_a/", "pgm_flash_../", "pgm_flash_/tmp/", "pgm_flash_template_a/",
              "pgm_flash_template_../", "pgm_flash_template_/tmp/", "pgm_flash_x/"})
            root.file(std::string("db/") + decoy + "keep");
        before = tree(root.path());
    }
    std::string db() const { return root.path() + "db/"; }

    // Paths that appeared or vanished anywhere but directly in db/.
    std::vector<std::string> changes_outside_db() const {
        const std::vector<std::string> after = tree(root.path());
        std::vector<std::string> out;
        std::set<std::string> old(before.begin(), before.end());
        std::set<std::string> now(after.begin(), after.end());
        auto outside = [](const std::string& rel) {
            return rel.compare(0, 3, "db/") != 0 || rel.find('/', 3) != std::string::npos;
        };
        for (const std::string& rel : now)
            if (old.count(rel) == 0 && outside(rel)) out.push_back("new: " + rel);
        for (const std::string& rel : old)
            if (now.count(rel) == 0 && outside(rel)) out.push_back("gone: " + rel);
        return out;
    }

    vorn_test::TempDir root;
    std::vector<std::string> before;
};

std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) out += "\n  " + line;
    return out;
}

// ---- the library ---------------------------------------------------------------------------

class LibraryWritesStayInDbDir : public ::testing::TestWithParam<NAME> {
  protected:
    void SetUp() override {
        programmer.write("xml/pgm_flash_db_qspi.xml", small_golden());
        VORN_MGR::set_db_custom_dir(sandbox.db());
    }
    void TearDown() override { VORN_MGR::set_db_custom_dir(""); }

    vorn_test::ProgrammerDir programmer;
    Sandbox sandbox;
    vorn_test::MessageCapture quiet;
};

TEST_P(LibraryWritesStayInDbDir, WhenADeviceIsSavedUnderTheName) {
    VORN_QSPI_MGR mgr;
    try {
        mgr.update_db(make_qspi_device(mgr, GetParam().value), sandbox.db());
    } catch (const VORN_INTERNAL_ERROR&) {
        // Refusing by internal error is fine; writing elsewhere is not.
    }
    EXPECT_EQ(joined(sandbox.changes_outside_db()), "");
}

TEST_P(LibraryWritesStayInDbDir, WhenATemplateIsSavedUnderTheName) {
    VORN_QSPI_MGR mgr;
    std::unique_ptr<VORN_FLASH> carrier(
        make_qspi_device(mgr, "CARRIER", VORN_PROG_FLOW_TEMPLATE_MICRON, GetParam().value));
    try {
        mgr.update_template_db(carrier.get(), sandbox.db());
    } catch (const VORN_INTERNAL_ERROR&) {
    }
    EXPECT_EQ(joined(sandbox.changes_outside_db()), "");
}

// A shared folder holds a file whose device has such a name; a host then saves the device it
// shows, as an edit does.
TEST_P(LibraryWritesStayInDbDir, WhenADeviceNamedSoInAUserFileIsSavedAgain) {
    const std::string& name = GetParam().value;
    if (name.find('\0') != std::string::npos) GTEST_SKIP() << "XML cannot carry a NUL";
    vorn_test::TempDir scratch;
    scratch.write("pgm_flash_shared.xml", file_with_device_named(name));
    // The file goes in after the snapshot's decoys; it is the one entry allowed to change.
    rename(scratch.file("pgm_flash_shared.xml").c_str(),
           (sandbox.db() + "pgm_flash_shared.xml").c_str());
    sandbox.before = tree(sandbox.root.path());

    VORN_QSPI_MGR mgr;
    if (mgr.get_custom_dir_map().count(name) == 0)
        GTEST_SKIP() << "the loader does not take this name from a file";
    try {
        mgr.update_db(make_qspi_device(mgr, name), sandbox.db());
    } catch (const VORN_INTERNAL_ERROR&) {
    }
    EXPECT_EQ(joined(sandbox.changes_outside_db()), "");
}

std::string param_name(const ::testing::TestParamInfo<NAME>& info) {
    return "name" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(HostileNames, LibraryWritesStayInDbDir,
                         ::testing::ValuesIn(hostile_names()), param_name);

// ---- the tool ------------------------------------------------------------------------------

class ToolRefusesNames : public ::testing::TestWithParam<NAME> {
  protected:
    void SetUp() override {
        if (tool_path().empty()) GTEST_SKIP() << "no vorn tool in this build";
        if (GetParam().value.find('\0') != std::string::npos)
            GTEST_SKIP() << "a command line cannot carry a NUL";
        programmer.write("xml/pgm_flash_db_qspi.xml", small_golden());
        // The configuration lives in the sandbox too, so that any file the tool writes shows.
        sandbox.root.file("home/.config/keep");
        sandbox.before = tree(sandbox.root.path());
        programmer_before = tree(programmer.path());
    }

    RUN vorn(std::vector<std::string> args) {
        std::vector<std::string> all = {"-v", "--programmer-dir", programmer.path(), "--custom-dir",
                                        sandbox.db()};
        all.insert(all.end(), args.begin(), args.end());
        const std::string home = sandbox.root.path() + "home/";
        return run_tool(all,
                        {"HOME=" + home, "XDG_CONFIG_HOME=" + home + ".config",
                         "VORN_INI=" + home + ".config/vorn/vorn.ini",
                         "VORN_USER_INI=" + home + ".config/vorn/user.ini"},
                        scratch.path());
    }

    // Refused with status 1, nothing saved or deleted, nothing changed on disk.
    void expect_refused(const RUN& run) {
        EXPECT_EQ(run.status, 1) << run.err;
        for (const char* trace :
             {"update_db", "delete_db", "Touch new XML file", "Writing new XML file", "Deleting"})
            EXPECT_EQ(run.err.find(trace), std::string::npos) << trace << "\n" << run.err;
        EXPECT_EQ(joined(tree(sandbox.root.path())), joined(sandbox.before));
        EXPECT_EQ(joined(tree(programmer.path())), joined(programmer_before));
    }

    // A name the library's validators let through but too long for a file name draws the
    // tool's own refusal, which says so.
    void expect_length_named(const RUN& run, const char* what) {
        const std::string& name = GetParam().value;
        if (name.size() <= 128 || name.find_first_not_of('L') != std::string::npos) return;
        EXPECT_NE(run.err.find(std::string(what) + " name '" + name +
                               "' is invalid as it is longer than 128 characters."),
                  std::string::npos)
            << run.err.substr(0, 400);
    }

    vorn_test::ProgrammerDir programmer;
    Sandbox sandbox;
    vorn_test::TempDir scratch;
    std::vector<std::string> programmer_before;
};

TEST_P(ToolRefusesNames, AsTheNameOfANewDevice) {
    const RUN run = vorn({"add", GetParam().value, "--template", "Micron", "--id", "0x20 0xBB 0x19",
                          "--density", "256Mb", "--io-voltage", "1.8V"});
    expect_refused(run);
    expect_length_named(run, "Device");
}

TEST_P(ToolRefusesNames, AsTheTemplateANewDeviceSaves) {
    const RUN run =
        vorn({"add", "SAFENAME", "--template", "Micron", "--id", "0x20 0xBB 0x19", "--density",
              "256Mb", "--io-voltage", "1.8V", "--save-template", GetParam().value});
    expect_refused(run);
    expect_length_named(run, "Template");
}

TEST_P(ToolRefusesNames, AsTheDeviceToEditDeleteShowOrExport) {
    expect_refused(vorn({"edit", GetParam().value}));
    expect_refused(vorn({"delete", GetParam().value}));
    expect_refused(vorn({"show", GetParam().value}));
    expect_refused(vorn({"export", GetParam().value, "-o", scratch.path() + "out.xml"}));
}

TEST_P(ToolRefusesNames, AsTheTemplateToDelete) {
    expect_refused(vorn({"template", "delete", GetParam().value}));
}

TEST_P(ToolRefusesNames, InsideAFileToImport) {
    const std::string& name = GetParam().value;
    // A device of that name, otherwise valid.
    vorn_test::TempDir source;
    VORN_MGR::set_db_custom_dir(source.path());
    source.write("pgm_flash_import.xml", file_with_device_named(name));
    VORN_MGR::set_db_custom_dir("");
    const RUN run = vorn({"import", source.file("pgm_flash_import.xml")});
    expect_refused(run);
    expect_length_named(run, "Device");
}

INSTANTIATE_TEST_SUITE_P(HostileNames, ToolRefusesNames, ::testing::ValuesIn(hostile_names()),
                         param_name);

}  // namespace
