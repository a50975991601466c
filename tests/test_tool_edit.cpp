// The commands of the vorn tool that change the database: add, edit, delete, template
// delete. Every test runs the built binary in a world of its own.
#include <sys/stat.h>

#include "test_tool_runner.h"

using nlohmann::json;
using tool_test::exits;
using tool_test::prints;
using tool_test::RESULT;
using tool_test::SHIPPED;
using tool_test::TOOL_WORLD;

namespace {

// A complete, valid `vorn add` of a 64Mb Micron-flow part; no shipped device has that
// density or ID.
std::vector<std::string> add_args(const std::string& name,
                                  const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{"add",
                                  name,
                                  "--template",
                                  "Micron",
                                  "--id",
                                  "0x20 0xBA 0x30",
                                  "--density",
                                  "64Mb",
                                  "--io-voltage",
                                  "3.0V/3.3V",
                                  "--dummy-cycles",
                                  "8",
                                  "--dummy-cycles-x4",
                                  "10"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

// `args` with the value after `option` replaced.
std::vector<std::string> with(std::vector<std::string> args, const std::string& option,
                              const std::string& value) {
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == option) args[i + 1] = value;
    return args;
}

std::string editor_script(const TOOL_WORLD& world, const std::string& name,
                          const std::string& body) {
    const std::string path = world.root() + name;
    world.write(path, "#!/bin/sh\n" + body + "\n");
    chmod(path.c_str(), 0755);
    return path;
}

// ---- add --------------------------------------------------------------------------------

TEST(ToolAdd, InvalidDensityIsRefusedAndNothingIsWritten) {
    TOOL_WORLD world;
    const auto before = world.snapshot();
    RESULT r = world.run(with(add_args("NEWPART"), "--density", "x"));
    EXPECT_EQ(r.status, 1) << r;
    EXPECT_NE(r.err.find("Device density 'x' is invalid."), std::string::npos) << r;
    EXPECT_NE(r.err.find("Warning (20478)"), std::string::npos) << r;
    EXPECT_TRUE(r.out.empty()) << r;
    EXPECT_TRUE(world.files_in(world.custom()).empty());
    EXPECT_EQ(world.snapshot(), before);
}

TEST(ToolAdd, EveryRejectedFieldIsReported) {
    TOOL_WORLD world;
    auto args = add_args("NEWPART", {"--die", "0"});
    args = with(args, "--id", "0x20 0xZZ");
    args = with(args, "--io-voltage", "5V");
    args = with(args, "--dummy-cycles", "16");
    RESULT r = world.run(args);
    EXPECT_EQ(r.status, 1) << r;
    for (const char* text : {"Warning (20477): Device ID '0x20 0xZZ' is invalid.",
                             "Warning (20476): Device I/O voltage '5V' is invalid.",
                             "Warning (20479): Total device die '0' is invalid.",
                             "Warning (20543): Device dummy clock cycle '16' is invalid."})
        EXPECT_NE(r.err.find(text), std::string::npos) << text << "\n" << r;

    args.push_back("--json");
    RESULT j = world.run(args);
    EXPECT_EQ(j.status, 1) << j;
    json rejected = j.json().at("rejected");
    ASSERT_EQ(rejected.size(), 4u) << j;
    std::set<unsigned> ids;
    for (const auto& entry : rejected) ids.insert(entry.at("id").get<unsigned>());
    EXPECT_EQ(ids, (std::set<unsigned>{20477, 20476, 20479, 20543}));
    EXPECT_TRUE(world.files_in(world.custom()).empty());
}

TEST(ToolAdd, ValidDeviceIsFoundByShowIdAndDensityInLaterRuns) {
    TOOL_WORLD world;
    RESULT added = world.run(add_args("MYPART"));
    ASSERT_EQ(added.status, 0) << added;
    EXPECT_NE(added.out.find("Added device 'MYPART'"), std::string::npos) << added;
    EXPECT_EQ(world.files_in(world.custom()), std::vector<std::string>{"pgm_flash_MYPART.xml"});

    // Each run is a new process that loads the database from disk again.
    RESULT shown = world.run({"show", "MYPART", "--json"});
    ASSERT_EQ(shown.status, 0) << shown;
    json d = shown.json().at("device");
    tool_test::expect_members(d, R"({"id": "0x20 0xBA 0x30", "density": "64Mb",
        "io_voltage": "3.0V/3.3V", "total_die": 1, "dummy_clock_cycle": 8,
        "dummy_clock_cycle_x4": 10, "template": "Micron", "source": "custom", "removable": true})");
    EXPECT_EQ(d.at("file"), world.custom() + "pgm_flash_MYPART.xml");
    EXPECT_EQ(d.at("flows").at("sfl").size(), 5u);
    EXPECT_FALSE(d.at("flows").at("sfl")[1].at("actions").empty());

    RESULT by_id = world.run({"find", "--id", "0x20 0xBA 0x30", "--json"});
    ASSERT_EQ(by_id.status, 0) << by_id;
    EXPECT_EQ(by_id.json().at("device").at("name"), "MYPART");
    RESULT by_density = world.run({"find", "--density", "64Mb", "--json"});
    ASSERT_EQ(by_density.status, 0) << by_density;
    EXPECT_EQ(by_density.json().at("device").at("name"), "MYPART");

    RESULT info = world.run({"info", "--json"});
    EXPECT_EQ(info.json().at("counts").at("custom"), 1);
    EXPECT_EQ(info.json().at("counts").at("qspi_devices"), 43);
}

TEST(ToolAdd, CustomDirectoryFromTheUserIniIsCreatedAndRemembered) {
    TOOL_WORLD world;
    const std::string dir = world.root() + "mine/";
    world.write(world.user_ini(), "vorn_custom_db_dir = " + dir + "\n");
    RESULT r = world.run(add_args("INIPART"), false);
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_TRUE(tool_test::fs::exists(dir + "pgm_flash_INIPART.xml"));
    RESULT shown = world.run({"show", "INIPART", "--json"}, false);
    EXPECT_EQ(shown.json().at("device").at("source"), "custom") << shown;
}

TEST(ToolAdd, UnsafeNamesAreRefusedBeforeAnyFileIsTouched) {
    TOOL_WORLD world;
    const std::string long_name(129, 'A');
    const std::vector<std::string> names{"a/b", "../x", "..", "", "db", "x\\y", long_name};
    const auto before = world.snapshot();
    for (const std::string& name : names) {
        for (bool with_custom_dir : {true, false}) {
            RESULT r = world.run(add_args(name), with_custom_dir);
            EXPECT_EQ(r.status, 1) << "'" << name << "'\n" << r;
            const std::string expected =
                name == long_name
                    ? "Device name '" + name + "' is invalid as it is longer than 128 characters."
                    : "Device name '" + name +
                          "' is invalid as it contains either an empty string or special "
                          "characters.";
            EXPECT_NE(r.err.find(expected), std::string::npos) << "'" << name << "'\n" << r;
        }
    }
    // Every other command that takes a name refuses the same way.
    for (const std::vector<std::string>& args : {std::vector<std::string>{"show", "../x"},
                                                 {"delete", "../x"},
                                                 {"edit", "../x"},
                                                 {"export", "../x"},
                                                 {"template", "delete", "../x"},
                                                 add_args("OKNAME", {"--save-template", "../t"})}) {
        for (bool with_custom_dir : {true, false}) {
            RESULT r = world.run(args, with_custom_dir);
            EXPECT_EQ(r.status, 1) << args.front() << "\n" << r;
            EXPECT_NE(r.err.find("is invalid as it contains either an empty string or special"),
                      std::string::npos)
                << args.front() << "\n"
                << r;
        }
    }
    // Not even the user INI was created.
    EXPECT_EQ(world.snapshot(), before);
}

TEST(ToolAdd, NamesTheLibraryRefuses) {
    TOOL_WORLD world;
    EXPECT_TRUE(exits(world.run(add_args(SHIPPED)), 1,
                      "Warning (20475): Device name 'MT25QL128' is invalid as it already "
                      "exist in the device database."));
    EXPECT_TRUE(exits(world.run(add_args("Micron")), 1, "Warning (20474)"));
    EXPECT_TRUE(exits(world.run(add_args("QCDV16")), 1));
    EXPECT_TRUE(exits(world.run(add_args("MY PART")), 1, "Warning (20473)"));
    EXPECT_TRUE(exits(world.run(with(add_args("NEWPART"), "--template", "ISSI")), 1,
                      "Warning (20481): Programming flow template 'ISSI' is invalid."));
    EXPECT_TRUE(world.files_in(world.custom()).empty());
}

TEST(ToolAdd, LikeCopiesFlowsAndValues) {
    TOOL_WORLD world;
    RESULT r = world.run({"add", "COPY128", "--like", SHIPPED, "--id", "0x20 0xBA 0x31"});
    ASSERT_EQ(r.status, 0) << r;
    json copy = world.run({"show", "COPY128", "--json"}).json().at("device");
    json original = world.run({"show", SHIPPED, "--json"}).json().at("device");
    EXPECT_EQ(copy.at("id"), "0x20 0xBA 0x31");
    for (const char* key : {"density", "io_voltage", "total_die", "dummy_clock_cycle",
                            "dummy_clock_cycle_x4", "template", "flows"})
        EXPECT_EQ(copy.at(key), original.at(key)) << key;
    EXPECT_EQ(copy.at("source"), "custom");

    EXPECT_TRUE(exits(world.run({"add", "X1", "--like", "QCDV16", "--id", "0x20 0xBA 0x32"}), 1));
    EXPECT_TRUE(exits(world.run({"add", "X2", "--like", "NOPE", "--id", "0x20 0xBA 0x32"}), 1));
}

TEST(ToolAdd, SavedTemplateGivesItsFlowsToTheNextDevice) {
    TOOL_WORLD world;
    RESULT first = world.run(
        with(add_args("FIRSTDEV", {"--save-template", "MYFLOW"}), "--template", "Macronix"));
    ASSERT_EQ(first.status, 0) << first;
    EXPECT_EQ(
        world.files_in(world.custom()),
        (std::vector<std::string>{"pgm_flash_FIRSTDEV.xml", "pgm_flash_template_MYFLOW.xml"}));
    json templates = world.run({"templates", "--json"}).json().at("templates");
    ASSERT_EQ(templates.size(), 6u);
    EXPECT_EQ(templates[5].at("name"), "MYFLOW");
    EXPECT_EQ(templates[5].at("kind"), "user");

    RESULT second = world.run(
        with(with(add_args("SECONDDEV"), "--template", "MYFLOW"), "--id", "0xC2 0x20 0x30"));
    ASSERT_EQ(second.status, 0) << second;
    json a = world.run({"show", "FIRSTDEV", "--json"}).json().at("device");
    json b = world.run({"show", "SECONDDEV", "--json"}).json().at("device");
    EXPECT_EQ(b.at("template"), "MYFLOW");
    EXPECT_EQ(a.at("flows"), b.at("flows"));

    EXPECT_TRUE(exits(world.run(add_args("THIRDDEV", {"--save-template", "MYFLOW"})), 1,
                      "Warning (20676)"));
}

TEST(ToolAdd, ToTheZentroDirectory) {
    TOOL_WORLD world;
    RESULT r = world.run(add_args("ZPART", {"--to", "zentro"}));
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_TRUE(tool_test::fs::exists(world.zentro() + "pgm_flash_ZPART.xml"));
    EXPECT_TRUE(world.files_in(world.custom()).empty());
    EXPECT_EQ(world.run({"show", "ZPART", "--json"}).json().at("device").at("source"), "zentro");
}

TEST(ToolAdd, UsageErrors) {
    TOOL_WORLD world;
    EXPECT_EQ(
        world.run({"add", "P", "--id", "0x20", "--density", "64Mb", "--io-voltage", "1.8V"}).status,
        2);  // neither --template nor --like
    EXPECT_EQ(world.run({"add", "P", "--template", "Micron", "--like", SHIPPED}).status, 2);
    EXPECT_EQ(world.run({"add", "P", "--template", "Micron", "--density", "64Mb"}).status, 2);
    EXPECT_EQ(world.run(add_args("P", {"--to", "elsewhere"})).status, 2);
    EXPECT_EQ(world.run(add_args("P", {"--die", "many"})).status, 2);
    EXPECT_TRUE(world.files_in(world.custom()).empty());
}

// ---- delete -----------------------------------------------------------------------------

TEST(ToolDelete, BuiltInAndLegacyDevicesAreRefused) {
    TOOL_WORLD world;
    const auto before = world.snapshot();
    EXPECT_TRUE(exits(world.run({"delete", SHIPPED}), 1,
                      "'MT25QL128' is a built-in device and cannot be deleted"));
    EXPECT_TRUE(exits(world.run({"delete", "QCDV16"}), 1));
    EXPECT_TRUE(exits(world.run({"delete", "NOPE"}), 1));
    EXPECT_EQ(world.snapshot(), before);
}

TEST(ToolDelete, UserDeviceIsGone) {
    TOOL_WORLD world;
    ASSERT_EQ(world.run(add_args("MYPART")).status, 0);
    EXPECT_TRUE(exits(world.run({"delete", "MYPART", "--from", "zentro"}), 1));
    EXPECT_TRUE(tool_test::fs::exists(world.custom() + "pgm_flash_MYPART.xml"));

    RESULT r = world.run({"delete", "MYPART", "--json"});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.json().at("file"), world.custom() + "pgm_flash_MYPART.xml");
    EXPECT_TRUE(world.files_in(world.custom()).empty());
    EXPECT_EQ(world.run({"show", "MYPART"}).status, 1);
}

TEST(ToolDelete, DeviceSharingAFileLeavesTheOthers) {
    TOOL_WORLD world;
    world.write(world.custom() + "pgm_flash_pair.xml",
                vorn_test::read_test_file("tool/good_device.xml"));
    RESULT r = world.run({"delete", "GOODDEV"});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(world.run({"show", "GOODDEV"}).status, 1);
    json templates = world.run({"templates", "--json"}).json().at("templates");
    ASSERT_EQ(templates.size(), 6u);
    EXPECT_EQ(templates[5].at("name"), "GOODFLOW");
}

TEST(ToolTemplateDelete, UserTemplatesOnly) {
    TOOL_WORLD world;
    ASSERT_EQ(world.run(add_args("FIRSTDEV", {"--save-template", "MYFLOW"})).status, 0);
    EXPECT_TRUE(exits(world.run({"delete", "MYFLOW"}), 1, "vorn template delete MYFLOW"));
    EXPECT_TRUE(exits(world.run({"template", "delete", "Micron"}), 1, "vendor template"));
    EXPECT_EQ(world.run({"template", "delete", "NOPE"}).status, 1);

    RESULT r = world.run({"template", "delete", "MYFLOW", "--json"});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.json().at("command"), "template delete");
    EXPECT_EQ(world.files_in(world.custom()), std::vector<std::string>{"pgm_flash_FIRSTDEV.xml"});
    EXPECT_EQ(world.run({"templates", "--json"}).json().at("templates").size(), 5u);
}

// ---- edit -------------------------------------------------------------------------------

TEST(ToolEdit, SavedEditReachesTheNextRun) {
    TOOL_WORLD world;
    ASSERT_EQ(world.run(add_args("MYPART")).status, 0);
    world.set_env("EDITOR", editor_script(world, "edit.sh",
                                          "sed -i 's#<DUMMY_CLOCK_CYCLE>[0-9]*</DUMMY_CLOCK_CYCLE>"
                                          "#<DUMMY_CLOCK_CYCLE>6</DUMMY_CLOCK_CYCLE>#' \"$1\""));
    RESULT r = world.run({"edit", "MYPART"});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_NE(r.out.find("Saved device 'MYPART'"), std::string::npos) << r;
    json d = world.run({"show", "MYPART", "--json"}).json().at("device");
    EXPECT_EQ(d.at("dummy_clock_cycle"), 6);
    EXPECT_EQ(d.at("dummy_clock_cycle_x4"), 10);
    EXPECT_EQ(world.files_in(world.custom()), std::vector<std::string>{"pgm_flash_MYPART.xml"});
}

TEST(ToolEdit, RejectedEditSavesNothingWithoutATerminal) {
    TOOL_WORLD world;
    ASSERT_EQ(world.run(add_args("MYPART")).status, 0);
    const std::string file = world.custom() + "pgm_flash_MYPART.xml";
    const std::string saved = world.read(file);
    world.set_env("EDITOR",
                  editor_script(world, "edit.sh",
                                "sed -i -e 's#<DEVICE_DENSITY>[^<]*</DEVICE_DENSITY>"
                                "#<DEVICE_DENSITY>7Mb</DEVICE_DENSITY>#' "
                                "-e 's#<COMMAND>0x06</COMMAND>#<COMMAND>0x0606</COMMAND>#' "
                                "\"$1\""));
    RESULT r = world.run({"edit", "MYPART"}, true, "y\n");
    EXPECT_EQ(r.status, 1) << r;
    EXPECT_NE(r.err.find("Warning (20478): Device density '7Mb' is invalid."), std::string::npos)
        << r;
    EXPECT_NE(r.err.find("Warning (20486)"), std::string::npos) << r;
    EXPECT_NE(r.err.find("nothing was saved"), std::string::npos) << r;
    EXPECT_EQ(r.err.find("Edit again?"), std::string::npos) << "stdin is not a terminal";
    EXPECT_EQ(world.read(file), saved);
    EXPECT_EQ(world.files_in(world.scratch()).size(), 1u) << "the edited text is kept";
}

// The first edit breaks the density, the second mends it.
std::string two_pass_editor(const TOOL_WORLD& world) {
    const std::string count = world.root() + "edits";
    return editor_script(world, "two_pass.sh",
                         "n=$(cat '" + count + "' 2>/dev/null || echo 0); n=$((n+1)); echo $n > '" +
                             count +
                             "'\n"
                             "if [ $n -eq 1 ]; then d=7Mb; else d=32Mb; fi\n"
                             "sed -i \"s#<DEVICE_DENSITY>[^<]*<#<DEVICE_DENSITY>$d<#\" \"$1\"");
}

TEST(ToolEdit, OnATerminalARejectedEditCanBeMended) {
    TOOL_WORLD world;
    ASSERT_EQ(world.run(add_args("MYPART")).status, 0);
    world.set_env("EDITOR", two_pass_editor(world));
    world.use_terminal(true);
    RESULT r = world.run({"edit", "MYPART"}, true, "y\n");
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_NE(r.err.find("Warning (20478): Device density '7Mb' is invalid."), std::string::npos)
        << r;
    EXPECT_NE(r.err.find("Edit again? [Y/n]"), std::string::npos) << r;
    world.use_terminal(false);
    EXPECT_EQ(world.run({"show", "MYPART", "--json"}).json().at("device").at("density"), "32Mb");
}

TEST(ToolEdit, OnATerminalNoMeansNothingIsSaved) {
    TOOL_WORLD world;
    ASSERT_EQ(world.run(add_args("MYPART")).status, 0);
    const std::string saved = world.read(world.custom() + "pgm_flash_MYPART.xml");
    world.set_env("EDITOR", two_pass_editor(world));
    world.use_terminal(true);
    EXPECT_TRUE(exits(world.run({"edit", "MYPART"}, true, "n\n"), 1, "Edit again?"));
    EXPECT_EQ(world.read(world.custom() + "pgm_flash_MYPART.xml"), saved);
    EXPECT_EQ(world.read(world.root() + "edits"), "1\n") << "the editor ran once";
}

TEST(ToolEdit, SchemaBreakingAndRenamingEditsAreRejected) {
    TOOL_WORLD world;
    ASSERT_EQ(world.run(add_args("MYPART")).status, 0);
    const std::string saved = world.read(world.custom() + "pgm_flash_MYPART.xml");
    world.set_env("EDITOR", editor_script(world, "schema.sh",
                                          "sed -i 's#<TOTAL_DEVICE_DIE>#<DIES>#; "
                                          "s#</TOTAL_DEVICE_DIE>#</DIES>#' \"$1\""));
    EXPECT_TRUE(exits(world.run({"edit", "MYPART"}), 1, "schema"));

    world.set_env("EDITOR",
                  editor_script(world, "rename.sh", "sed -i 's#>MYPART<#>YOURPART<#' \"$1\""));
    EXPECT_TRUE(exits(world.run({"edit", "MYPART"}), 1, "must stay 'MYPART'"));
    EXPECT_EQ(world.read(world.custom() + "pgm_flash_MYPART.xml"), saved);
    EXPECT_EQ(world.run({"show", "YOURPART"}).status, 1);
}

TEST(ToolEdit, EditorChoiceFailureAndNoChange) {
    TOOL_WORLD world;
    ASSERT_EQ(world.run(add_args("MYPART")).status, 0);
    world.set_env("EDITOR", "false");
    EXPECT_TRUE(exits(world.run({"edit", "MYPART"}), 1, "editor ended with status 1"));

    world.set_env("EDITOR", "true");
    EXPECT_TRUE(prints(world.run({"edit", "MYPART"}), 0, "No changes"));

    // $VISUAL wins over $EDITOR.
    world.set_env("EDITOR", "false");
    world.set_env("VISUAL",
                  editor_script(world, "visual.sh",
                                "sed -i 's#<TOTAL_DEVICE_DIE>1<#<TOTAL_DEVICE_DIE>2<#' \"$1\""));
    RESULT visual = world.run({"edit", "MYPART"});
    ASSERT_EQ(visual.status, 0) << visual;
    EXPECT_EQ(world.run({"show", "MYPART", "--json"}).json().at("device").at("total_die"), 2);
}

TEST(ToolEdit, BuiltInDeviceIsEditedIntoTheCustomDirectory) {
    TOOL_WORLD world;
    const std::string golden = world.read(world.zentro() + "pgm_flash_db_qspi.xml");
    world.set_env("EDITOR",
                  editor_script(world, "edit.sh",
                                "sed -i 's#<DUMMY_CLOCK_CYCLE_X4>[0-9]*</DUMMY_CLOCK_CYCLE_X4>"
                                "#<DUMMY_CLOCK_CYCLE_X4>12</DUMMY_CLOCK_CYCLE_X4>#' \"$1\""));
    RESULT r = world.run({"edit", SHIPPED});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(world.files_in(world.custom()), std::vector<std::string>{"pgm_flash_MT25QL128.xml"});
    EXPECT_EQ(world.read(world.zentro() + "pgm_flash_db_qspi.xml"), golden);
    json d = world.run({"show", SHIPPED, "--json"}).json().at("device");
    EXPECT_EQ(d.at("dummy_clock_cycle_x4"), 12);
    EXPECT_EQ(d.at("source"), "custom");

    EXPECT_TRUE(exits(world.run({"edit", "MT25QL256", "--to", "zentro"}), 1));
    EXPECT_TRUE(exits(world.run({"edit", "QCDV16"}), 1));
}

}  // namespace
