// The library's message catalogue, its registration with the host, the builders and traces.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
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

struct BUILDER {
    MSG_ID id;
    std::function<MSG_BASE*()> build;
};

// Every builder, called with "A" (and "B") or -7.
std::vector<BUILDER> all_builders() {
    using namespace MSG_VORN;
    return {
        {20473, [] { return W::INVALID_DEVICE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); }},
        {20474, [] { return W::INVALID_DEVICE_NAME_CONFLICT_WITH_TEMPLATE("A"); }},
        {20475, [] { return W::INVALID_DEVICE_NAME_CONFLICT_WITH_EXISTING_DEVICE("A"); }},
        {20476, [] { return W::INVALID_IO_VOLTAGE("A"); }},
        {20535, [] { return W::INCOMPATIBLE_IO_VOLTAGE("A"); }},
        {20477, [] { return W::INVALID_DEVICE_ID_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); }},
        {20478, [] { return W::INVALID_DEVICE_DENSITY("A"); }},
        {20479, [] { return W::INVALID_TOTAL_DEVICE_DIE(-7); }},
        {20543, [] { return W::INVALID_DEVICE_DUMMY_CLOCK_CYCLE(-7); }},
        {20481, [] { return W::INVALID_PROGRAMMING_FLOW_TEMPLATE("A"); }},
        {20482, [] { return E::FOUND_DUPLICATED_FLASH_IN_DB("A", "B"); }},
        {20510, [] { return E::FAILED_TO_PARSE_USER_XML("A", "B"); }},
        {20485, [] { return W::INVALID_ACTION_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); }},
        {20486, [] { return W::INVALID_ACTION_COMMAND_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); }},
        {20494, [] { return W::INVALID_ACTION_DATA_MASK_WITH_SPECIAL_CHAR("A"); }},
        {20495, [] { return W::INVALID_ACTION_EXPECTED_DATA_WITH_SPECIAL_CHAR("A"); }},
        {20496, [] { return W::INVALID_ACTION_DATA_WITH_SPECIAL_CHAR("A"); }},
        {20497,
         [] { return W::INVALID_ACTION_DATA_LENGTH_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); }},
        {20498,
         [] { return W::INVALID_ACTION_ATTEMPT_COUNT_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); }},
        {20499, [] { return W::INVALID_ACTION_ERASE_SIZE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); }},
        {20500, [] { return W::INVALID_ACTION_DELAY_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); }},
        {20501, [] { return W::INVALID_ACTION_PAGE_SIZE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); }},
        {20502, [] { return W::INVALID_ACTION_ADDRESS_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); }},
        {20503, [] { return W::INVALID_ACTION_ADDR_MODE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); }},
        {20504,
         [] { return W::INVALID_ACTION_DUMMY_CLOCK_CYCLE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); }},
        {20505, [] { return W::INVALID_ACTION_BUS_WIDTH("A"); }},
        {20507, [] { return W::INVALID_ACTION_CUSTOM_DIRECTION("A"); }},
        {20509, [] { return W::INVALID_ACTION_CUSTOM_DESCRIPTION("A"); }},
        {20560, [] { return W::FAILED_TO_UPDATE_DB("A"); }},
        {20673, [] { return W::INVALID_TEMPLATE_NAME_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("A"); }},
        {20674, [] { return W::INVALID_TEMPLATE_NAME_CONFLICT_WITH_RESERVED_TEMPLATE("A"); }},
        {20675, [] { return W::INVALID_TEMPLATE_NAME_CONFLICT_WITH_EXISTING_DEVICE("A"); }},
        {20676, [] { return W::INVALID_TEMPLATE_NAME_CONFLICT_WITH_TEMPLATE_DATABASE("A"); }},
    };
}

// The catalogue format with the builder arguments filled in and the name tail removed.
std::string expected_text(const VORN_MSG_INFO& info) {
    std::string text = info.format;
    text.erase(text.rfind('/'));
    for (auto [placeholder, value] :
         {std::pair<const char*, const char*>{"%1!s!", "A"}, {"%2!s!", "B"}, {"%1!d!", "-7"}}) {
        size_t at = text.find(placeholder);
        if (at != std::string::npos) text.replace(at, std::strlen(placeholder), value);
    }
    return text;
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

TEST(MsgBuilders, EachBuilderFillsItsOwnCatalogueRow) {
    vorn_test::MessageCapture capture;
    std::vector<BUILDER> builders = all_builders();
    ASSERT_EQ(builders.size(), k_registration_order.size());
    for (const BUILDER& builder : builders) {
        const VORN_MSG_INFO* info = vorn_msg_find(builder.id);
        ASSERT_NE(info, nullptr) << builder.id;
        SCOPED_TRACE(info->name);
        std::unique_ptr<MSG_BASE> msg(builder.build());
        ASSERT_NE(msg, nullptr);
        EXPECT_EQ(msg->get_id(), builder.id);
        EXPECT_EQ(msg->get_severity(), info->severity);
        EXPECT_EQ(msg->get_text(), expected_text(*info));
        EXPECT_EQ(msg->get_name(), std::string("VORN_") + info->name);
        EXPECT_EQ(msg->get_module(), "VORN");
        if (auto* warning = dynamic_cast<MSG_W*>(msg.get())) {
            EXPECT_EQ(warning->get_warning_flag(), 1);
        }
        capture.clear();
        msg->post();
        ASSERT_EQ(capture.messages().size(), 1u);
        EXPECT_EQ(capture.messages()[0].id, builder.id);
        EXPECT_EQ(capture.messages()[0].text, msg->get_text());
    }
}

// The arguments go in unchanged, the device name before the directory.
TEST(MsgBuilders, TextsReadAsWritten) {
    using namespace MSG_VORN;
    const std::pair<std::function<MSG_BASE*()>, const char*> cases[] = {
        {[] { return W::INVALID_TOTAL_DEVICE_DIE(-7); }, "Total device die '-7' is invalid."},
        {[] { return W::INVALID_TEMPLATE_NAME_CONFLICT_WITH_TEMPLATE_DATABASE("T1"); },
         "Template name 'T1' is invalid as it already exist in the template database."},
        {[] { return W::FAILED_TO_UPDATE_DB("custom"); },
         "Failed to update the device database in the custom directory."},
        {[] { return W::INVALID_ACTION_COMMAND_WITH_EMPTY_STRING_OR_SPECIAL_CHAR("0x1G"); },
         "Action command '0x1G' is invalid. It either contains an empty string or special "
         "characters, or it is not in the list of byte formats."},
        {[] { return W::INVALID_DEVICE_DENSITY("3Mb %1!s! 'x'"); },
         "Device density '3Mb %1!s! 'x'' is invalid."},
        {[] { return E::FOUND_DUPLICATED_FLASH_IN_DB("MT25QU01G", "custom"); },
         "Found duplicate flash device names 'MT25QU01G' in the custom directory."},
    };
    for (const auto& [build, text] : cases) {
        std::unique_ptr<MSG_BASE> msg(build());
        EXPECT_EQ(msg->get_text(), text);
        EXPECT_EQ(dynamic_cast<MSG_W_NULL*>(msg.get()), nullptr) << text;
    }
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
