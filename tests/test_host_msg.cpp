// Host messages: placeholder filling, the sink, traces, registration, internal errors.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "vorn_test_support.h"

namespace {

int trace(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = msg_local_vdebug("VORN", level, format, args);
    va_end(args);
    return n;
}

TEST(HostMsgFill, PlaceholdersByNumberAndTheNameTail) {
    MSG_E e(nullptr);
    // Arguments are taken in placeholder-number order, whatever the text order.
    e.fill_args("%2!s! in '%1!s!' (%2!s!) %3!d!/EABC_X9", "name", "dir", -3);
    EXPECT_EQ(e.get_text(), "dir in 'name' (dir) -3");
    EXPECT_EQ(e.get_name(), "ABC_X9");
    EXPECT_EQ(e.get_module(), "ABC");

    // Not placeholders, and a tail that is not a name, stay text.
    const char* plain = "100% of a/b, %1, %1!x!, %0!s!, %1?s? see /Wrong path.";
    MSG_W w(nullptr);
    w.fill_args(plain, "unused");
    EXPECT_EQ(w.get_text(), plain);
    EXPECT_EQ(w.get_name(), "");

    MSG_W gap(nullptr);
    // A gap in the numbers stops the reading of arguments.
    gap.fill_args("%3!s! '%1!s!'/WVORN_GAP", static_cast<const char*>(nullptr));
    EXPECT_EQ(gap.get_text(), "%3!s! '(null)'");
}

TEST(HostMsgPost, ARecordReachesTheSinkOnceAndANullWarningNever) {
    vorn_test::MessageCapture capture;
    MSG_E e(nullptr);
    e.fill_args("Found '%1!s!'./EVORN_FOUND_DUPLICATED_FLASH_IN_DB", "N25Q");
    e.set_id(20482);
    e.post();
    e.post();
    std::unique_ptr<MSG_W> null_warning(new MSG_W_NULL());
    null_warning->fill_args("'%1!s!'/WVORN_X", "v");
    null_warning->post();
    EXPECT_EQ(null_warning->get_text(), "");
    ASSERT_EQ(capture.records().size(), 1u);
    const MSG_RECORD& r = capture.records()[0];
    EXPECT_EQ(r.severity, 'E');
    EXPECT_EQ(r.id, 20482u);
    EXPECT_EQ(r.name, "VORN_FOUND_DUPLICATED_FLASH_IN_DB");
    EXPECT_EQ(r.text, "Found 'N25Q'.");
    EXPECT_EQ(r.level, 0);
}

TEST(HostMsgSink, ReplacedAndRestoredAndTheDefaultPrintsByDebugLevel) {
    std::vector<std::string> seen;
    MSG_SINK original = msg_set_sink([&](const MSG_RECORD& r) { seen.push_back(r.text); });
    MSG_W w(nullptr);
    w.fill_args("mine/WVORN_T");
    w.post();
    EXPECT_EQ(seen, std::vector<std::string>{"mine"});

    msg_set_sink({});
    const char* old = std::getenv("VORN_DEBUG");
    const std::string saved = old != nullptr ? old : "";
    testing::internal::CaptureStderr();
    MSG_W w2(nullptr);
    w2.fill_args("Device density '%1!s!' is invalid./WVORN_INVALID_DEVICE_DENSITY", "3Mb");
    w2.set_id(20478);
    w2.post();
    MSG_E e(nullptr);
    e.fill_args("bad/EVORN_E");
    e.set_id(20482);
    e.post();
    unsetenv("VORN_DEBUG");
    EXPECT_EQ(trace(0, "never"), 0);
    setenv("VORN_DEBUG", "2", 1);
    EXPECT_EQ(trace(2, "loud %d", 1), 6);
    EXPECT_EQ(trace(3, "too deep"), 0);
    setenv("VORN_DEBUG", "x", 1);
    EXPECT_EQ(trace(0, "not a number"), 0);
    setenv("VORN_DEBUG", saved.c_str(), 1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(
        err.rfind("Warning (20478): Device density '3Mb' is invalid.\nError (20482): bad\n", 0), 0u)
        << err;
    EXPECT_NE(err.find("loud 1\n"), std::string::npos) << err;
    for (const char* quiet : {"never", "deep", "number"})
        EXPECT_EQ(err.find(quiet), std::string::npos) << err;
    msg_set_sink(original);
}

TEST(HostMsgTrace, ATraceIsFormattedPrintfStyleWithItsLevel) {
    vorn_test::MessageCapture capture;
    EXPECT_EQ(trace(2, "Parsing %s (%d)", "a.xml", 7), 17);
    MSG_D d(nullptr);
    d.fill_args("%s=%d", "n", 5);
    d.set_module("VORN", 3);
    d.post();
    ASSERT_EQ(capture.traces(), (std::vector<std::string>{"Parsing a.xml (7)", "n=5"}));
    EXPECT_EQ(capture.records()[0].severity, 'D');
    EXPECT_EQ(capture.records()[0].level, 2);
    EXPECT_EQ(capture.records()[1].level, 3);
}

TEST(HostMsgRegistrar, IdsKnownForTheRegistrarsLifetime) {
    static const MSG_ID ids[] = {60001, 60002};
    static const MSG_POST_TYPE types[] = {MSG_POST_TYPE_WARNING, MSG_POST_TYPE_ERROR};
    EXPECT_FALSE(MSG_ID_REGISTRAR::is_registered(60001));
    {
        MSG_ID_REGISTRAR reg(ids, types, 2);
        EXPECT_EQ(MSG_ID_REGISTRAR::get_post_type(60002), MSG_POST_TYPE_ERROR);
        {
            static const MSG_POST_TYPE other[] = {MSG_POST_TYPE_ERROR};
            MSG_ID_REGISTRAR again(ids, other, 1);
            EXPECT_EQ(MSG_ID_REGISTRAR::get_post_type(60001), MSG_POST_TYPE_ERROR);
        }
        EXPECT_EQ(MSG_ID_REGISTRAR::get_post_type(60001), MSG_POST_TYPE_WARNING);
    }
    EXPECT_FALSE(MSG_ID_REGISTRAR::is_registered(60002));
}

TEST(HostMsgInternalError, ReportThrowsWithConditionAndPlace) {
    auto e = vorn_test::internal_error_of([] {
        MSG_INTERNAL_ERROR::report("m_mgr_list.size() > 0", "VORN", "pgm/vorn/vorn_helper", 120);
    });
    EXPECT_STREQ(e.what(), "m_mgr_list.size() > 0");
    EXPECT_EQ(e.module(), "VORN");
    EXPECT_EQ(e.file(), "pgm/vorn/vorn_helper");
    EXPECT_EQ(e.line(), 120);
}

}  // namespace
