// Host messages: placeholder filling, the sink, suppression, registration, traces, internal
// errors.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "vorn_test_support.h"

namespace {

int trace(const char* module, int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = msg_local_vdebug(module, level, format, args);
    va_end(args);
    return n;
}

class ScopedDebugEnv {
  public:
    explicit ScopedDebugEnv(const char* value) {
        const char* old = std::getenv("VORN_DEBUG");
        m_had = old != nullptr;
        if (m_had) m_old = old;
        if (value != nullptr)
            setenv("VORN_DEBUG", value, 1);
        else
            unsetenv("VORN_DEBUG");
    }
    ~ScopedDebugEnv() {
        if (m_had)
            setenv("VORN_DEBUG", m_old.c_str(), 1);
        else
            unsetenv("VORN_DEBUG");
    }

  private:
    bool m_had = false;
    std::string m_old;
};

TEST(HostMsgFill, FillsStringAndIntPlaceholdersAndCutsTheTail) {
    MSG_W w(nullptr);
    w.fill_args("Device density '%1!s!' is invalid./WVORN_INVALID_DEVICE_DENSITY", "7Mb");
    EXPECT_TRUE(w.is_filled());
    EXPECT_EQ(w.get_text(), "Device density '7Mb' is invalid.");
    EXPECT_EQ(w.get_name(), "VORN_INVALID_DEVICE_DENSITY");
    EXPECT_EQ(w.get_module(), "VORN");

    MSG_W d(nullptr);
    d.fill_args("Total device die '%1!d!' is invalid./WVORN_INVALID_TOTAL_DEVICE_DIE", -3);
    EXPECT_EQ(d.get_text(), "Total device die '-3' is invalid.");
}

TEST(HostMsgFill, ReadsArgumentsInPlaceholderNumberOrder) {
    MSG_E e(nullptr);
    // Text order 2, 1, 2: the arguments are still taken as 1 then 2.
    e.fill_args("%2!s! in '%1!s!' (%2!s!)/EVORN_X", "name", "dir");
    EXPECT_EQ(e.get_text(), "dir in 'name' (dir)");

    MSG_E mixed(nullptr);
    mixed.fill_args("%1!s!=%2!d!/EABC_Y", "count", 42);
    EXPECT_EQ(mixed.get_text(), "count=42");
    EXPECT_EQ(mixed.get_module(), "ABC");
}

TEST(HostMsgFill, LeavesUnknownNotationAndPlainSlashesAlone) {
    MSG_W w(nullptr);
    w.fill_args("100% of a/b and %1 and %1!x! and %0!s!");
    EXPECT_EQ(w.get_text(), "100% of a/b and %1 and %1!x! and %0!s!");
    EXPECT_EQ(w.get_name(), "");

    // A tail with characters outside a name is text.
    MSG_W t(nullptr);
    t.fill_args("see /Wrong path.");
    EXPECT_EQ(t.get_text(), "see /Wrong path.");
}

TEST(HostMsgFill, GapInNumbersStopsReadingAndNullStringIsShown) {
    MSG_W gap(nullptr);
    gap.fill_args("a %2!s! b/WVORN_GAP", "unused");
    EXPECT_EQ(gap.get_text(), "a %2!s! b");

    MSG_W null_arg(nullptr);
    null_arg.fill_args("'%1!s!'/WVORN_N", static_cast<const char*>(nullptr));
    EXPECT_EQ(null_arg.get_text(), "'(null)'");
}

TEST(HostMsgPost, RecordReachesSinkOnce) {
    vorn_test::MessageCapture capture;
    MSG_E e(nullptr);
    e.fill_args("Found '%1!s!' in %2!s!./EVORN_FOUND_DUPLICATED_FLASH_IN_DB", "N25Q", "Zentro");
    e.set_id(20482);
    e.post();
    e.post();
    ASSERT_EQ(capture.records().size(), 1u);
    const MSG_RECORD& r = capture.records()[0];
    EXPECT_EQ(r.severity, 'E');
    EXPECT_EQ(r.id, 20482u);
    EXPECT_EQ(r.name, "VORN_FOUND_DUPLICATED_FLASH_IN_DB");
    EXPECT_EQ(r.text, "Found 'N25Q' in Zentro.");
    EXPECT_EQ(r.module, "VORN");
    EXPECT_EQ(r.level, 0);
}

TEST(HostMsgPost, NullWarningFillsAndPostsNothing) {
    vorn_test::MessageCapture capture;
    std::unique_ptr<MSG_W> w(new MSG_W_NULL());
    w->fill_args("'%1!s!'/WVORN_X", "v");
    w->set_warning_flag(1);
    w->set_id(20473);
    w->post();
    EXPECT_FALSE(w->is_filled());
    EXPECT_EQ(w->get_text(), "");
    EXPECT_TRUE(capture.records().empty());
}

TEST(HostMsgSuppression, IndexDrivesTheNullWarning) {
    MSG_INDEX* index = MSG_INDEX::get_default_index();
    ASSERT_EQ(index, MSG_INDEX::get_default_index());
    index->clear_suppressed();
    EXPECT_FALSE(index->is_suppressed(20473));
    index->set_suppressed(20473, true);
    index->set_suppressed(20474, true);
    EXPECT_TRUE(index->is_suppressed(20473));
    index->set_suppressed(20474, false);
    EXPECT_FALSE(index->is_suppressed(20474));

    // A builder that honours the index produces a warning that shows nothing.
    vorn_test::MessageCapture capture;
    auto build = [&](MSG_ID id) -> MSG_W* {
        if (index->is_suppressed(id)) return new MSG_W_NULL();
        MSG_W* w = new MSG_W(nullptr);
        w->fill_args("Name '%1!s!'./WVORN_N", "x");
        w->set_id(id);
        return w;
    };
    for (MSG_ID id : {20473u, 20474u}) {
        std::unique_ptr<MSG_W> w(build(id));
        w->post();
    }
    EXPECT_EQ(capture.message_ids(), std::vector<unsigned>{20474});
    index->clear_suppressed();
    EXPECT_FALSE(index->is_suppressed(20473));
}

TEST(HostMsgSink, SetReturnsPreviousAndEmptyRestoresDefault) {
    std::vector<std::string> first;
    MSG_SINK original = msg_set_sink([&](const MSG_RECORD& r) { first.push_back(r.text); });
    ASSERT_TRUE(static_cast<bool>(original));

    std::vector<std::string> second;
    MSG_SINK previous = msg_set_sink([&](const MSG_RECORD& r) { second.push_back(r.text); });
    MSG_W w(nullptr);
    w.fill_args("two/WVORN_T");
    w.post();
    msg_set_sink(previous);
    MSG_W w1(nullptr);
    w1.fill_args("one/WVORN_T");
    w1.post();
    EXPECT_EQ(second, std::vector<std::string>{"two"});
    EXPECT_EQ(first, std::vector<std::string>{"one"});

    msg_set_sink({});
    testing::internal::CaptureStderr();
    MSG_W w2(nullptr);
    w2.fill_args("Device density '%1!s!' is invalid./WVORN_INVALID_DEVICE_DENSITY", "3Mb");
    w2.set_id(20478);
    w2.post();
    MSG_E e(nullptr);
    e.fill_args("bad/EVORN_E");
    e.set_id(20482);
    e.post();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Warning (20478): Device density '3Mb' is invalid.\nError (20482): bad\n");
    msg_set_sink(original);
}

TEST(HostMsgSink, SinkMayPostWhileHandlingARecord) {
    vorn_test::MessageCapture capture;
    MSG_SINK capture_sink;
    capture_sink = msg_set_sink([&](const MSG_RECORD& r) {
        capture_sink(r);
        if (r.severity == 'W') trace("VORN", 2, "seen %s", r.text.c_str());
    });
    MSG_W w(nullptr);
    w.fill_args("hello/WVORN_H");
    w.post();
    msg_set_sink(capture_sink);
    EXPECT_TRUE(capture.has_trace("seen hello"));
    EXPECT_EQ(capture.records().size(), 2u);
}

TEST(HostMsgTrace, FormatsPrintfStyleAndReportsLength) {
    vorn_test::MessageCapture capture;
    EXPECT_EQ(trace("VORN", 2, "Parsing %s (%d)", "a.xml", 7), 17);
    ASSERT_EQ(capture.records().size(), 1u);
    const MSG_RECORD& r = capture.records()[0];
    EXPECT_EQ(r.severity, 'D');
    EXPECT_EQ(r.id, 0u);
    EXPECT_EQ(r.name, "");
    EXPECT_EQ(r.module, "VORN");
    EXPECT_EQ(r.level, 2);
    EXPECT_EQ(r.text, "Parsing a.xml (7)");
}

TEST(HostMsgTrace, DefaultSinkPrintsOnlyUpToTheDebugLevel) {
    MSG_SINK saved = msg_set_sink({});
    {
        ScopedDebugEnv env(nullptr);
        testing::internal::CaptureStderr();
        EXPECT_EQ(trace("VORN", 2, "quiet"), 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }
    {
        ScopedDebugEnv env("2");
        testing::internal::CaptureStderr();
        EXPECT_EQ(trace("VORN", 2, "loud %d", 1), 6);
        EXPECT_EQ(trace("VORN", 3, "too deep"), 0);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("loud 1"), std::string::npos);
        EXPECT_EQ(err.find("too deep"), std::string::npos);
    }
    {
        ScopedDebugEnv env("not a number");
        testing::internal::CaptureStderr();
        EXPECT_EQ(trace("VORN", 0, "x"), 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }
    msg_set_sink(saved);
}

TEST(HostMsgTrace, DebugMessageCarriesModuleAndLevel) {
    vorn_test::MessageCapture capture;
    MSG_D d(nullptr);
    d.fill_args("%s=%d", "n", 5);
    d.set_module("VORN", 3);
    EXPECT_EQ(d.get_level(), 3);
    d.post();
    d.post();
    ASSERT_EQ(capture.traces(), std::vector<std::string>{"n=5"});
    EXPECT_EQ(capture.records()[0].level, 3);
    EXPECT_EQ(capture.records()[0].module, "VORN");
}

TEST(HostMsgRegistrar, IdsKnownForTheRegistrarsLifetime) {
    static const MSG_ID ids[] = {60001, 60002};
    static const MSG_POST_TYPE types[] = {MSG_POST_TYPE_WARNING, MSG_POST_TYPE_ERROR};
    EXPECT_FALSE(MSG_ID_REGISTRAR::is_registered(60001));
    EXPECT_EQ(MSG_ID_REGISTRAR::get_post_type(60002), MSG_POST_TYPE_INFO);
    {
        MSG_ID_REGISTRAR reg(ids, types, 2);
        EXPECT_TRUE(MSG_ID_REGISTRAR::is_registered(60001));
        EXPECT_EQ(MSG_ID_REGISTRAR::get_post_type(60001), MSG_POST_TYPE_WARNING);
        EXPECT_EQ(MSG_ID_REGISTRAR::get_post_type(60002), MSG_POST_TYPE_ERROR);
        {
            static const MSG_POST_TYPE other[] = {MSG_POST_TYPE_ERROR};
            MSG_ID_REGISTRAR again(ids, other, 1);
            EXPECT_EQ(MSG_ID_REGISTRAR::get_post_type(60001), MSG_POST_TYPE_ERROR);
        }
        // The inner registrar's end leaves the outer one's registration in place.
        EXPECT_TRUE(MSG_ID_REGISTRAR::is_registered(60001));
        EXPECT_EQ(MSG_ID_REGISTRAR::get_post_type(60001), MSG_POST_TYPE_WARNING);
    }
    EXPECT_FALSE(MSG_ID_REGISTRAR::is_registered(60001));
    EXPECT_FALSE(MSG_ID_REGISTRAR::is_registered(60002));
}

TEST(HostMsgInternalError, ReportThrowsWithConditionAndPlace) {
    try {
        MSG_INTERNAL_ERROR::report("m_mgr_list.size() > 0", "VORN", "pgm/vorn/vorn_helper", 120);
        FAIL() << "report returned";
    } catch (const VORN_INTERNAL_ERROR& e) {
        EXPECT_STREQ(e.what(), "m_mgr_list.size() > 0");
        EXPECT_EQ(e.module(), "VORN");
        EXPECT_EQ(e.file(), "pgm/vorn/vorn_helper");
        EXPECT_EQ(e.line(), 120);
    }
    EXPECT_THROW(MSG_INTERNAL_ERROR::report("x", nullptr, nullptr, 0), std::logic_error);
}

}  // namespace
