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

template <typename M>
void post(const char* text, MSG_ID id) {
    M m(nullptr);
    m.fill_args(text);
    m.set_id(id);
    m.post();
    m.post();  // a message is shown once
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

    // A gap in the numbers stops the reading of arguments.
    MSG_W gap(nullptr);
    gap.fill_args("%3!s! '%1!s!'/WVORN_GAP", static_cast<const char*>(nullptr));
    EXPECT_EQ(gap.get_text(), "%3!s! '(null)'");
    std::unique_ptr<MSG_W> null_warning(new MSG_W_NULL());
    null_warning->fill_args("'%1!s!'/WVORN_X", "v");
    EXPECT_EQ(null_warning->get_text(), "");
}

TEST(HostMsgSink, RecordsReachTheSinkOnceAndTheDefaultPrintsByDebugLevel) {
    vorn_test::MessageCapture capture;
    post<MSG_E>("Found 'N25Q'./EVORN_FOUND_DUPLICATED_FLASH_IN_DB", 20482);
    std::unique_ptr<MSG_W>(new MSG_W_NULL())->post();
    EXPECT_EQ(trace(2, "Parsing %s (%d)", "a.xml", 7), 17);
    ASSERT_EQ(capture.records().size(), 2u);
    const MSG_RECORD& r = capture.records()[0];
    EXPECT_EQ(std::string(1, r.severity) + std::to_string(r.id) + r.name + r.text + r.module,
              "E20482VORN_FOUND_DUPLICATED_FLASH_IN_DBFound 'N25Q'.VORN");
    EXPECT_EQ(r.level, 0);
    EXPECT_EQ(capture.records()[1].severity, 'D');
    EXPECT_EQ(capture.records()[1].level, 2);
    EXPECT_EQ(capture.records()[1].text, "Parsing a.xml (7)");

    MSG_SINK saved = msg_set_sink({});
    testing::internal::CaptureStderr();
    post<MSG_W>("Device density '3Mb' is invalid./WVORN_INVALID_DEVICE_DENSITY", 20478);
    post<MSG_E>("bad/EVORN_E", 20482);
    unsetenv("VORN_DEBUG");
    EXPECT_EQ(trace(0, "never"), 0);
    setenv("VORN_DEBUG", "2", 1);
    EXPECT_EQ(trace(2, "loud %d", 1), 6);
    EXPECT_EQ(trace(3, "too deep"), 0);
    setenv("VORN_DEBUG", "x", 1);
    EXPECT_EQ(trace(0, "not a number"), 0);
    setenv("VORN_DEBUG", "", 1);
    const std::string err = testing::internal::GetCapturedStderr();
    msg_set_sink(saved);
    EXPECT_EQ(
        err.rfind("Warning (20478): Device density '3Mb' is invalid.\nError (20482): bad\n", 0), 0u)
        << err;
    EXPECT_NE(err.find("loud 1\n"), std::string::npos) << err;
    for (const char* quiet : {"never", "deep", "number"})
        EXPECT_EQ(err.find(quiet), std::string::npos) << err;
}

TEST(HostMsgInternalError, ReportThrowsWithConditionAndPlace) {
    auto e = vorn_test::internal_error_of([] {
        MSG_INTERNAL_ERROR::report("m_mgr_list.size() > 0", "VORN", "pgm/vorn/vorn_helper", 120);
    });
    EXPECT_STREQ(e.what(), "m_mgr_list.size() > 0");
    EXPECT_EQ(e.module() + e.file() + std::to_string(e.line()), "VORNpgm/vorn/vorn_helper120");
}

}  // namespace
