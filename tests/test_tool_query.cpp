// The read-only commands of the vorn tool, run as a user runs them: list, show, find,
// templates, families, info, and the command line itself.
#include <regex>
#include <set>

#include "test_tool_runner.h"
#include "vorn.h"

using nlohmann::json;
using tool_test::exits;
using tool_test::RESULT;
using tool_test::SHIPPED;
using tool_test::TOOL_WORLD;

namespace {

std::set<std::string> names_of(const json& devices) {
    std::set<std::string> names;
    for (const auto& d : devices) names.insert(d.at("name").get<std::string>());
    return names;
}

// ---- command line -----------------------------------------------------------------------

TEST(ToolCommandLine, VersionHelpAndUsageErrors) {
    TOOL_WORLD world;
    RESULT version = world.run({"--version"});
    EXPECT_EQ(version.status, 0) << version;
    EXPECT_EQ(version.out.rfind("vorn " + std::string(vorn_version()), 0), 0u) << version;

    RESULT help = world.run({"--help"});
    EXPECT_EQ(help.status, 0) << help;
    for (const char* command : {"list", "show", "find", "add", "edit", "import", "export", "delete",
                                "check", "templates", "template", "families", "info"})
        EXPECT_NE(help.out.find(command), std::string::npos) << command;

    EXPECT_EQ(world.run({}).status, 2);
    EXPECT_EQ(world.run({"frobnicate"}).status, 2);
    EXPECT_EQ(world.run({"list", "--no-such-option"}).status, 2);
    EXPECT_EQ(world.run({"show"}).status, 2);  // the name is required
    EXPECT_EQ(world.run({"list", "--family", "x"}).status, 2);
    EXPECT_EQ(world.run({"template"}).status, 2);  // needs "delete"
}

TEST(ToolCommandLine, EveryCommandHasHelp) {
    TOOL_WORLD world;
    const std::vector<std::vector<std::string>> commands{{"list"},     {"show"},
                                                         {"find"},     {"add"},
                                                         {"edit"},     {"import"},
                                                         {"export"},   {"delete"},
                                                         {"check"},    {"templates"},
                                                         {"families"}, {"info"},
                                                         {"template"}, {"template", "delete"}};
    for (auto args : commands) {
        args.push_back("--help");
        RESULT r = world.run(args);
        EXPECT_EQ(r.status, 0) << args.front() << "\n" << r;
        EXPECT_NE(r.out.find("Usage"), std::string::npos) << args.front() << "\n" << r;
    }
}

TEST(ToolCommandLine, GlobalOptionsAfterTheCommand) {
    TOOL_WORLD world;
    RESULT r = world.run({"info", "--json"});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.json().at("command"), "info");
}

TEST(ToolCommandLine, EveryCommandAnswersInJsonWithTheSameEnvelope) {
    TOOL_WORLD world;
    const std::vector<std::vector<std::string>> runs{
        {"list"},
        {"show", SHIPPED},
        {"find", "--id", "0x20 0xBA 0x18"},
        {"find", "--density", "128Mb"},
        {"templates"},
        {"families"},
        {"info"},
        {"check", VORN_TEST_FILES_DIR "tool/good_device.xml"},
        {"export", SHIPPED},
        {"show", "NO_SUCH_DEVICE"}};
    for (auto args : runs) {
        const std::string command = args.front();
        args.push_back("--json");
        RESULT r = world.run(args);
        json doc = r.json();
        for (const char* key : {"command", "status", "rejected", "messages", "errors"})
            EXPECT_TRUE(doc.contains(key)) << command << " lacks " << key << "\n" << r;
        EXPECT_EQ(doc.value("command", ""), command);
        EXPECT_EQ(doc.value("status", -1), r.status) << r;
    }
}

TEST(ToolCommandLine, ShippedDatabaseWithoutAnyVariable) {
    TOOL_WORLD world;
    for (const char* key : {"VORN_PROGRAMMER_DIR", "VORN_INI", "VORN_USER_INI"})
        world.unset_env(key);
    RESULT r = world.run({"list"}, false);
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_NE(r.out.find(SHIPPED), std::string::npos) << r;
    RESULT info = world.run({"info", "--json"}, false);
    ASSERT_EQ(info.status, 0) << info;
    EXPECT_EQ(info.json().at("programmer_dir"), VORN_TEST_BUILTIN_DATA_DIR);
    EXPECT_EQ(info.json().at("user_ini_file"), world.root() + "xdg/vorn/user.ini");
    EXPECT_EQ(info.json().at("custom_dir"), world.root() + "home/");
    EXPECT_FALSE(tool_test::fs::exists(world.root() + "xdg/vorn/user.ini"));
}

TEST(ToolCommandLine, ProgrammerDirOptionWinsOverTheVariable) {
    TOOL_WORLD world;
    tool_test::fs::create_directories(world.root() + "empty/xml");
    world.set_env("VORN_PROGRAMMER_DIR", world.root() + "empty/");
    RESULT r = world.run({"--programmer-dir", world.programmer(), "info", "--json"});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.json().at("programmer_dir"), world.programmer());
    EXPECT_EQ(r.json().at("counts").at("qspi_devices"), 42);
    EXPECT_TRUE(exits(world.run({"--programmer-dir", world.root() + "nowhere", "list"}), 1,
                      "does not exist"));
}

// ---- list -------------------------------------------------------------------------------

TEST(ToolList, DefaultIsTheActiveFamilyAndScheme) {
    TOOL_WORLD world;
    RESULT r = world.run({"list", "--json"});
    ASSERT_EQ(r.status, 0) << r;
    json doc = r.json();
    EXPECT_EQ(doc.at("family"), 73);
    EXPECT_EQ(doc.at("scheme"), 13);
    EXPECT_EQ(doc.at("filtered"), true);
    auto names = names_of(doc.at("devices"));
    EXPECT_TRUE(names.count("MT25QL128"));
    EXPECT_FALSE(names.count("MT25QU128")) << "1.8V parts are not offered for a 3.3V family";
    EXPECT_FALSE(names.count("IS25LP128")) << "ISSI parts are offered for families 23 and 28 only";

    RESULT text = world.run({"list"});
    ASSERT_EQ(text.status, 0) << text;
    EXPECT_EQ(text.out.rfind("NAME", 0), 0u) << text;
    EXPECT_NE(text.out.find("MT25QL128"), std::string::npos);
    EXPECT_NE(text.out.find("0x20 0xBA 0x18"), std::string::npos);
    EXPECT_EQ(text.out.find("MT25QU128"), std::string::npos);
}

TEST(ToolList, FamilyFilterAndTheIssiRule) {
    TOOL_WORLD world;
    auto names = [&](const std::vector<std::string>& extra) {
        std::vector<std::string> args{"list", "--json"};
        args.insert(args.end(), extra.begin(), extra.end());
        RESULT r = world.run(args);
        EXPECT_EQ(r.status, 0) << r;
        return names_of(r.json().at("devices"));
    };
    auto family23 = names({"--family", "23"});
    EXPECT_TRUE(family23.count("IS25LP128"));
    EXPECT_TRUE(family23.count("MT25QL128"));
    auto family28 = names({"--family", "28"});
    EXPECT_TRUE(family28.count("IS25WP128"));
    EXPECT_TRUE(family28.count("MT25QU128"));
    EXPECT_FALSE(family28.count("MT25QL128"));
    auto family34 = names({"--family", "34"});  // 1.8V, not an ISSI family
    EXPECT_TRUE(family34.count("MT25QU128"));
    EXPECT_FALSE(family34.count("IS25WP128"));
    auto all = names({"--all"});
    EXPECT_EQ(all.size(), 42u);
    EXPECT_TRUE(all.count("IS25WP128") && all.count("MT25QL128") && all.count("MT25QU128"));
}

TEST(ToolList, FamiliesAndSchemesNotServedAreRefused) {
    TOOL_WORLD world;
    RESULT retired = world.run({"list", "--family", "19"});
    EXPECT_EQ(retired.status, 1) << retired;
    EXPECT_NE(retired.err.find("not served"), std::string::npos) << retired;
    EXPECT_TRUE(retired.out.empty());
    EXPECT_TRUE(exits(world.run({"list", "--scheme", "99"}), 1));
}

TEST(ToolList, LegacyDevicesFollowTheScheme) {
    TOOL_WORLD world;
    RESULT x4 = world.run({"list", "--legacy", "--json"});
    ASSERT_EQ(x4.status, 0) << x4;
    auto x4_names = names_of(x4.json().at("devices"));
    EXPECT_TRUE(x4_names.count("QCDV16"));
    EXPECT_FALSE(x4_names.count("SCDV4")) << "single-bit parts are not offered for scheme 13";
    EXPECT_FALSE(x4_names.count("LVSCDV16")) << "1.8V";
    RESULT x1 = world.run({"list", "--legacy", "--scheme", "7", "--json"});
    ASSERT_EQ(x1.status, 0) << x1;
    auto x1_names = names_of(x1.json().at("devices"));
    EXPECT_TRUE(x1_names.count("SCDV4"));
    EXPECT_FALSE(x1_names.count("SCDV1")) << "disabled in the host's list";
}

TEST(ToolList, SdmmcDatabase) {
    TOOL_WORLD world;
    RESULT r = world.run({"list", "--sdmmc", "--json"});
    ASSERT_EQ(r.status, 0) << r;
    json doc = r.json();
    EXPECT_EQ(doc.at("database"), "sdmmc");
    auto names = names_of(doc.at("devices"));
    EXPECT_EQ(names.size(), 16u);
    EXPECT_TRUE(names.count("EMMC_32GB"));
    EXPECT_FALSE(names.count(SHIPPED));
}

// ---- show -------------------------------------------------------------------------------

TEST(ToolShow, ShippedDeviceAsText) {
    TOOL_WORLD world;
    RESULT r = world.run({"show", SHIPPED});
    ASSERT_EQ(r.status, 0) << r;
    for (const char* part : {"MT25QL128", "QSPI128MB", "0x20 0xBA 0x18 (0x18BA20, mask 0xFFFFFF)",
                             "128Mb (16777216 bytes)", "3.0V/3.3V", "Micron", "built-in",
                             "pgm_flash_db_qspi.xml", "SFL flow", "SDM flow", "Initialization",
                             "Termination", "Write Enable", "Command:", "Delay(us):"})
        EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r;
}

TEST(ToolShow, ShippedDeviceAsJson) {
    TOOL_WORLD world;
    RESULT r = world.run({"show", SHIPPED, "--json"});
    ASSERT_EQ(r.status, 0) << r;
    json d = r.json().at("device");
    EXPECT_EQ(d.at("name"), SHIPPED);
    EXPECT_EQ(d.at("id_value"), 0x18BA20);
    EXPECT_EQ(d.at("id_mask"), 0xFFFFFF);
    tool_test::expect_members(
        d, R"({"family": "qspi", "id": "0x20 0xBA 0x18", "generic_name": "QSPI128MB",
        "density_bytes": 16777216, "total_die": 1, "dummy_clock_cycle": 8,
        "dummy_clock_cycle_x4": 10, "source": "built-in", "removable": false})");
    EXPECT_EQ(d.at("file"), world.zentro() + "pgm_flash_db_qspi.xml");
    for (const char* flow : {"sfl", "sdm"}) {
        const json& ops = d.at("flows").at(flow);
        ASSERT_EQ(ops.size(), 5u) << flow;
        const char* order[] = {"initialization", "program", "erase", "verify_blankcheck_examine",
                               "termination"};
        for (size_t i = 0; i < 5; ++i) EXPECT_EQ(ops[i].at("type"), order[i]);
    }
    const json& first = d.at("flows").at("sfl")[0].at("actions")[0];
    EXPECT_EQ(first.at("type"), "WRITE_REG");
    EXPECT_EQ(first.at("name"), "Write Register");
    EXPECT_EQ(first.at("properties").at("command"), "0x50");
    EXPECT_EQ(first.at("properties").at("bus_width"), "1-1");
}

TEST(ToolShow, XmlIsAUserFileThatChecksClean) {
    TOOL_WORLD world;
    RESULT r = world.run({"show", SHIPPED, "--xml"});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out.rfind("<?xml", 0), 0u) << r;
    EXPECT_NE(r.out.find("<DEVICE_NAME>MT25QL128</DEVICE_NAME>"), std::string::npos);
    EXPECT_EQ(r.out.find("GOLDEN_TEMPLATE"), std::string::npos);
    const std::string file = world.root() + "copy.xml";
    world.write(file, r.out);
    EXPECT_TRUE(exits(world.run({"check", file, "--replace"}), 0));
}

TEST(ToolShow, LegacySdmmcAndMissingDevices) {
    TOOL_WORLD world;
    RESULT legacy = world.run({"show", "QCDV16", "--json"});
    ASSERT_EQ(legacy.status, 0) << legacy;
    EXPECT_EQ(legacy.json().at("device").at("legacy"), true);
    RESULT legacy_xml = world.run({"show", "QCDV16", "--xml"});
    EXPECT_EQ(legacy_xml.status, 1) << legacy_xml;
    EXPECT_NE(legacy_xml.err.find("legacy"), std::string::npos);

    RESULT card = world.run({"show", "EMMC_32GB", "--json"});
    ASSERT_EQ(card.status, 0) << card;
    json d = card.json().at("device");
    EXPECT_EQ(d.at("family"), "sdmmc");
    EXPECT_EQ(d.at("generic_name"), "SDMMC_32GB");
    EXPECT_EQ(d.at("density_bytes"), 34359738368ull);

    RESULT missing = world.run({"show", "NO_SUCH_DEVICE"});
    EXPECT_EQ(missing.status, 1) << missing;
    EXPECT_NE(missing.err.find("no device named 'NO_SUCH_DEVICE'"), std::string::npos) << missing;
    EXPECT_TRUE(missing.out.empty());
}

// ---- find -------------------------------------------------------------------------------

TEST(ToolFind, ByIdGivesTheFirstInNameOrderAndNamesTheOthers) {
    TOOL_WORLD world;
    RESULT r = world.run({"find", "--id", "0x20 0xBA 0x18", "--json"});
    ASSERT_EQ(r.status, 0) << r;
    json doc = r.json();
    EXPECT_EQ(doc.at("device").at("name"), "MT25QL128");
    EXPECT_EQ(doc.at("query").at("value"), 0x18BA20);
    EXPECT_EQ(doc.at("query").at("mask"), 0xFFFFFF);
    EXPECT_EQ(doc.at("also"), json::array({"N25Q128A13"}));

    RESULT masked = world.run({"find", "--id", "0x20 0xBA 0x18", "--mask", "0xFF 0xFF", "--json"});
    ASSERT_EQ(masked.status, 0) << masked;
    EXPECT_EQ(masked.json().at("device").at("name"), "MT25QL01G");

    RESULT text = world.run({"find", "--id", "0xEF 0x60 0x19"});
    ASSERT_EQ(text.status, 0) << text;
    EXPECT_NE(text.out.find("W25Q256JW"), std::string::npos) << text;
}

TEST(ToolFind, RejectedAndUnknownIds) {
    TOOL_WORLD world;
    EXPECT_TRUE(exits(world.run({"find", "--id", "0x20,0xBA"}), 1,
                      "Warning (20477): Device ID '0x20,0xBA' is invalid."));
    EXPECT_TRUE(exits(world.run({"find", "--id", "0x12 0x34 0x56"}), 1, "no device with ID"));
}

TEST(ToolFind, ByDensity) {
    TOOL_WORLD world;
    RESULT r = world.run({"find", "--density", "2048Mb", "--json"});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.json().at("device").at("name"), "MT25QL02G");
    EXPECT_EQ(r.json().at("also"), json::array({"MT25QU02G"}));
    EXPECT_EQ(r.json().at("query").at("bytes"), 268435456);

    RESULT card = world.run({"find", "--density", "32GB", "--json"});
    ASSERT_EQ(card.status, 0) << card;
    EXPECT_EQ(card.json().at("device").at("name"), "EMMC_32GB");

    EXPECT_TRUE(
        exits(world.run({"find", "--density", "3Mb"}), 1, "Device density '3Mb' is invalid."));
    EXPECT_TRUE(exits(world.run({"find", "--density", "1Mb"}), 1));
}

TEST(ToolFind, NeedsExactlyOneQuery) {
    TOOL_WORLD world;
    EXPECT_EQ(world.run({"find"}).status, 2);
    EXPECT_EQ(world.run({"find", "--id", "0x20", "--density", "128Mb"}).status, 2);
    EXPECT_EQ(world.run({"find", "--density", "128Mb", "--mask", "0xFF"}).status, 2);
    EXPECT_EQ(world.run({"find", "--id", "0x20", "--mask", "zz"}).status, 2);
}

// ---- templates, families, info ------------------------------------------------------------

TEST(ToolTemplates, VendorTemplatesFirst) {
    TOOL_WORLD world;
    RESULT r = world.run({"templates", "--json"});
    ASSERT_EQ(r.status, 0) << r;
    const json list = r.json().at("templates");
    ASSERT_EQ(list.size(), 5u);
    const char* vendors[] = {"Micron", "Macronix", "Cypress", "Winbond", "Issi"};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(list[i].at("name"), vendors[i]);
        EXPECT_EQ(list[i].at("kind"), "vendor");
    }
}

TEST(ToolFamilies, VoltageSdmAndWhoServesThem) {
    TOOL_WORLD world;
    RESULT r = world.run({"families", "--json"});
    ASSERT_EQ(r.status, 0) << r;
    json doc = r.json();
    EXPECT_EQ(doc.at("active_family"), 73);
    std::map<int, json> by_number;
    for (const auto& f : doc.at("families")) by_number[f.at("family").get<int>()] = f;
    ASSERT_TRUE(by_number.count(73) && by_number.count(28) && by_number.count(19));
    EXPECT_EQ(by_number[73].at("name"), "Marlow");
    EXPECT_EQ(by_number[73].at("io_voltage"), "3.0V/3.3V");
    EXPECT_EQ(by_number[73].at("sdm"), false);
    EXPECT_EQ(by_number[73].at("qspi_served"), true);
    EXPECT_EQ(by_number[28].at("sdm"), true);
    EXPECT_EQ(by_number[28].at("io_voltage"), "1.8V");
    EXPECT_EQ(by_number[19].at("enabled"), false);
    EXPECT_EQ(by_number[19].at("qspi_served"), false);
    EXPECT_TRUE(by_number[73].at("sdmmc_served").is_null()) << "SD/MMC is off by default";

    RESULT text = world.run({"families"});
    EXPECT_NE(text.out.find("Marlow"), std::string::npos) << text;
}

TEST(ToolInfo, DirectoriesFilesAndCounts) {
    TOOL_WORLD world;
    RESULT r = world.run({"info", "--json"});
    ASSERT_EQ(r.status, 0) << r;
    json doc = r.json();
    EXPECT_EQ(doc.at("programmer_dir"), world.programmer());
    EXPECT_EQ(doc.at("zentro_dir"), world.zentro());
    EXPECT_EQ(doc.at("custom_dir"), world.custom());
    EXPECT_EQ(doc.at("custom_dir_source"), "option");
    EXPECT_EQ(doc.at("switch_file"), world.switch_ini());
    EXPECT_EQ(doc.at("user_ini_file"), world.user_ini());
    EXPECT_EQ(doc.at("version"), vorn_version());
    const json& counts = doc.at("counts");
    tool_test::expect_members(counts, R"({"qspi_devices": 42, "built_in": 42, "custom": 0,
        "vendor_templates": 5, "user_templates": 0})");
    EXPECT_TRUE(counts.at("sdmmc_devices").is_null());
}

TEST(ToolInfo, CustomDirectoryFromTheUserIni) {
    TOOL_WORLD world;
    const std::string stored = world.root() + "elsewhere/";
    world.write(world.user_ini(), "vorn_custom_db_dir = " + stored + "\n");
    RESULT r = world.run({"info", "--json"}, false);
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.json().at("custom_dir"), stored);
    EXPECT_EQ(r.json().at("custom_dir_source"), "user-ini");
}

TEST(ToolInfo, ReadingNeverWritesTheUserIni) {
    TOOL_WORLD world;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"list"}, {"info"}, {"show", SHIPPED}, {"templates"}}) {
        EXPECT_TRUE(exits(world.run(args, false), 0));
    }
    EXPECT_FALSE(tool_test::fs::exists(world.user_ini()));
}

TEST(ToolInfo, SwitchFileTurnsSdmmcOn) {
    TOOL_WORLD world;
    world.write(world.switch_ini(), "pgm_enable_sdmmc = on\n");
    RESULT r = world.run({"info", "--json"});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.json().at("sdmmc"), true);
    EXPECT_EQ(r.json().at("counts").at("sdmmc_devices"), 16);
}

// ---- messages and traces ------------------------------------------------------------------

TEST(ToolMessages, LoadWarningsGoToStderrOrIntoJson) {
    TOOL_WORLD world;
    // A user file the loader rejects: a die count of 0.
    std::string text = vorn_test::read_test_file("tool/second_device.xml");
    const std::string good = "<TOTAL_DEVICE_DIE>1</TOTAL_DEVICE_DIE>";
    text.replace(text.find(good), good.size(), "<TOTAL_DEVICE_DIE>0</TOTAL_DEVICE_DIE>");
    world.write(world.custom() + "pgm_flash_OTHERDEV.xml", text);

    EXPECT_TRUE(exits(world.run({"list"}), 0, "Warning (20479): Total device die '0' is invalid."));
    RESULT as_json = world.run({"list", "--json"});
    EXPECT_EQ(as_json.status, 0) << as_json;
    EXPECT_EQ(as_json.err.find("Warning"), std::string::npos) << as_json;
    const json messages = as_json.json().at("messages");
    ASSERT_EQ(messages.size(), 1u) << as_json;
    EXPECT_EQ(messages[0].at("id"), 20479);
    EXPECT_EQ(messages[0].at("severity"), "warning");
    EXPECT_EQ(messages[0].at("name"), "VORN_INVALID_TOTAL_DEVICE_DIE");
}

TEST(ToolMessages, VerboseShowsTheLibrarysTraces) {
    TOOL_WORLD world;
    world.write(world.custom() + "pgm_flash_OTHERDEV.xml",
                vorn_test::read_test_file("tool/second_device.xml"));
    RESULT quiet = world.run({"list"});
    EXPECT_EQ(quiet.err.find("Debug"), std::string::npos) << quiet;
    RESULT verbose = world.run({"--verbose", "list"});
    EXPECT_EQ(verbose.status, 0) << verbose;
    EXPECT_NE(verbose.err.find("Debug (VORN:2): Parsing XML file in custom directory: " +
                               world.custom() + "pgm_flash_OTHERDEV.xml"),
              std::string::npos)
        << verbose;
}

}  // namespace
