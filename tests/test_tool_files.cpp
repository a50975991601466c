// The vorn tool on user files (check, import, export) and on a broken installation
// (internal errors).
#include <regex>
#include <set>

#include "test_tool_runner.h"

using nlohmann::json;
using tool_test::exits;
using tool_test::prints;
using tool_test::RESULT;
using tool_test::SHIPPED;
using tool_test::TOOL_WORLD;

namespace {

std::string test_file(const std::string& name) {
    return std::string(VORN_TEST_FILES_DIR) + "tool/" + name;
}

// Line (1-based) of the first occurrence of `text` in a test file.
int line_of(const std::string& name, const std::string& text) {
    const std::string content = vorn_test::read_test_file("tool/" + name);
    const size_t pos = content.find(text);
    if (pos == std::string::npos) return -1;
    return 1 + static_cast<int>(std::count(content.begin(), content.begin() + pos, '\n'));
}

// ---- check ------------------------------------------------------------------------------

TEST(ToolCheck, ThreeDifferentProblemsAreAllReported) {
    TOOL_WORLD world;
    const std::string file = test_file("three_problems.xml");
    RESULT r = world.run({"check", file});
    EXPECT_EQ(r.status, 1) << r;
    const int density_line = line_of("three_problems.xml", "<DEVICE_DENSITY>");
    const int die_line = line_of("three_problems.xml", "<TOTAL_DEVICE_DIE>");
    const int command_line = line_of("three_problems.xml", "<COMMAND>0x106</COMMAND>");
    for (const std::string& expected :
         {file + ":" + std::to_string(density_line) +
              ": Warning (20478): Device density '3Mb' is invalid.",
          file + ":" + std::to_string(die_line) +
              ": Warning (20479): Total device die '0' is invalid.",
          file + ":" + std::to_string(command_line) + ": Warning (20486): Action command '0x106'"})
        EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r;
    EXPECT_NE(r.out.find(file + ": 3 problems"), std::string::npos) << r;

    RESULT j = world.run({"check", file, "--json"});
    EXPECT_EQ(j.status, 1) << j;
    json doc = j.json();
    EXPECT_EQ(doc.at("problems"), 3);
    const json& problems = doc.at("files")[0].at("problems");
    std::set<unsigned> ids;
    for (const auto& p : problems) {
        ids.insert(p.at("id").get<unsigned>());
        EXPECT_GT(p.at("line").get<int>(), 0);
    }
    EXPECT_EQ(ids, (std::set<unsigned>{20478, 20479, 20486}));
}

TEST(ToolCheck, CleanFilePasses) {
    TOOL_WORLD world;
    RESULT r = world.run({"check", test_file("good_device.xml"), test_file("second_device.xml")});
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_NE(r.out.find("good_device.xml: ok (1 device, 1 template)"), std::string::npos) << r;
    EXPECT_NE(r.out.find("second_device.xml: ok (1 device, 0 templates)"), std::string::npos);
    EXPECT_TRUE(r.err.empty()) << r;
}

TEST(ToolCheck, SchemaErrorsCarryTheirLine) {
    TOOL_WORLD world;
    const std::string file = test_file("schema_error.xml");
    RESULT r = world.run({"check", file, "--json"});
    EXPECT_EQ(r.status, 1) << r;
    const json problems = r.json().at("files")[0].at("problems");
    ASSERT_FALSE(problems.empty()) << r;
    EXPECT_EQ(problems[0].at("line"), line_of("schema_error.xml", "DEVICE_COLOUR"));
    EXPECT_NE(problems[0].at("text").get<std::string>().find("schema"), std::string::npos);
    EXPECT_NE(problems[0].at("text").get<std::string>().find("DEVICE_COLOUR"), std::string::npos);
}

TEST(ToolCheck, Duplicates) {
    TOOL_WORLD world;
    EXPECT_TRUE(prints(world.run({"check", test_file("duplicate.xml")}), 1,
                       "Error (20482): Found duplicate flash device names 'DUPDEV'"));

    // The same file twice: every device of the second copy repeats one of the first.
    RESULT across =
        world.run({"check", test_file("good_device.xml"), test_file("good_device.xml")});
    EXPECT_EQ(across.status, 1) << across;
    EXPECT_NE(across.out.find("'GOODDEV'"), std::string::npos) << across;
    EXPECT_NE(across.out.find("user template 'GOODFLOW' is also defined at"), std::string::npos);

    // A device the custom directory holds already clashes there, not in the zentro directory.
    world.write(world.custom() + "pgm_flash_OTHERDEV.xml",
                vorn_test::read_test_file("tool/second_device.xml"));
    RESULT custom = world.run({"check", test_file("second_device.xml")});
    EXPECT_EQ(custom.status, 1) << custom;
    EXPECT_NE(custom.out.find("Error (20482)"), std::string::npos) << custom;
    EXPECT_TRUE(prints(world.run({"check", test_file("second_device.xml"), "--for", "zentro"}), 1,
                       "in use from the custom directory"));
    // A file of the database itself does not clash with its own devices.
    EXPECT_TRUE(exits(world.run({"check", world.custom() + "pgm_flash_OTHERDEV.xml"}), 0));
}

TEST(ToolCheck, BuiltInNamesOverrideOnlyFromTheCustomDirectory) {
    TOOL_WORLD world;
    RESULT shown = world.run({"show", SHIPPED, "--xml"});
    ASSERT_EQ(shown.status, 0);
    const std::string file = world.root() + "copy.xml";
    world.write(file, shown.out);
    EXPECT_TRUE(prints(world.run({"check", file, "--replace"}), 0, "replaces"));
    EXPECT_TRUE(prints(world.run({"check", file, "--for", "zentro"}), 1, "Error (20482)"));
}

TEST(ToolCheck, FilesTheLoaderCouldNotRead) {
    TOOL_WORLD world;
    EXPECT_TRUE(prints(world.run({"check", test_file("missing_command.xml")}), 1,
                       "Write Register action without COMMAND"));
    EXPECT_TRUE(prints(world.run({"check", world.zentro() + "pgm_flash_db_qspi.xml"}), 1,
                       "golden template"));
    EXPECT_TRUE(prints(world.run({"check", world.root() + "absent.xml"}), 1, "no such file"));
    world.write(world.root() + "garbage.xml", "<QSPI_FLASH version=\"1\"><FLASH>");
    EXPECT_TRUE(exits(world.run({"check", world.root() + "garbage.xml"}), 1));
    EXPECT_EQ(world.run({"check"}).status, 2);
}

TEST(ToolCheck, SdmmcFilesUseTheSdmmcRules) {
    TOOL_WORLD world;
    EXPECT_TRUE(prints(world.run({"check", test_file("sdmmc_bad_density.xml")}), 1,
                       "Warning (20478): Device density '3GB' is invalid."));
}

// ---- import -----------------------------------------------------------------------------

TEST(ToolImport, DevicesAndTemplatesAreSaved) {
    TOOL_WORLD world;
    RESULT r = world.run(
        {"import", test_file("good_device.xml"), test_file("second_device.xml"), "--json"});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.json().at("imported").size(), 3u) << r;
    EXPECT_EQ(world.files_in(world.custom()),
              (std::vector<std::string>{"pgm_flash_GOODDEV.xml", "pgm_flash_OTHERDEV.xml",
                                        "pgm_flash_template_GOODFLOW.xml"}));
    json d = world.run({"show", "GOODDEV", "--json"}).json().at("device");
    EXPECT_EQ(d.at("id"), "0x20 0xBA 0x40");
    EXPECT_EQ(d.at("source"), "custom");
    const json& custom = d.at("flows").at("sfl")[4].at("actions")[0];
    EXPECT_EQ(custom.at("properties").at("description"),
              "Power cycle the board\nbefore the next step");
    json templates = world.run({"templates", "--json"}).json().at("templates");
    EXPECT_EQ(templates.back().at("name"), "GOODFLOW");

    // The imported template gives its flows to a new device.
    EXPECT_TRUE(
        exits(world.run({"add", "FROMFLOW", "--template", "GOODFLOW", "--id", "0x20 0xBA 0x50",
                         "--density", "128Mb", "--io-voltage", "3.0V/3.3V"}),
              0));
    json from = world.run({"show", "FROMFLOW", "--json"}).json().at("device");
    EXPECT_EQ(from.at("flows"), d.at("flows"));
}

TEST(ToolImport, OneBadFileImportsNothing) {
    TOOL_WORLD world;
    RESULT r = world.run({"import", test_file("good_device.xml"), test_file("three_problems.xml")});
    EXPECT_EQ(r.status, 1) << r;
    EXPECT_NE(r.err.find("Warning (20478)"), std::string::npos) << r;
    EXPECT_NE(r.err.find("nothing was imported"), std::string::npos) << r;
    EXPECT_TRUE(world.files_in(world.custom()).empty());
    EXPECT_EQ(world.run({"import", test_file("duplicate.xml")}).status, 1);
    EXPECT_TRUE(world.files_in(world.custom()).empty());
}

TEST(ToolImport, ReplacingUserDevicesButNotBuiltInOnesInTheZentroDirectory) {
    TOOL_WORLD world;
    ASSERT_EQ(world.run({"import", test_file("second_device.xml")}).status, 0);
    EXPECT_TRUE(exits(world.run({"import", test_file("second_device.xml"), "--replace"}), 0));
    EXPECT_EQ(world.files_in(world.custom()), std::vector<std::string>{"pgm_flash_OTHERDEV.xml"});

    RESULT shown = world.run({"show", SHIPPED, "--xml"});
    const std::string copy = world.root() + "copy.xml";
    world.write(copy, shown.out);
    const std::string golden = world.read(world.zentro() + "pgm_flash_db_qspi.xml");
    RESULT zentro = world.run({"import", copy, "--to", "zentro"});
    EXPECT_EQ(zentro.status, 1) << zentro;
    EXPECT_EQ(world.read(world.zentro() + "pgm_flash_db_qspi.xml"), golden);

    EXPECT_TRUE(exits(world.run({"import", world.custom() + "pgm_flash_OTHERDEV.xml"}), 1,
                      "part of the database already"));
}

// ---- export -----------------------------------------------------------------------------

TEST(ToolExport, ExportedDeviceComesBackByImport) {
    TOOL_WORLD world;
    ASSERT_EQ(
        world
            .run({"add", "MYPART", "--template", "Winbond", "--id", "0xEF 0x40 0x17", "--density",
                  "64Mb", "--io-voltage", "3.0V/3.3V", "--save-template", "WFLOW"})
            .status,
        0);
    json before = world.run({"show", "MYPART", "--json"}).json().at("device");
    const std::string file = world.root() + "out/export.xml";
    tool_test::fs::create_directories(world.root() + "out");
    RESULT exported = world.run({"export", "MYPART", "--template", "WFLOW", "-o", file, "--json"});
    ASSERT_EQ(exported.status, 0) << exported;
    EXPECT_EQ(exported.json().at("file"), file);
    const std::string text = world.read(file);
    EXPECT_NE(text.find("<DEVICE_NAME>MYPART</DEVICE_NAME>"), std::string::npos);
    EXPECT_NE(text.find("<TEMPLATE_NAME>WFLOW</TEMPLATE_NAME>"), std::string::npos);

    ASSERT_EQ(world.run({"delete", "MYPART"}).status, 0);
    ASSERT_EQ(world.run({"template", "delete", "WFLOW"}).status, 0);
    EXPECT_TRUE(world.files_in(world.custom()).empty());
    RESULT imported = world.run({"import", file});
    ASSERT_EQ(imported.status, 0) << imported;
    json after = world.run({"show", "MYPART", "--json"}).json().at("device");
    EXPECT_EQ(after, before);
}

TEST(ToolExport, ToStandardOutput) {
    TOOL_WORLD world;
    RESULT r = world.run({"export", SHIPPED, "MT25QL256", SHIPPED});
    ASSERT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out.rfind("<?xml", 0), 0u) << r;
    size_t count = 0;
    for (size_t pos = r.out.find("<FLASH>"); pos != std::string::npos;
         pos = r.out.find("<FLASH>", pos + 1))
        ++count;
    EXPECT_EQ(count, 2u) << "a name given twice is written once";
    RESULT j = world.run({"export", SHIPPED, "--json"});
    ASSERT_EQ(j.status, 0) << j;
    EXPECT_NE(j.json().at("xml").get<std::string>().find("MT25QL128"), std::string::npos);
    EXPECT_TRUE(j.json().at("file").is_null());
}

TEST(ToolExport, Refusals) {
    TOOL_WORLD world;
    EXPECT_EQ(world.run({"export"}).status, 2);
    EXPECT_EQ(world.run({"export", "NOPE"}).status, 1);
    EXPECT_EQ(world.run({"export", "QCDV16"}).status, 1);
    EXPECT_EQ(world.run({"export", "--template", "NOFLOW"}).status, 1);
    EXPECT_TRUE(exits(world.run({"export", SHIPPED, "EMMC_32GB"}), 1, "cannot share one file"));
    EXPECT_TRUE(prints(world.run({"export", "EMMC_32GB"}), 0, "<SDMMC_FLASH"));
    EXPECT_TRUE(exits(world.run({"export", SHIPPED, "-o", world.root() + "no/such/dir/x.xml"}), 1));
}

// ---- internal errors ----------------------------------------------------------------------

TEST(ToolInternalError, MissingDatabaseIsOneLineAndABrokenGoldenTemplateAnInternalError) {
    TOOL_WORLD world;
    const std::string golden = world.zentro() + "pgm_flash_db_qspi.xml";
    const std::string shipped = world.read(golden);
    tool_test::fs::remove(golden);
    RESULT r = world.run({"list"});
    EXPECT_EQ(r.status, 3) << r;
    EXPECT_TRUE(r.out.empty()) << r;
    ASSERT_EQ(r.err_lines().size(), 1u) << r;
    EXPECT_EQ(r.err_lines()[0].rfind("vorn: no flash database in ", 0), 0u) << r;
    EXPECT_EQ(r.err.find("Internal Error"), std::string::npos) << r;

    // A golden template without one of its vendors breaks an invariant of the library.
    const size_t issi = shipped.find("<ISSI>");
    const size_t end = shipped.find("</ISSI>") + std::string("</ISSI>").size();
    ASSERT_NE(issi, std::string::npos);
    world.write(golden, shipped.substr(0, issi) + shipped.substr(end));
    const std::string condition =
        "template_list.at(0)->get_child_count(PGM_COMMON_XML_ENUM_ISSI) == 1";
    RESULT i = world.run({"list"});
    EXPECT_EQ(i.status, 3) << i;
    ASSERT_EQ(i.err_lines().size(), 1u) << i;
    const std::string start = "Internal Error: " + condition + " (pgm/vorn/vorn_qspi_mgr:";
    EXPECT_EQ(i.err_lines()[0].rfind(start, 0), 0u) << i;
    EXPECT_TRUE(std::regex_match(i.err_lines()[0].substr(start.size()), std::regex(R"([0-9]+\))")))
        << i;
    RESULT j = world.run({"info", "--json"});
    EXPECT_EQ(j.status, 3) << j;
    json doc = j.json();
    EXPECT_EQ(doc.at("status"), 3);
    EXPECT_EQ(doc.at("internal_error").at("condition"), condition);
    EXPECT_EQ(doc.at("internal_error").at("module"), "VORN");
}

TEST(ToolInternalError, BrokenGoldenTemplate) {
    TOOL_WORLD world;
    // A golden template that lost its ISSI vendor flow.
    std::string text = world.read(world.zentro() + "pgm_flash_db_qspi.xml");
    const size_t begin = text.find("<ISSI>");
    const size_t end = text.find("</ISSI>");
    ASSERT_NE(begin, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    text.erase(begin, end + 7 - begin);
    world.write(world.zentro() + "pgm_flash_db_qspi.xml", text);
    for (const char* command : {"list", "templates", "info"}) {
        RESULT r = world.run({command});
        EXPECT_EQ(r.status, 3) << command << "\n" << r;
        const auto lines = r.err_lines();
        ASSERT_EQ(lines.size(), 1u) << r;
        EXPECT_TRUE(std::regex_match(
            lines.back(), std::regex(R"(Internal Error: .+ \(pgm/vorn/[a-z_]+:[0-9]+\))")))
            << lines.back();
    }
}

}  // namespace
