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

std::string test_file(const std::string& name) {
    return std::string(VORN_TEST_FILES_DIR) + "xml/" + name;
}

struct VERDICT {
    bool accepted;
    std::string error;   // from check_xsd
    std::string parsed;  // last_error of a parse without the schema, as for the golden template
    std::string printed;
};

VERDICT judge(const std::string& file, const std::string& xsd = QSPI_XSD) {
    VERDICT v;
    std::string warning;
    testing::internal::CaptureStderr();
    v.accepted = PGM_COMMON_XML::check_xsd(file, xsd, v.error, warning);
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> tree(
        PGM_COMMON_XML::parse_xml(PGM_COMMON_XML_FILE_VORN_QSPI, file, xsd, true, "", "", ""));
    v.parsed = tree ? "" : PGM_COMMON_XML::last_error();
    v.printed = testing::internal::GetCapturedStderr();
    return v;
}

TEST(HostileFile, EachIsRefusedByCheckAndParseWithAReasonAndSilently) {
    vorn_test::TempDir dir;
    std::string deep = "<QSPI_FLASH version=\"1\">";
    for (int i = 0; i < 100000; ++i) deep += "<FLASH>";
    for (int i = 0; i < 100000; ++i) deep += "</FLASH>";
    dir.write("deep.xml", deep + "</QSPI_FLASH>");
    ASSERT_EQ(mkfifo(dir.file("pipe.xml").c_str(), 0600), 0);
    const std::vector<std::string> files = {test_file("xxe.xml"),
                                            test_file("entity_bomb.xml"),
                                            test_file("external_dtd.xml"),
                                            test_file("parameter_entity.xml"),
                                            test_file("xinclude.xml"),
                                            test_file("not_xml.txt"),
                                            test_file("empty.xml"),
                                            test_file("truncated.xml"),
                                            test_file("not_utf8.xml"),
                                            test_file("latin1_declared.xml"),
                                            test_file("unknown_root.xml"),
                                            dir.file("deep.xml"),
                                            dir.file("pipe.xml"),
                                            dir.file("absent.xml"),
                                            dir.path()};
    for (const std::string& file : files) {
        VERDICT v = judge(file);
        EXPECT_FALSE(v.accepted) << file;
        EXPECT_NE(v.error, "") << file;
        EXPECT_NE(v.parsed, "") << file;
        EXPECT_EQ(v.printed, "") << file << ": libxml2 printed on its own";
        // Nothing of the file an external entity names leaks into the reason.
        EXPECT_EQ(v.error.find("root:"), std::string::npos) << v.error;
    }
    EXPECT_NE(judge(test_file("xxe.xml"))
                  .error.find("line 2: document type declarations are not allowed"),
              std::string::npos);
    EXPECT_EQ(judge(test_file("truncated.xml")).error.rfind("line ", 0), 0u);
    EXPECT_NE(judge(test_file("empty.xml")).error.find("empty"), std::string::npos);
    EXPECT_EQ(judge(test_file("unknown_root.xml")).parsed,
              "line 2: the document element is \"FLASH_DATABASE\", not \"QSPI_FLASH\"");
    EXPECT_NE(judge(dir.path()).error.find("not a regular file"), std::string::npos);
    EXPECT_NE(judge(dir.file("absent.xml")).error.find("absent.xml"), std::string::npos);
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
    VERDICT at_limit = judge(dir.file("big.xml"));
    EXPECT_TRUE(at_limit.accepted) << at_limit.error;
    EXPECT_EQ(at_limit.parsed, "");
    std::ofstream(dir.file("big.xml"), std::ios::binary | std::ios::app) << "\n";
    VERDICT over = judge(dir.file("big.xml"));
    EXPECT_FALSE(over.accepted);
    EXPECT_NE(over.error.find("larger than the limit"), std::string::npos) << over.error;
    EXPECT_NE(over.parsed.find("larger than the limit"), std::string::npos) << over.parsed;
}

TEST(HostileSchema, AMissingOrBrokenSchemaIsAReasonNotACrash) {
    vorn_test::TempDir dir;
    VERDICT missing = judge(test_file("qspi_user.xml"), dir.file("none.xsd"));
    EXPECT_FALSE(missing.accepted);
    EXPECT_NE(missing.error.find("none.xsd"), std::string::npos) << missing.error;
    dir.write("broken.xsd",
              "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">"
              "<xs:element name=\"A\" type=\"nowhere\"/></xs:schema>");
    VERDICT broken = judge(test_file("qspi_user.xml"), dir.file("broken.xsd"));
    EXPECT_FALSE(broken.accepted);
    EXPECT_NE(broken.error.find("broken.xsd"), std::string::npos) << broken.error;
    EXPECT_EQ(broken.printed, "");
}

const char* const SECRET = "TOPSECRET-4711";

// Files the hostile documents name, watched for any open; an address they name, watched for
// any connection.
class Bait {
  public:
    Bait() {
        dir.write("secret.txt", SECRET);
        dir.write("evil.dtd", std::string("<!ENTITY leak \"") + SECRET + "\">");
        dir.write("evil.xsd",
                  "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\"><xs:element "
                  "name=\"QSPI_FLASH\"/></xs:schema>");
        dir.write("evil.xsl", "<x/>");
        m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        m_watch = inotify_add_watch(m_inotify, dir.path().c_str(), IN_OPEN | IN_ACCESS);
        m_listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (m_listener >= 0 && bind(m_listener, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
            listen(m_listener, 16) == 0 &&
            getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            m_port = ntohs(addr.sin_port);
    }
    ~Bait() {
        if (m_inotify >= 0) close(m_inotify);
        if (m_listener >= 0) close(m_listener);
    }
    bool ready() const { return m_inotify >= 0 && m_watch >= 0 && m_port > 0; }

    // The test file `name` of files/xml/reach/ with the bait's folder and port filled in.
    std::string hostile(const std::string& name) const {
        std::string text = vorn_test::read_test_file("xml/reach/" + name);
        for (size_t at; (at = text.find("@DIR@")) != std::string::npos;)
            text.replace(at, 5, dir.path());
        for (size_t at; (at = text.find("@PORT@")) != std::string::npos;)
            text.replace(at, 6, std::to_string(m_port));
        return text;
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

    vorn_test::TempDir dir;

  private:
    int m_inotify = -1;
    int m_watch = -1;
    int m_listener = -1;
    int m_port = 0;
};

std::vector<std::string> reach_files(const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(std::string(VORN_TEST_FILES_DIR) + "xml/reach"))
        if (e.path().filename().string().rfind(prefix, 0) == 0)
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class XmlReachesNothingElse : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(bait.ready()) << "cannot set up inotify or a loopback listener";
        programmer.write("xml/pgm_flash_db_qspi.xml", small_golden());
        VORN_MGR::set_db_custom_dir(custom.path());
    }
    void TearDown() override {
        VORN_MGR::set_db_custom_dir("");
        cfg_clear_switches();
    }
    // Places the files in the custom folder as pgm_flash_<name>.
    void place(const std::vector<std::string>& names) {
        for (const std::string& name : names) custom.write("pgm_flash_" + name, bait.hostile(name));
        bait.reached();  // our own writes
    }

    Bait bait;
    vorn_test::ProgrammerDir programmer;
    vorn_test::TempDir custom;
};

TEST_F(XmlReachesNothingElse, WhenTheManagersLoadTheFiles) {
    const std::vector<std::string> qspi = reach_files("");
    place(qspi);
    vorn_test::MessageCapture capture;
    std::unique_ptr<VORN_QSPI_MGR> mgr;
    ASSERT_NO_THROW(mgr = std::make_unique<VORN_QSPI_MGR>());
    EXPECT_EQ(bait.reached(), "");
    for (const auto& entry : mgr->get_user_flash_template_map())
        EXPECT_EQ(entry.first.find(SECRET), std::string::npos);
    for (const MSG_RECORD& record : capture.records())
        EXPECT_EQ(record.text.find(SECRET), std::string::npos) << record.text;
    // Entities, document types and inclusions make a file unfit; hints and stylesheets are
    // merely ignored.
    for (const std::string& name : qspi) {
        if (name.rfind("refused_", 0) != 0) continue;
        const std::string prefix = "Skip pgm_flash_" + name + " ";
        bool skipped = false;
        for (const std::string& trace : capture.traces())
            skipped = skipped || trace.rfind(prefix, 0) == 0;
        EXPECT_TRUE(skipped) << name;
    }

    cfg_set_switch("pgm_enable_custom_sdmmc", true);
    std::unique_ptr<VORN_SDMMC_MGR> sdmmc;
    ASSERT_NO_THROW(sdmmc = std::make_unique<VORN_SDMMC_MGR>());
    EXPECT_EQ(bait.reached(), "");
    EXPECT_TRUE(sdmmc->get_custom_dir_map().empty());
}

TEST_F(XmlReachesNothingElse, WhenTheToolChecksTheFiles) {
    if (tool_path().empty()) GTEST_SKIP() << "no vorn tool in this build";
    vorn_test::TempDir inputs;
    vorn_test::TempDir scratch;
    for (const std::string& name : reach_files("")) {
        inputs.write(name, bait.hostile(name));
        bait.reached();
        for (bool json : {false, true}) {
            std::vector<std::string> args = {"--programmer-dir", programmer.path(), "--custom-dir",
                                             custom.path()};
            if (json) args.push_back("--json");
            args.insert(args.end(), {"check", inputs.file(name)});
            RUN run =
                run_tool(args,
                         {"VORN_INI=" + scratch.file("vorn.ini"),
                          "VORN_USER_INI=" + scratch.file("user.ini"), "HOME=" + scratch.path()},
                         scratch.path());
            EXPECT_EQ(bait.reached(), "") << name;
            EXPECT_EQ(run.out.find(SECRET), std::string::npos) << run.out;
            EXPECT_EQ(run.err.find(SECRET), std::string::npos) << run.err;
            EXPECT_LE(run.status, 1) << name << ": " << run.err;
        }
    }
}

}  // namespace
