// Inputs the fuzz targets found, kept so that what broke once stays fixed.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <vector>

#include "test_reliability_support.h"
#include "vorn.h"
#include "vorn_test_support.h"

using namespace reliability_test;

namespace {

// Bytes that are not UTF-8 end up, through the XML parser's own reason, in the problem texts.
const std::string NOT_UTF8_TAG("<\xff\xff\xff\xff", 5);
const std::string NOT_UTF8_IN_A_DEVICE =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QSPI_FLASH version=\"1\">\n  <FLASH>\n"
    "    <DEVICE_INFO>\n      <\xe9\xe9\xe9NAME>x</NAME>\n    </DEVICE_INFO>\n  </FLASH>\n"
    "</QSPI_FLASH>\n";

class FuzzRegression : public ::testing::Test, protected SMALL_DATABASE {
  protected:
    RUN check_with_tool(const std::string& file, bool json) {
        std::vector<std::string> args = {"--programmer-dir", programmer.path(), "--custom-dir",
                                         custom.path(),      "check",           file};
        if (json) args.insert(args.begin() + 4, "--json");
        return run_tool(args,
                        {"VORN_INI=" + scratch.path() + "vorn.ini",
                         "VORN_USER_INI=" + scratch.path() + "user.ini",
                         "XDG_CONFIG_HOME=" + scratch.path(), "HOME=" + scratch.path()},
                        scratch.path());
    }

    vorn_test::TempDir inputs;
    vorn_test::TempDir scratch;
};

TEST_F(FuzzRegression, TheLibrarySkipsUserFilesThatAreNotUtf8) {
    for (const std::string& text : {NOT_UTF8_TAG, NOT_UTF8_IN_A_DEVICE}) {
        custom.write("pgm_flash_bad.xml", text);
        vorn_test::MessageCapture capture;
        std::unique_ptr<VORN_QSPI_MGR> mgr;
        ASSERT_NO_THROW(mgr = std::make_unique<VORN_QSPI_MGR>());
        EXPECT_TRUE(mgr->get_custom_dir_map().empty());
        bool skipped = false;
        for (const std::string& trace : capture.traces())
            skipped = skipped || trace.find("Skip pgm_flash_bad.xml due to parsing error") == 0;
        EXPECT_TRUE(skipped);
    }
}

TEST_F(FuzzRegression, ToolReportsFilesThatAreNotUtf8AsProblemsInTextAndJson) {
    if (tool_path().empty()) GTEST_SKIP() << "no vorn tool in this build";
    const std::vector<std::string> texts = {NOT_UTF8_TAG, NOT_UTF8_IN_A_DEVICE};
    for (size_t i = 0; i < texts.size(); ++i) {
        SCOPED_TRACE("input " + std::to_string(i));
        const std::string file = inputs.file("pgm_flash_bad" + std::to_string(i) + ".xml");
        inputs.write("pgm_flash_bad" + std::to_string(i) + ".xml", texts[i]);

        RUN text = check_with_tool(file, false);
        EXPECT_EQ(text.status, 1) << text.err;
        EXPECT_NE(text.out.find("problem"), std::string::npos) << text.out;

        // Found by the `vorn check` target: the JSON writer threw on the parser's reason,
        // which quotes the offending bytes, and the tool died of the uncaught exception.
        RUN json = check_with_tool(file, true);
        EXPECT_EQ(json.status, 1) << json.err;
        nlohmann::json doc;
        ASSERT_NO_THROW(doc = nlohmann::json::parse(json.out)) << json.out << json.err;
        EXPECT_EQ(doc.value("status", -1), 1);
        EXPECT_GT(doc.value("problems", 0), 0) << json.out;
    }
}

}  // namespace
