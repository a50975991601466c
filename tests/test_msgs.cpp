// The library's message catalogue, its registration with the host, the builders and traces.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vorn_msgs.h"
#include "vorn_test_support.h"

namespace {

// Leaves the process-wide suppression list as it found it.
class SuppressionGuard {
  public:
    ~SuppressionGuard() { MSG_INDEX::get_default_index()->clear_suppressed(); }
    void suppress(MSG_ID id) { MSG_INDEX::get_default_index()->set_suppressed(id, true); }
};

struct BUILT_TEXT {
    MSG_ID id;
    const char* name;
    std::function<MSG_BASE*()> build;
    const char* text;  // with the arguments filled in below
};

// Every builder, with the sentence it must produce for the arguments "A" (and "B"), -7 for the
// integer ones. Written out independently of the library's table.
std::vector<BUILT_TEXT> all_builders() {
    using namespace MSG_VORN;
    return {
        {20473, "INVALID_DEVICE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR",
         [] { return W::INVALID_DEVICE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); },
         "Device name 'A' is invalid as it contains either an empty string or special "
         "characters."},
        {20474, "INVALID_DEVICE_NAME_CONFLICT_WITH_TEMPLATE",
         [] { return W::INVALID_DEVICE_NAME_CONFLICT_WITH_TEMPLATE("A"); },
         "Device name 'A' is invalid as it conflicts with the reserved name for the programming "
         "flow template."},
        {20475, "INVALID_DEVICE_NAME_CONFLICT_WITH_EXISTING_DEVICE",
         [] { return W::INVALID_DEVICE_NAME_CONFLICT_WITH_EXISTING_DEVICE("A"); },
         "Device name 'A' is invalid as it already exist in the device database."},
        {20476, "INVALID_IO_VOLTAGE", [] { return W::INVALID_IO_VOLTAGE("A"); },
         "Device I/O voltage 'A' is invalid."},
        {20535, "INCOMPATIBLE_IO_VOLTAGE", [] { return W::INCOMPATIBLE_IO_VOLTAGE("A"); },
         "Flash device I/O voltage 'A' is incompatible with the selected FPGA device family."},
        {20477, "INVALID_DEVICE_ID_WITH_EMPTY_STRING_OR_SPECIAL_CHAR",
         [] { return W::INVALID_DEVICE_ID_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); },
         "Device ID 'A' is invalid. It either contains an empty string or special characters, or "
         "it is not in the list of byte formats."},
        {20478, "INVALID_DEVICE_DENSITY", [] { return W::INVALID_DEVICE_DENSITY("A"); },
         "Device density 'A' is invalid."},
        {20479, "INVALID_TOTAL_DEVICE_DIE", [] { return W::INVALID_TOTAL_DEVICE_DIE(-7); },
         "Total device die '-7' is invalid."},
        {20543, "INVALID_DEVICE_DUMMY_CLOCK_CYCLE",
         [] { return W::INVALID_DEVICE_DUMMY_CLOCK_CYCLE(-7); },
         "Device dummy clock cycle '-7' is invalid."},
        {20481, "INVALID_PROGRAMMING_FLOW_TEMPLATE",
         [] { return W::INVALID_PROGRAMMING_FLOW_TEMPLATE("A"); },
         "Programming flow template 'A' is invalid."},
        {20482, "FOUND_DUPLICATED_FLASH_IN_DB",
         [] { return E::FOUND_DUPLICATED_FLASH_IN_DB("A", "B"); },
         "Found duplicate flash device names 'A' in the B directory."},
        {20510, "FAILED_TO_PARSE_USER_XML", [] { return E::FAILED_TO_PARSE_USER_XML("A", "B"); },
         "Failed to parse the user XML file 'A' in the B directory."},
        {20485, "INVALID_ACTION_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR",
         [] { return W::INVALID_ACTION_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); },
         "Action name 'A' is invalid as it contains an empty string or special characters."},
        {20486, "INVALID_ACTION_COMMAND_WITH_EMPTY_STRING_OR_SPECIAL_CHAR",
         [] { return W::INVALID_ACTION_COMMAND_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); },
         "Action command 'A' is invalid. It either contains an empty string or special "
         "characters, or it is not in the list of byte formats."},
        {20494, "INVALID_ACTION_DATA_MASK_WITH_SPECIAL_CHAR",
         [] { return W::INVALID_ACTION_DATA_MASK_WITH_SPECIAL_CHAR("A"); },
         "Action data mask 'A' is invalid. It either contains special characters or is not in "
         "the list of byte formats."},
        {20495, "INVALID_ACTION_EXPECTED_DATA_WITH_SPECIAL_CHAR",
         [] { return W::INVALID_ACTION_EXPECTED_DATA_WITH_SPECIAL_CHAR("A"); },
         "Action expected data 'A' is invalid. It either contains special characters or is not "
         "in the list of byte formats."},
        {20496, "INVALID_ACTION_DATA_WITH_SPECIAL_CHAR",
         [] { return W::INVALID_ACTION_DATA_WITH_SPECIAL_CHAR("A"); },
         "Action data 'A' is invalid. It either contains special characters or is not in the "
         "list of byte formats."},
        {20497, "INVALID_ACTION_DATA_LENGTH_WITH_EMPTY_STRING_OR_SPECIAL_CHAR",
         [] { return W::INVALID_ACTION_DATA_LENGTH_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); },
         "Action data length 'A' is invalid. It either contains an empty string or special "
         "characters, or has a value of 0."},
        {20498, "INVALID_ACTION_ATTEMPT_COUNT_WITH_EMPTY_STRING_OR_SPECIAL_CHAR",
         [] { return W::INVALID_ACTION_ATTEMPT_COUNT_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); },
         "Action attempt count 'A' is invalid. It either contains an empty string or special "
         "characters, or has a value of 0."},
        {20499, "INVALID_ACTION_ERASE_SIZE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR",
         [] { return W::INVALID_ACTION_ERASE_SIZE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); },
         "Action erase size 'A' is invalid. It either contains an empty string or special "
         "characters, or has a value of 0."},
        {20500, "INVALID_ACTION_DELAY_WITH_EMPTY_STRING_OR_SPECIAL_CHAR",
         [] { return W::INVALID_ACTION_DELAY_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); },
         "Action delay 'A' is invalid. It contains either an empty string or special "
         "characters."},
        {20501, "INVALID_ACTION_PAGE_SIZE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR",
         [] { return W::INVALID_ACTION_PAGE_SIZE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); },
         "Action page size 'A' is invalid. It either contains an empty string or special "
         "characters, or has a value other than 256."},
        {20502, "INVALID_ACTION_ADDRESS_WITH_EMPTY_STRING_OR_SPECIAL_CHAR",
         [] { return W::INVALID_ACTION_ADDRESS_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); },
         "Action address 'A' is invalid. It contains either an empty string or special "
         "characters."},
        {20503, "INVALID_ACTION_ADDR_MODE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR",
         [] { return W::INVALID_ACTION_ADDR_MODE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); },
         "Action addressing mode 'A' is invalid. It either contains an empty string or special "
         "characters, or has a value of 0."},
        {20504, "INVALID_ACTION_DUMMY_CLOCK_CYCLE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR",
         [] { return W::INVALID_ACTION_DUMMY_CLOCK_CYCLE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); },
         "Action dummy clock cycle 'A' is invalid. It contains either an empty string or special "
         "characters."},
        {20505, "INVALID_ACTION_BUS_WIDTH", [] { return W::INVALID_ACTION_BUS_WIDTH("A"); },
         "Action bus width 'A' is invalid."},
        {20507, "INVALID_ACTION_CUSTOM_DIRECTION",
         [] { return W::INVALID_ACTION_CUSTOM_DIRECTION("A"); },
         "Action custom direction 'A' is invalid."},
        {20509, "INVALID_ACTION_CUSTOM_DESCRIPTION",
         [] { return W::INVALID_ACTION_CUSTOM_DESCRIPTION("A"); },
         "Action custom description 'A' is invalid due to an empty string."},
        {20560, "FAILED_TO_UPDATE_DB", [] { return W::FAILED_TO_UPDATE_DB("A"); },
         "Failed to update the device database in the A directory."},
        {20673, "INVALID_TEMPLATE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR",
         [] { return W::INVALID_TEMPLATE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); },
         "Template name 'A' is invalid as it contains either an empty string or special "
         "characters."},
        {20674, "INVALID_TEMPLATE_NAME_CONFLICT_WITH_RESERVED_TEMPLATE",
         [] { return W::INVALID_TEMPLATE_NAME_CONFLICT_WITH_RESERVED_TEMPLATE("A"); },
         "Template name 'A' is invalid as it conflicts with the reserved name for the programming "
         "flow template."},
        {20675, "INVALID_TEMPLATE_NAME_CONFLICT_WITH_EXISTING_DEVICE",
         [] { return W::INVALID_TEMPLATE_NAME_CONFLICT_WITH_EXISTING_DEVICE("A"); },
         "Template name 'A' is invalid as it conflicts with existing device name in the device "
         "database."},
        {20676, "INVALID_TEMPLATE_NAME_CONFLICT_WITH_TEMPLATE_DATABASE",
         [] { return W::INVALID_TEMPLATE_NAME_CONFLICT_WITH_TEMPLATE_DATABASE("A"); },
         "Template name 'A' is invalid as it already exist in the template database."},
    };
}

const std::vector<MSG_ID> k_registration_order = {
    20473, 20474, 20475, 20476, 20535, 20477, 20478, 20479, 20543, 20481, 20482,
    20510, 20485, 20486, 20494, 20495, 20496, 20497, 20498, 20499, 20500, 20501,
    20502, 20503, 20504, 20505, 20507, 20509, 20560, 20673, 20674, 20675, 20676};

bool is_error_id(MSG_ID id) { return id == 20482 || id == 20510; }

}  // namespace

// ---- catalogue and registration -------------------------------------------------------------

TEST(MsgCatalogue, HoldsTheMessagesInRegistrationOrder) {
    size_t count = 0;
    const VORN_MSG_INFO* rows = vorn_msg_catalogue(&count);
    ASSERT_NE(rows, nullptr);
    ASSERT_EQ(count, k_registration_order.size());
    for (size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(rows[i].name);
        EXPECT_EQ(rows[i].id, k_registration_order[i]);
        EXPECT_EQ(rows[i].severity, is_error_id(rows[i].id) ? 'E' : 'W');
        EXPECT_EQ(vorn_msg_find(rows[i].id), &rows[i]);
    }
    EXPECT_EQ(vorn_msg_catalogue(nullptr), rows);
}

TEST(MsgCatalogue, FormatsEndWithSeverityAndPrefixedName) {
    size_t count = 0;
    const VORN_MSG_INFO* rows = vorn_msg_catalogue(&count);
    for (size_t i = 0; i < count; ++i) {
        std::string tail = std::string("/") + rows[i].severity + "VORN_" + rows[i].name;
        std::string format = rows[i].format;
        ASSERT_GT(format.size(), tail.size());
        EXPECT_EQ(format.substr(format.size() - tail.size()), tail) << format;
        // The tail is the only slash-letter sequence: the host splits on the last slash.
        EXPECT_EQ(format.rfind('/'), format.size() - tail.size()) << format;
    }
    EXPECT_STREQ(vorn_msg_find(20478)->format,
                 "Device density '%1!s!' is invalid./WVORN_INVALID_DEVICE_DENSITY");
    EXPECT_STREQ(vorn_msg_find(20482)->format,
                 "Found duplicate flash device names '%1!s!' in the %2!s! "
                 "directory./EVORN_FOUND_DUPLICATED_FLASH_IN_DB");
    EXPECT_STREQ(vorn_msg_find(20479)->format,
                 "Total device die '%1!d!' is invalid./WVORN_INVALID_TOTAL_DEVICE_DIE");
}

TEST(MsgCatalogue, UnknownIdentifierIsNotFound) {
    EXPECT_EQ(vorn_msg_find(0), nullptr);
    EXPECT_EQ(vorn_msg_find(20480), nullptr);  // a gap in the numbering
    EXPECT_EQ(vorn_msg_find(20677), nullptr);
}

TEST(MsgRegistration, EveryIdentifierIsKnownToTheHostAtLoad) {
    for (MSG_ID id : k_registration_order) {
        SCOPED_TRACE(id);
        EXPECT_TRUE(MSG_ID_REGISTRAR::is_registered(id));
        // Post type 0 exactly at the two errors, 2 for every warning.
        EXPECT_EQ(MSG_ID_REGISTRAR::get_post_type(id),
                  is_error_id(id) ? MSG_POST_TYPE_ERROR : MSG_POST_TYPE_WARNING);
    }
    EXPECT_FALSE(MSG_ID_REGISTRAR::is_registered(20480));
    EXPECT_FALSE(MSG_ID_REGISTRAR::is_registered(20484));
}

TEST(MsgRegistration, EverySourceRegistersItsMemoryBookkeeping) {
    // The message, action, operation and three record sources at least.
    EXPECT_GE(MEM_INITIALIZER::module_count("VORN"), 6);
}

// ---- builders -------------------------------------------------------------------------------

TEST(MsgBuilders, EachBuilderFillsItsOwnMessage) {
    vorn_test::MessageCapture capture;
    for (const BUILT_TEXT& expected : all_builders()) {
        SCOPED_TRACE(expected.name);
        std::unique_ptr<MSG_BASE> msg(expected.build());
        ASSERT_NE(msg, nullptr);
        EXPECT_EQ(msg->get_id(), expected.id);
        EXPECT_EQ(msg->get_severity(), is_error_id(expected.id) ? 'E' : 'W');
        EXPECT_EQ(msg->get_text(), expected.text);
        EXPECT_EQ(msg->get_name(), std::string("VORN_") + expected.name);
        EXPECT_EQ(msg->get_module(), "VORN");
        if (auto* warning = dynamic_cast<MSG_W*>(msg.get())) {
            EXPECT_EQ(warning->get_warning_flag(), 1);
        }
        capture.clear();
        msg->post();
        ASSERT_EQ(capture.messages().size(), 1u);
        EXPECT_EQ(capture.messages()[0].id, expected.id);
        EXPECT_EQ(capture.messages()[0].text, expected.text);
    }
}

TEST(MsgBuilders, WarningCarriesTheArgumentUnchanged) {
    std::unique_ptr<MSG_W> msg(MSG_VORN::W::INVALID_DEVICE_DENSITY("3Mb %1!s! 'x'"));
    EXPECT_EQ(msg->get_id(), 20478u);
    EXPECT_EQ(msg->get_text(), "Device density '3Mb %1!s! 'x'' is invalid.");
    EXPECT_EQ(dynamic_cast<MSG_W_NULL*>(msg.get()), nullptr);
}

TEST(MsgBuilders, ErrorPutsNameFirstAndDirectorySecond) {
    std::unique_ptr<MSG_E> msg(MSG_VORN::E::FOUND_DUPLICATED_FLASH_IN_DB("MT25QU01G", "custom"));
    EXPECT_EQ(msg->get_id(), 20482u);
    EXPECT_EQ(msg->get_text(),
              "Found duplicate flash device names 'MT25QU01G' in the custom "
              "directory.");
}

TEST(MsgBuilders, SuppressedWarningIsANullWarningThatShowsNothing) {
    SuppressionGuard guard;
    guard.suppress(20473);
    vorn_test::MessageCapture capture;

    std::unique_ptr<MSG_W> msg(
        MSG_VORN::W::INVALID_DEVICE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("bad name!"));
    ASSERT_NE(msg, nullptr);
    EXPECT_NE(dynamic_cast<MSG_W_NULL*>(msg.get()), nullptr);
    EXPECT_FALSE(msg->is_filled());
    EXPECT_TRUE(msg->get_text().empty());
    msg->post();
    EXPECT_TRUE(capture.records().empty());

    // Other warnings are not affected.
    std::unique_ptr<MSG_W> other(MSG_VORN::W::INVALID_IO_VOLTAGE("5V"));
    EXPECT_EQ(dynamic_cast<MSG_W_NULL*>(other.get()), nullptr);
    other->post();
    EXPECT_EQ(capture.message_ids(), std::vector<unsigned>{20476});
}

TEST(MsgBuilders, SuppressionIsAskedAtEveryBuild) {
    SuppressionGuard guard;
    guard.suppress(20479);
    std::unique_ptr<MSG_W> suppressed(MSG_VORN::W::INVALID_TOTAL_DEVICE_DIE(3));
    EXPECT_NE(dynamic_cast<MSG_W_NULL*>(suppressed.get()), nullptr);

    MSG_INDEX::get_default_index()->set_suppressed(20479, false);
    std::unique_ptr<MSG_W> shown(MSG_VORN::W::INVALID_TOTAL_DEVICE_DIE(3));
    EXPECT_EQ(dynamic_cast<MSG_W_NULL*>(shown.get()), nullptr);
    EXPECT_EQ(shown->get_text(), "Total device die '3' is invalid.");
}

TEST(MsgBuilders, ErrorsIgnoreSuppression) {
    SuppressionGuard guard;
    guard.suppress(20510);
    vorn_test::MessageCapture capture;
    std::unique_ptr<MSG_E> msg(MSG_VORN::E::FAILED_TO_PARSE_USER_XML("pgm_flash_x.xml", "Zentro"));
    msg->post();
    EXPECT_EQ(capture.message_ids(), std::vector<unsigned>{20510});
}

// ---- debug output ---------------------------------------------------------------------------

TEST(MsgDebug, DebugMessageIsFormattedWithModuleAndLevel) {
    std::unique_ptr<MSG_D> msg(MSG_VORN::DEBUG_MSG(3, "loaded %d devices from %s", 12, "xml/"));
    EXPECT_EQ(msg->get_text(), "loaded 12 devices from xml/");
    EXPECT_EQ(msg->get_module(), "VORN");
    EXPECT_EQ(msg->get_level(), 3);

    std::unique_ptr<MSG_D> plain(MSG_VORN::DEBUG_MSG("%s=%u", "count", 7u));
    EXPECT_EQ(plain->get_text(), "count=7");
    EXPECT_EQ(plain->get_level(), 2);

    vorn_test::MessageCapture capture;
    plain->post();
    ASSERT_EQ(capture.records().size(), 1u);
    EXPECT_EQ(capture.records()[0].severity, 'D');
    EXPECT_EQ(capture.records()[0].module, "VORN");
    EXPECT_EQ(capture.records()[0].level, 2);
}

TEST(MsgDebug, DebugMessageKeepsPercentSignsOfItsArguments) {
    // The arguments are formatted once; a "%" inside one must not be read as a directive.
    std::unique_ptr<MSG_D> msg(MSG_VORN::DEBUG_MSG("file %s", "100%d.xml"));
    EXPECT_EQ(msg->get_text(), "file 100%d.xml");
}

TEST(MsgDebug, TraceGoesToTheHostUnderTheModuleName) {
    vorn_test::MessageCapture capture;
    int sent = msg_vdebug_impl(2, "Skipping %s: %d errors", "pgm_flash_a.xml", 2);
    ASSERT_EQ(capture.records().size(), 1u);
    const MSG_RECORD& record = capture.records()[0];
    EXPECT_EQ(record.severity, 'D');
    EXPECT_EQ(record.module, "VORN");
    EXPECT_EQ(record.level, 2);
    EXPECT_EQ(record.text, "Skipping pgm_flash_a.xml: 2 errors");
    EXPECT_EQ(sent, static_cast<int>(record.text.size()));
    EXPECT_TRUE(capture.has_trace("Skipping pgm_flash_a.xml: 2 errors"));
}
