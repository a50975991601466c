// The flow check through the vorn tool: verify, and the check that add, import and check run
// on the devices they handle.
#include "test_tool_runner.h"

using nlohmann::json;
using tool_test::exits;
using tool_test::prints;
using tool_test::RESULT;
using tool_test::TOOL_WORLD;

namespace {

const char* const VENDORS[5][2] = {{"Micron", "0x20"},
                                   {"Macronix", "0xC2"},
                                   {"Cypress", "0x01"},
                                   {"Winbond", "0xEF"},
                                   {"Issi", "0x9D"}};

std::vector<std::string> add_args(const std::string& name, const std::string& flows,
                                  const std::string& density, const std::string& id) {
    return {"add",
            name,
            flows,
            "--id",
            id + " 0x40 0x17",
            "--density",
            density,
            "--io-voltage",
            "3.0V/3.3V",
            "--dummy-cycles",
            "8",
            "--dummy-cycles-x4",
            "6"};
}

TEST(ToolVerify, ShippedDatabaseHasNoErrors) {
    TOOL_WORLD world;
    RESULT r = world.run({"verify", "--all", "--json"});
    ASSERT_EQ(r.status, 0) << r;
    const json doc = r.json();
    EXPECT_EQ(doc.at("command"), "verify");
    EXPECT_EQ(doc.at("summary").at("error_count"), 0);
    EXPECT_EQ(doc.at("devices").size(), doc.at("summary").at("devices").get<size_t>());
    EXPECT_GT(doc.at("devices").size(), 40u);
    EXPECT_TRUE(prints(world.run({"verify", "--all"}), 0, "devices checked: 0 errors"));
}

TEST(ToolVerify, VendorTemplatesFitTheDensity) {
    TOOL_WORLD world;
    for (const auto& vendor : VENDORS) {
        for (const char* density : {"64Mb", "256Mb"}) {
            const std::string name = std::string(vendor[0]) + "_" + density;
            RESULT add = world.run(
                add_args(name, "--template=" + std::string(vendor[0]), density, vendor[1]));
            ASSERT_EQ(add.status, 0) << add;
            EXPECT_EQ(add.err, "") << name;
            EXPECT_EQ(add.out.find("fitted to 3-byte") != std::string::npos,
                      std::string(density) == "64Mb")
                << add;
            EXPECT_TRUE(prints(world.run({"verify", name}), 0, name + " (" + vendor[0] + ")"));
        }
    }
}

TEST(ToolVerify, FindingsWarnOnAddAndFailVerify) {
    TOOL_WORLD world;
    const auto args = add_args("BIGFLOWS", "--like=W25Q256JV", "64Mb", "0xEF");
    RESULT add = world.run(args);
    ASSERT_EQ(add.status, 0) << add;
    EXPECT_NE(add.err.find("warning: the flows of 'W25Q256JV' use 4-byte addressing, which a "
                           "64Mb part does not have"),
              std::string::npos)
        << add;
    EXPECT_NE(add.err.find("error: SFL Initialization, action 5 (Enter 4 Byte Address Mode "
                           "0xB7): enters 4-byte mode on a 64Mb part, which has no such mode"),
              std::string::npos)
        << add;

    RESULT verify = world.run({"verify", "BIGFLOWS", "--json"});
    EXPECT_EQ(verify.status, 1) << verify;
    const json device = verify.json().at("devices").at(0);
    EXPECT_EQ(device.at("vendor"), "Winbond");
    EXPECT_GT(device.at("error_count").get<int>(), 0);
    tool_test::expect_members(device.at("findings").at(0), R"({
        "severity": "error", "code": "no-4byte-mode", "flow": "SFL",
        "operation": "initialization", "action": 5,
        "action_name": "Enter 4 Byte Address Mode 0xB7"})");

    // --strict refuses it, and nothing is written.
    auto strict = add_args("STRICT", "--like=W25Q256JV", "64Mb", "0xEF");
    strict.push_back("--strict");
    EXPECT_TRUE(exits(world.run(strict), 1, "not added: its flows have error-level findings"));
    EXPECT_EQ(world.run({"show", "STRICT"}).status, 1);
}

TEST(ToolVerify, TraceShowsEveryTransaction) {
    TOOL_WORLD world;
    RESULT text = world.run({"verify", "MX25L25645G", "--trace"});
    ASSERT_EQ(text.status, 0) << text;
    EXPECT_NE(text.out.find("  SFL Initialization\n    #1 Write Enable 0x06 -> write enable "
                            "latch set\n    #2 Write Status Register 0x01: out 40 -> Status "
                            "Register = 0x40, busy\n"),
              std::string::npos)
        << text;
    const json trace = world.run({"verify", "MX25L25645G", "--trace", "--json"})
                           .json()
                           .at("devices")
                           .at(0)
                           .at("trace");
    ASSERT_GT(trace.size(), 10u);
    tool_test::expect_members(trace.at(1), R"({"flow": "SFL", "operation": "initialization",
        "action": 2, "command": 1, "address": null, "out": "40", "dummy_cycles": 0, "in": "",
        "answer": "Status Register = 0x40, busy", "repeats": 0})");
    EXPECT_EQ(
        world.run({"verify", "MX25L25645G", "--json"}).json().at("devices").at(0).count("trace"),
        0u);
}

TEST(ToolVerify, CheckAndImportReportFindingsStrictBlocks) {
    TOOL_WORLD world;
    ASSERT_EQ(world.run(add_args("ODD", "--like=MT25QL256", "64Mb", "0x20")).status, 0);
    const std::string file = world.scratch() + "odd.xml";
    ASSERT_EQ(world.run({"export", "ODD", "-o", file}).status, 0);
    ASSERT_EQ(world.run({"delete", "ODD"}).status, 0);

    RESULT check = world.run({"check", file});
    EXPECT_TRUE(prints(check, 0, "odd.xml: ODD (Micron): "));
    EXPECT_NE(check.out.find("enters 4-byte mode on a 64Mb part"), std::string::npos) << check;
    EXPECT_EQ(world.run({"check", file, "--strict"}).status, 1);
    const json checked = world.run({"check", file, "--json"}).json();
    EXPECT_EQ(checked.at("files").at(0).at("flow_checks").at(0).at("name"), "ODD");

    EXPECT_TRUE(exits(world.run({"import", file, "--strict"}), 1, "nothing was imported"));
    EXPECT_EQ(world.run({"show", "ODD"}).status, 1);
    EXPECT_TRUE(exits(world.run({"import", file}), 0, "Flow check of ODD (Micron):"));
    EXPECT_EQ(world.run({"show", "ODD"}).status, 0);
}

TEST(ToolVerify, EditReportsFindingsStrictRefuses) {
    TOOL_WORLD world;
    ASSERT_EQ(world.run(add_args("MINE", "--template=Macronix", "64Mb", "0xC2")).status, 0);
    const std::string file = world.custom() + "pgm_flash_MINE.xml";
    const std::string saved = world.read(file);
    // Every write enable becomes a write disable.
    const std::string editor = world.scratch() + "edit.sh";
    world.write(editor,
                "#!/bin/sh\nsed -i 's#<COMMAND>0x06</COMMAND>#<COMMAND>0x04</COMMAND>#' \"$1\"\n");
    std::filesystem::permissions(editor, std::filesystem::perms::owner_all);
    world.set_env("EDITOR", editor);

    EXPECT_TRUE(exits(world.run({"edit", "MINE", "--strict"}), 1, "was rejected"));
    EXPECT_EQ(world.read(file), saved);
    RESULT r = world.run({"edit", "MINE", "--json"});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.json().at("flow_check").at("findings").at(0).at("code"), "no-write-enable");
    EXPECT_NE(world.read(file), saved);
}

TEST(ToolVerify, UsageAndUnknownNames) {
    TOOL_WORLD world;
    EXPECT_EQ(world.run({"verify"}).status, 2);
    EXPECT_EQ(world.run({"verify", "MT25QL128", "--all"}).status, 2);
    EXPECT_TRUE(exits(world.run({"verify", "NOSUCH"}), 1, "no QSPI device with flows named"));
}

}  // namespace
