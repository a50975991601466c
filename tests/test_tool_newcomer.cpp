// The vorn tool as a newcomer meets it: what a refused value could have been, IDs the lookup
// cannot hold, no custom directory yet, edits kept, skipped files named, exports too large to
// read back, progress on a terminal, and names from files printed safely.
#include <pty.h>

#include <set>

#include "test_tool_runner.h"

using nlohmann::json;
using tool_test::exits;
using tool_test::prints;
using tool_test::RESULT;
using tool_test::SHIPPED;
using tool_test::TOOL_WORLD;

namespace {

const std::string ADD_DEFAULTS[] = {"--template", "Winbond", "--id",         "0xEF 0x40 0x16",
                                    "--density",  "32Mb",    "--io-voltage", "3.0V/3.3V"};

// `vorn add NAME` with the defaults above, `changes` given as option-value pairs replacing them.
std::vector<std::string> add_args(const std::string& name,
                                  const std::vector<std::string>& changes = {}) {
    std::vector<std::string> args{"add", name};
    args.insert(args.end(), std::begin(ADD_DEFAULTS), std::end(ADD_DEFAULTS));
    for (size_t i = 0; i + 1 < changes.size(); i += 2) {
        auto it = std::find(args.begin(), args.end(), changes[i]);
        if (it == args.end())
            args.insert(args.end(), {changes[i], changes[i + 1]});
        else
            *(it + 1) = changes[i + 1];
    }
    return args;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// A user file of tests/files/tool with every `from` replaced by `to`.
std::string edited_file(const std::string& name, const std::string& from, const std::string& to) {
    return replace_all(vorn_test::read_test_file("tool/" + name), from, to);
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// Runs a shell command with a terminal as its stdin, stdout and stderr; what the terminal got.
std::string on_terminal(const std::string& command) {
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string out;
    char buffer[4096];
    for (ssize_t n; pid > 0 && (n = read(master, buffer, sizeof buffer)) > 0;)
        out.append(buffer, n);
    if (pid > 0) waitpid(pid, nullptr, 0);
    if (master >= 0) close(master);
    return out;
}

TEST(ToolNewcomer, ARefusedValueIsFollowedByWhatTheFieldAccepts) {
    TOOL_WORLD world;
    struct CASE {
        std::vector<std::string> args;
        std::string field;
        std::string accepted;
    };
    const CASE cases[] = {
        {add_args("NEWPART", {"--id", "0xEF,0x40"}), "device ID", "such as \"0xEF 0x40 0x18\""},
        {add_args("NEWPART", {"--template", "Nobody"}), "programming flow template",
         "Micron, Macronix, Cypress, Winbond, Issi"},
        {add_args("NEWPART", {"--dummy-cycles", "16"}), "dummy clock cycles", "0 to 15"},
        {{"find", "--density", "32GiB"}, "density", "1024Mb, 2048Mb, 1GB, 2GB"},
    };
    for (const CASE& c : cases) {
        RESULT text = world.run(c.args);
        EXPECT_EQ(text.status, 1) << text;
        // The library's warning as it is, then the tool's own line.
        const auto lines = text.err_lines();
        ASSERT_GE(lines.size(), 2u) << text;
        EXPECT_EQ(lines[0].rfind("Warning (", 0), 0u) << text;
        EXPECT_NE(lines[1].find(c.accepted), std::string::npos) << text;

        auto args = c.args;
        args.push_back("--json");
        const json rejected = world.run(args).json().at("rejected");
        ASSERT_EQ(rejected.size(), 1u) << rejected;
        EXPECT_EQ(rejected[0].at("field"), c.field);
        EXPECT_NE(rejected[0].at("accepted").get<std::string>().find(c.accepted),
                  std::string::npos);
    }
    RESULT help = world.run({"add", "--help"});
    for (const char* accepted : {"1Mb, 2Mb", "2048Mb", "1.8V, 3.0V/3.3V", "\"0xEF 0x40 0x18\""})
        EXPECT_NE(help.out.find(accepted), std::string::npos) << accepted << "\n" << help;
    EXPECT_TRUE(world.files_in(world.custom()).empty());
}

TEST(ToolNewcomer, IdsLongerThanALookupReadsAreRefusedAndMasksAreBytes) {
    TOOL_WORLD world;
    const std::string five = "0xEF 0x40 0x16 0x00 0x01";
    const auto before = world.snapshot();
    EXPECT_TRUE(exits(world.run(add_args("NEWPART", {"--id", five})), 1, "has 5 bytes"));
    EXPECT_TRUE(exits(world.run({"find", "--id", five}), 1, "has 5 bytes"));
    EXPECT_EQ(world.snapshot(), before);
    world.write(world.root() + "five.xml",
                edited_file("second_device.xml", "<DEVICE_ID>0xEF 0x40 0x41<",
                            "<DEVICE_ID>0xEF 0x40 0x41 0x00 0x01<"));
    EXPECT_TRUE(prints(world.run({"check", world.root() + "five.xml"}), 1, "has 5 bytes"));

    RESULT masked = world.run({"find", "--id", "0x20 0xBB 0x18", "--mask", "0xFF 0x00", "--json"});
    ASSERT_EQ(masked.status, 0) << masked;
    EXPECT_EQ(masked.json().at("query").at("mask"), 0xFF);
    EXPECT_EQ(masked.json().at("device").at("name"), "MT25QL01G") << "first 0x20 part by name";
    EXPECT_EQ(world.run({"find", "--id", "0x20", "--mask", "0xFFFF"}).status, 2);
}

TEST(ToolNewcomer, WithoutACustomDirectoryNothingIsWrittenAndTheToolSaysHowToSetOne) {
    TOOL_WORLD world;
    world.set_env("EDITOR", "touch");  // an edit must be refused before the editor runs
    const auto before = world.snapshot();
    for (const auto& args : std::vector<std::vector<std::string>>{
             add_args("NEWPART"),
             {"edit", SHIPPED},
             {"import", VORN_TEST_FILES_DIR "tool/second_device.xml"}})
        EXPECT_TRUE(exits(world.run(args, false), 1, "`vorn config set custom-dir DIR`"))
            << args.front();
    EXPECT_EQ(world.snapshot(), before) << "neither a device file nor the user INI";
    EXPECT_TRUE(prints(world.run({"info"}, false), 0, "(not set: the working directory is read"));
    EXPECT_TRUE(exits(world.run({"--custom-dir", world.root() + "nowhere", "list"}, false), 1,
                      "does not exist"));
    EXPECT_TRUE(exits(world.run({"config", "set", "custom-dir", world.root() + "nowhere"}), 1));

    ASSERT_TRUE(exits(world.run({"config", "set", "custom-dir", world.custom()}, false), 0));
    EXPECT_TRUE(prints(world.run({"config", "show"}, false), 0, world.custom()));
    EXPECT_TRUE(exits(world.run(add_args("NEWPART"), false), 0));
    EXPECT_EQ(world.files_in(world.custom()), std::vector<std::string>{"pgm_flash_NEWPART.xml"});
}

TEST(ToolNewcomer, ARefusedEditKeepsTheTextWhereItsMessageSays) {
    TOOL_WORLD world;
    ASSERT_EQ(world.run(add_args("MYPART")).status, 0);
    world.write(world.root() + "edit.sh", "sed -i 's#>32Mb<#>7Mb<#' \"$1\"\n");
    world.set_env("EDITOR", "sh " + world.root() + "edit.sh");
    RESULT r = world.run({"edit", "MYPART", "--json"});
    EXPECT_EQ(r.status, 1) << r;
    const std::string kept = r.json().value("kept", "");
    EXPECT_NE(r.err.find(kept + ":8: Warning (20478)"), std::string::npos) << r;
    EXPECT_NE(world.read(kept).find(">7Mb<"), std::string::npos) << "the edit itself is kept";

    // Mended, it goes back the way the message says.
    world.write(kept, replace_all(world.read(kept), ">7Mb<", ">16Mb<"));
    ASSERT_TRUE(exits(world.run({"import", "--replace", kept}), 0));
    EXPECT_EQ(world.run({"show", "MYPART", "--json"}).json().at("device").at("density"), "16Mb");
}

TEST(ToolNewcomer, SkippedUserFilesAreNamedOnceWithTheirReason) {
    TOOL_WORLD world;
    world.write(world.custom() + "pgm_flash_A.xml",
                vorn_test::read_test_file("tool/schema_error.xml"));
    world.write(world.custom() + "pgm_flash_B.xml",
                edited_file("second_device.xml", "<TOTAL_DEVICE_DIE>1<", "<TOTAL_DEVICE_DIE>0<"));
    // Asking for SD/MMC loads the database a second time.
    RESULT r = world.run({"find", "--name", "*DEV*"});
    const std::string a = "vorn: skipped " + world.custom() + "pgm_flash_A.xml:";
    const std::string b = "vorn: skipped " + world.custom() + "pgm_flash_B.xml:";
    EXPECT_EQ(count(r.err, a), 1u) << r;
    EXPECT_NE(r.err.find(a + "10: schema: Element 'DEVICE_COLOUR'"), std::string::npos) << r;
    EXPECT_EQ(count(r.err, b), 1u) << r;
    EXPECT_NE(r.err.find(b + "10: Warning (20479): Total device die '0' is invalid."),
              std::string::npos)
        << r;

    const json skipped = world.run({"list", "--json"}).json().at("skipped");
    ASSERT_EQ(skipped.size(), 2u) << skipped;
    EXPECT_EQ(skipped[1].at("problems")[0].at("id"), 20479);
}

TEST(ToolNewcomer, AnExportLargerThanCheckReadsWarnsAndPerFileSplitsIt) {
    TOOL_WORLD world;
    // Two devices of about 9 MB each: each file is read, the two together are not.
    const std::string description(4500000, 'd');
    for (const char* name : {"BIG1", "BIG2"}) {
        const std::string text =
            edited_file("second_device.xml", ">OTHERDEV<", std::string(">") + name + "<");
        world.write(world.custom() + "pgm_flash_" + name + ".xml",
                    replace_all(text, "Power cycle", description));
    }
    RESULT one = world.run({"export", "BIG1", "BIG2", "-o", world.root() + "both.xml", "--json"});
    EXPECT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.json().at("too_large"), true);
    EXPECT_NE(one.err.find("more than the 16777216 bytes"), std::string::npos) << one.err;
    EXPECT_NE(world.run({"check", world.root() + "both.xml"}).out.find("larger than the limit"),
              std::string::npos);

    RESULT split =
        world.run({"export", "BIG1", "BIG2", "--per-file", "-o", world.root() + "split"});
    EXPECT_EQ(split.status, 0) << split.err;
    EXPECT_TRUE(split.err.empty()) << split.err;
    EXPECT_EQ(world.files_in(world.root() + "split"),
              (std::vector<std::string>{"pgm_flash_BIG1.xml", "pgm_flash_BIG2.xml"}));
    EXPECT_TRUE(exits(world.run({"check", "--replace", world.root() + "split/pgm_flash_BIG1.xml",
                                 world.root() + "split/pgm_flash_BIG2.xml"}),
                      0));
}

TEST(ToolNewcomer, ProgressIsDrawnOnlyWhenStdoutAndStderrAreATerminal) {
    TOOL_WORLD world;
    const std::string file = VORN_TEST_FILES_DIR "tool/second_device.xml";
    const std::string vorn =
        "VORN_PROGRAMMER_DIR=" + world.programmer() + " VORN_USER_INI=" + world.user_ini() +
        " VORN_INI=" + world.switch_ini() + " " VORN_TOOL_PATH " --custom-dir " + world.custom() +
        " check --replace " + file + " " + file + " " + file;
    const std::string shown = on_terminal(vorn);
    EXPECT_NE(shown.find("\rchecking 3/3"), std::string::npos) << shown;
    EXPECT_EQ(on_terminal(vorn + " --json").find("checking"), std::string::npos);
    EXPECT_EQ(on_terminal(vorn + " > " + world.root() + "out").find("checking"), std::string::npos);
}

TEST(ToolNewcomer, NamesFromFilesCannotForgeRowsOrFloodTables) {
    TOOL_WORLD world;
    const std::string forged = "EVIL\nMT25QL128\tX";
    const std::string long_name(60, 'L');
    world.write(world.custom() + "pgm_flash_EVIL.xml",
                edited_file("second_device.xml", ">OTHERDEV<", ">EVIL&#10;MT25QL128&#9;X<"));
    world.write(world.custom() + "pgm_flash_LONG.xml",
                edited_file("second_device.xml", ">OTHERDEV<", ">" + long_name + "<"));
    RESULT r = world.run({"list", "--all"});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_NE(r.out.find("\nEVIL\\nMT25QL128\\tX "), std::string::npos) << r;
    EXPECT_EQ(count(r.out, "\nMT25QL128 "), 1u) << "only the real row starts with its name";
    EXPECT_NE(r.out.find("\n" + long_name.substr(0, 48) + "...(12 more) "), std::string::npos);
    // The count goes to stderr, so that stdout stays the table.
    EXPECT_EQ(r.out.find("devices shown"), std::string::npos);
    EXPECT_NE(r.err.find("44 of 44 QSPI devices shown"), std::string::npos) << r;

    std::set<std::string> names;
    const json listed = world.run({"list", "--all", "--json"}).json();
    for (const auto& d : listed.at("devices")) names.insert(d.at("name").get<std::string>());
    EXPECT_TRUE(names.count(forged) && names.count(long_name)) << "--json keeps names exact";
}

}  // namespace
