// The library's messages: every catalogue row as the host sees it, the builders' texts and
// suppression.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "vorn_msgs.h"
#include "vorn_test_support.h"

namespace {

// Each row of files/msg/catalogue.tsv (id, severity, format) is a message the host knows at
// load with that format and post type; no other identifier is known.
TEST(MsgCatalogue, EveryRowIsRegisteredWithItsFormat) {
    std::istringstream rows(vorn_test::read_test_file("msg/catalogue.tsv"));
    size_t count = 0;
    for (std::string line; std::getline(rows, line); ++count) {
        const MSG_ID id = static_cast<MSG_ID>(std::stoul(line));
        const VORN_MSG_INFO* info = vorn_msg_find(id);
        ASSERT_NE(info, nullptr) << line;
        EXPECT_EQ(std::to_string(id) + "\t" + info->severity + "\t" + info->format, line);
        EXPECT_EQ(MSG_ID_REGISTRAR::get_post_type(id),
                  line[6] == 'E' ? MSG_POST_TYPE_ERROR : MSG_POST_TYPE_WARNING);
    }
    size_t catalogued = 0;
    vorn_msg_catalogue(&catalogued);
    EXPECT_EQ(catalogued, count);
    EXPECT_FALSE(MSG_ID_REGISTRAR::is_registered(20480));
}

TEST(MsgBuilders, FillTheirArgumentsUnchangedAndHonourSuppression) {
    using namespace MSG_VORN;
    const std::pair<std::function<MSG_BASE*()>, const char*> cases[] = {
        {[] { return W::INVALID_TOTAL_DEVICE_DIE(-7); }, "Total device die '-7' is invalid."},
        {[] { return W::FAILED_TO_UPDATE_DB("custom"); },
         "Failed to update the device database in the custom directory."},
        {[] { return W::INVALID_DEVICE_DENSITY("3Mb %1!s! 'x'"); },
         "Device density '3Mb %1!s! 'x'' is invalid."},
        {[] { return E::FOUND_DUPLICATED_FLASH_IN_DB("MT25QU01G", "custom"); },
         "Found duplicate flash device names 'MT25QU01G' in the custom directory."},
    };
    MSG_INDEX* index = MSG_INDEX::get_default_index();
    // A suppressed warning shows nothing; an error cannot be suppressed.
    index->set_suppressed(20478, true);
    index->set_suppressed(20482, true);
    vorn_test::MessageCapture capture;
    for (const auto& [build, text] : cases) std::unique_ptr<MSG_BASE>(build())->post();
    index->set_suppressed(20478, false);
    for (const auto& [build, text] : cases) std::unique_ptr<MSG_BASE>(build())->post();
    index->clear_suppressed();
    std::vector<std::string> texts;
    for (const MSG_RECORD& r : capture.messages()) texts.push_back(r.text);
    EXPECT_EQ(texts, (std::vector<std::string>{cases[0].second, cases[1].second, cases[3].second,
                                               cases[0].second, cases[1].second, cases[2].second,
                                               cases[3].second}));
}

}  // namespace
