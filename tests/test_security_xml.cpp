// Broken and hostile files offered to the XML layer. Each is refused with a reason by the
// layer's own limits, silently. Files that try to make it read other files or reach the network
// (entities, DTDs, XInclude, schema hints, stylesheets) open nothing else and connect nowhere,
// whether a manager loads them or the tool checks them: inotify watches the files they name and
// a listening socket the address they name.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "test_reliability_support.h"
#include "vorn.h"
#include "vorn_test_support.h"

using namespace reliability_test;
namespace fs = std::filesystem;

namespace {

const std::string QSPI_XSD = std::string(VORN_TEST_DATA_DIR) + "xsd/vorn_qspi.xsd";

// Names of the files in a folder of files/xml/, sorted.
std::vector<std::string> test_files(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(std::string(VORN_TEST_FILES_DIR) + "xml/" + folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The reason of check_xsd, and the last_error of a parse without the schema (as the golden
// template is read), or "" when accepted; with anything printed meanwhile.
std::vector<std::string> judge(const std::string& file, const std::string& xsd = QSPI_XSD) {
    std::string error, warning;
    testing::internal::CaptureStderr();
    const bool accepted = PGM_COMMON_XML::check_xsd(file, xsd, error, warning);
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> tree(
        PGM_COMMON_XML::parse_xml(PGM_COMMON_XML_FILE_VORN_QSPI, file, xsd, true, "", "", ""));
    EXPECT_EQ(accepted, error.empty()) << file;
    return {error, tree ? "" : PGM_COMMON_XML::last_error(),
            testing::internal::GetCapturedStderr()};
}

TEST(HostileFile, EachIsRefusedByCheckAndParseWithAReasonAndSilently) {
    vorn_test::TempDir dir;
    std::string deep = "<QSPI_FLASH version=\"1\">";
    for (int i = 0; i < 100000; ++i) deep += "<FLASH>";
    for (int i = 0; i < 100000; ++i) deep += "</FLASH>";
    dir.write("deep.xml", deep + "</QSPI_FLASH>");
    ASSERT_EQ(mkfifo(dir.file("pipe.xml").c_str(), 0600), 0);
    std::vector<std::string> files = {dir.file("deep.xml"), dir.file("pipe.xml"),
                                      dir.path() + "absent.xml", dir.path()};
    for (const std::string& name : test_files("hostile"))
        files.push_back(std::string(VORN_TEST_FILES_DIR) + "xml/hostile/" + name);
    for (const std::string& file : files) {
        const auto v = judge(file);
        EXPECT_NE(v[0], "") << file;
        EXPECT_NE(v[1], "") << file;
        EXPECT_EQ(v[2], "") << file << ": libxml2 printed on its own";
        // Nothing of the file an external entity names leaks into the reason.
        EXPECT_EQ(v[0].find("root:"), std::string::npos) << v[0];
    }
    const std::string hostile = std::string(VORN_TEST_FILES_DIR) + "xml/hostile/";
    EXPECT_EQ(
        judge(hostile + "xxe.xml")[0].find("line 2: document type declarations are not allowed"),
        0u);
    EXPECT_EQ(judge(hostile + "truncated.xml")[0].rfind("line ", 0), 0u);
    EXPECT_NE(judge(hostile + "empty.xml")[0].find("empty"), std::string::npos);
    EXPECT_EQ(judge(hostile + "unknown_root.xml")[1],
              "line 2: the document element is \"FLASH_DATABASE\", not \"QSPI_FLASH\"");
    EXPECT_NE(judge(dir.path())[0].find("not a regular file"), std::string::npos);
    EXPECT_NE(judge(dir.path() + "absent.xml")[0].find("absent.xml"), std::string::npos);
    // A missing or broken schema is a reason too, not a crash and not a print.
    dir.write("broken.xsd",
              "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">"
              "<xs:element name=\"A\" type=\"nowhere\"/></xs:schema>");
    for (const char* xsd : {"none.xsd", "broken.xsd"}) {
        const auto v =
            judge(std::string(VORN_TEST_FILES_DIR) + "xml/qspi_user.xml", dir.path() + xsd);
        EXPECT_NE(v[0].find(xsd), std::string::npos) << v[0];
        EXPECT_EQ(v[2], "");
    }
}

// A file of exactly the size limit is read; one byte more is refused before parsing.
TEST(HostileFile, TheSizeLimitIsExact) {
    vorn_test::TempDir dir;
    {
        // Comments of a usual size, the last one cut to reach the limit.
        const std::string head = "<QSPI_FLASH version=\"1\">\n";
        const std::string tail = "</QSPI_FLASH>\n";
        const std::string comment = "<!-- " + std::string(1014, 'x') + " -->\n";
        std::ofstream out(dir.file("big.xml"), std::ios::binary);
        out << head;
        size_t left = PGM_COMMON_XML::MAX_FILE_SIZE - head.size() - tail.size();
        for (; left >= 2 * comment.size(); left -= comment.size()) out << comment;
        out << "<!-- " << std::string(left - 10, 'x') << " -->\n" << tail;
    }
    ASSERT_EQ(fs::file_size(dir.file("big.xml")), PGM_COMMON_XML::MAX_FILE_SIZE);
    EXPECT_EQ(judge(dir.file("big.xml")), (std::vector<std::string>{"", "", ""}));
    std::ofstream(dir.file("big.xml"), std::ios::binary | std::ios::app) << "\n";
    const auto over = judge(dir.file("big.xml"));
    EXPECT_NE(over[0].find("larger than the limit"), std::string::npos) << over[0];
    EXPECT_NE(over[1].find("larger than the limit"), std::string::npos) << over[1];
}

const char* const SECRET = "TOPSECRET-4711";

class XmlReachesNothingElse : public ::testing::Test, protected SMALL_DATABASE {
  protected:
    void SetUp() override {
        // Files the hostile documents name (files/xml/bait/), watched for any open; an address
        // they name, watched for any connection.
        fs::copy(std::string(VORN_TEST_FILES_DIR) + "xml/bait", bait.path());
        m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(inotify_add_watch(m_inotify, bait.path().c_str(), IN_OPEN | IN_ACCESS), 0);
        m_listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ASSERT_EQ(bind(m_listener, reinterpret_cast<sockaddr*>(&addr), len), 0);
        ASSERT_EQ(listen(m_listener, 16), 0);
        ASSERT_EQ(getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
        m_port = ntohs(addr.sin_port);
    }
    void TearDown() override {
        cfg_clear_switches();
        close(m_inotify);
        close(m_listener);
    }
    // Writes files/xml/reach/<name> to `to`, with the bait's folder and port filled in.
    void place(const std::string& name, const vorn_test::TempDir& dir, const std::string& to) {
        std::string text = vorn_test::read_test_file("xml/reach/" + name);
        for (size_t at; (at = text.find("@DIR@")) != std::string::npos;)
            text.replace(at, 5, bait.path());
        for (size_t at; (at = text.find("@PORT@")) != std::string::npos;)
            text.replace(at, 6, std::to_string(m_port));
        dir.write(to, text);
        reached();  // our own write
    }
    // Bait files opened and connections made since the last call, as one text.
    std::string reached() {
        std::string out;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = read(m_inotify, buffer, sizeof buffer)) > 0;)
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                out += std::string(" opened ") + (event->len > 0 ? event->name : "(folder)");
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        for (int fd; (fd = accept(m_listener, nullptr, nullptr)) >= 0; close(fd))
            out += " connected";
        return out;
    }

    vorn_test::TempDir bait;
    int m_inotify = -1;
    int m_listener = -1;
    int m_port = 0;
};

TEST_F(XmlReachesNothingElse, WhenTheManagersLoadTheFiles) {
    for (const std::string& name : test_files("reach")) place(name, custom, "pgm_flash_" + name);
    vorn_test::MessageCapture capture;
    std::unique_ptr<VORN_QSPI_MGR> mgr;
    ASSERT_NO_THROW(mgr = std::make_unique<VORN_QSPI_MGR>());
    EXPECT_EQ(reached(), "");
    for (const auto& entry : mgr->get_user_flash_template_map())
        EXPECT_EQ(entry.first.find(SECRET), std::string::npos);
    for (const MSG_RECORD& record : capture.records())
        EXPECT_EQ(record.text.find(SECRET), std::string::npos) << record.text;
    // Entities, document types and inclusions make a file unfit; hints and stylesheets are
    // merely ignored.
    for (const std::string& name : test_files("reach")) {
        bool skipped = false;
        for (const std::string& trace : capture.traces())
            skipped = skipped || trace.rfind("Skip pgm_flash_" + name + " ", 0) == 0;
        EXPECT_EQ(skipped, name.rfind("ignored_", 0) != 0) << name;
    }
    cfg_set_switch("pgm_enable_custom_sdmmc", true);
    std::unique_ptr<VORN_SDMMC_MGR> sdmmc;
    ASSERT_NO_THROW(sdmmc = std::make_unique<VORN_SDMMC_MGR>());
    EXPECT_EQ(reached(), "");
    EXPECT_TRUE(sdmmc->get_custom_dir_map().empty());
}

TEST_F(XmlReachesNothingElse, WhenTheToolChecksTheFiles) {
    if (tool_path().empty()) GTEST_SKIP() << "no vorn tool in this build";
    vorn_test::TempDir scratch;
    for (const std::string& name : test_files("reach")) {
        place(name, scratch, name);
        for (bool json : {false, true}) {
            std::vector<std::string> args = {
                "--programmer-dir", programmer.path(), "--custom-dir",
                custom.path(),      "check",           scratch.file(name)};
            if (json) args.insert(args.begin() + 4, "--json");
            RUN run =
                run_tool(args,
                         {"VORN_INI=" + scratch.file("vorn.ini"),
                          "VORN_USER_INI=" + scratch.file("user.ini"), "HOME=" + scratch.path()},
                         scratch.path());
            EXPECT_EQ(reached(), "") << name;
            EXPECT_EQ(run.out.find(SECRET), std::string::npos) << run.out;
            EXPECT_EQ(run.err.find(SECRET), std::string::npos) << run.err;
            EXPECT_LE(run.status, 1) << name << ": " << run.err;
        }
    }
}

}  // namespace
