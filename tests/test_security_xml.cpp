// User files that try to make the XML layer read other files or reach the network (external
// entities and DTDs, parameter entities, XInclude, schema location hints, stylesheets): loading
// them in a manager and checking them with the tool opens no other file and no connection.
// The proof is from outside the parser: inotify on the files they name, and a listening socket
// on the address they name.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "test_reliability_support.h"
#include "vorn.h"
#include "vorn_test_support.h"

using namespace reliability_test;

namespace {

const char* const SECRET = "TOPSECRET-4711";

struct HOSTILE {
    std::string label;
    std::string text;  // "@DIR@" and "@PORT@" are filled in
};

std::string fill(std::string text, const std::string& dir, int port) {
    for (size_t at; (at = text.find("@DIR@")) != std::string::npos;) text.replace(at, 5, dir);
    for (size_t at; (at = text.find("@PORT@")) != std::string::npos;)
        text.replace(at, 6, std::to_string(port));
    return text;
}

const std::string DECL = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
const std::string TEMPLATE_BODY =
    "<PROGRAMMING_FLOW><SFL><INITIALIZATION/><PROGRAM/><ERASE/><VERIFY_BLANKCHECK_EXAMINE/>"
    "<TERMINATION/></SFL><SDM><INITIALIZATION/><PROGRAM/><ERASE/><VERIFY_BLANKCHECK_EXAMINE/>"
    "<TERMINATION/></SDM></PROGRAMMING_FLOW>";

std::string qspi_template(const std::string& name_text) {
    return "<QSPI_FLASH version=\"1\"><USER_TEMPLATE><TEMPLATE_NAME>" + name_text +
           "</TEMPLATE_NAME>" + TEMPLATE_BODY + "</USER_TEMPLATE></QSPI_FLASH>\n";
}

std::vector<HOSTILE> qspi_files() {
    return {
        {"external entity, file URL",
         DECL + "<!DOCTYPE QSPI_FLASH [<!ENTITY s SYSTEM \"file://@DIR@secret.txt\">]>\n" +
             qspi_template("&s;")},
        {"external entity, plain path",
         DECL + "<!DOCTYPE QSPI_FLASH [<!ENTITY s SYSTEM \"@DIR@secret.txt\">]>\n" +
             qspi_template("&s;")},
        {"external entity, network",
         DECL + "<!DOCTYPE QSPI_FLASH [<!ENTITY s SYSTEM \"http://127.0.0.1:@PORT@/s\">]>\n" +
             qspi_template("&s;")},
        {"parameter entity",
         DECL + "<!DOCTYPE QSPI_FLASH [<!ENTITY % p SYSTEM \"file://@DIR@evil.dtd\"> %p;]>\n" +
             qspi_template("x")},
        {"external DTD, file",
         DECL + "<!DOCTYPE QSPI_FLASH SYSTEM \"@DIR@evil.dtd\">\n" + qspi_template("x")},
        {"external DTD, network",
         DECL + "<!DOCTYPE QSPI_FLASH PUBLIC \"-//x//y\" \"http://127.0.0.1:@PORT@/q.dtd\">\n" +
             qspi_template("x")},
        {"XInclude",
         DECL + "<QSPI_FLASH version=\"1\" xmlns:xi=\"http://www.w3.org/2001/XInclude\">"
                "<xi:include href=\"@DIR@secret.txt\" parse=\"text\"/>"
                "<xi:include href=\"http://127.0.0.1:@PORT@/i\" parse=\"text\"/></QSPI_FLASH>\n"},
        {"schema location hints", DECL +
                                      "<QSPI_FLASH version=\"1\" "
                                      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                                      "xsi:noNamespaceSchemaLocation=\"@DIR@evil.xsd\" "
                                      "xsi:schemaLocation=\"urn:x http://127.0.0.1:@PORT@/s.xsd\">"
                                      "<USER_TEMPLATE><TEMPLATE_NAME>x</TEMPLATE_NAME>" +
                                      TEMPLATE_BODY + "</USER_TEMPLATE></QSPI_FLASH>\n"},
        {"stylesheet", DECL + "<?xml-stylesheet type=\"text/xsl\" href=\"@DIR@evil.xsl\"?>\n" +
                           "<?xml-stylesheet href=\"http://127.0.0.1:@PORT@/s.xsl\"?>\n" +
                           qspi_template("x")},
    };
}

std::vector<HOSTILE> sdmmc_files() {
    return {
        {"SD/MMC external entity",
         DECL + "<!DOCTYPE SDMMC_FLASH [<!ENTITY s SYSTEM \"@DIR@secret.txt\">]>\n"
                "<SDMMC_FLASH version=\"1\"><FLASH><DEVICE_INFO><DEVICE_NAME>&s;</DEVICE_NAME>"
                "<DEVICE_IO_VOLTAGE>1.8V</DEVICE_IO_VOLTAGE><DEVICE_DENSITY>16GB"
                "</DEVICE_DENSITY></DEVICE_INFO></FLASH></SDMMC_FLASH>\n"},
        {"SD/MMC network DTD",
         DECL + "<!DOCTYPE SDMMC_FLASH SYSTEM \"http://127.0.0.1:@PORT@/d.dtd\">\n"
                "<SDMMC_FLASH version=\"1\"/>\n"},
    };
}

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
        addr.sin_port = 0;
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
    int port() const { return m_port; }

    // Names of the bait files opened since the last call.
    std::vector<std::string> files_opened() {
        std::vector<std::string> names;
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t n = read(m_inotify, buffer, sizeof buffer);
            if (n <= 0) break;
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                names.push_back(event->len > 0 ? event->name : "(folder)");
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return names;
    }
    // Connections made since the last call.
    int connections() {
        int count = 0;
        for (;;) {
            const int fd = accept(m_listener, nullptr, nullptr);
            if (fd < 0) break;
            close(fd);
            ++count;
        }
        return count;
    }

    vorn_test::TempDir dir;

  private:
    int m_inotify = -1;
    int m_watch = -1;
    int m_listener = -1;
    int m_port = 0;
};

std::string joined(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) out += " " + n;
    return out;
}

class XmlReachesNothingElse : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(bait.ready()) << "cannot set up inotify or a loopback listener";
        programmer.write("xml/pgm_flash_db_qspi.xml", small_golden());
        VORN_MGR::set_db_custom_dir(custom.path());
    }
    void TearDown() override { VORN_MGR::set_db_custom_dir(""); }

    std::string place(const HOSTILE& file, const std::string& name) {
        custom.write(name, fill(file.text, bait.dir.path(), bait.port()));
        return custom.file(name);
    }

    void expect_nothing_reached(const std::string& what) {
        EXPECT_EQ(joined(bait.files_opened()), "") << what;
        EXPECT_EQ(bait.connections(), 0) << what;
    }

    Bait bait;
    vorn_test::ProgrammerDir programmer;
    vorn_test::TempDir custom;
    vorn_test::TempDir scratch;
};

TEST_F(XmlReachesNothingElse, WhenTheQspiManagerLoadsTheFiles) {
    const std::vector<HOSTILE> files = qspi_files();
    for (size_t i = 0; i < files.size(); ++i)
        place(files[i], "pgm_flash_hostile" + std::to_string(i) + ".xml");
    bait.files_opened();  // our own writes

    vorn_test::MessageCapture capture;
    std::unique_ptr<VORN_QSPI_MGR> mgr;
    ASSERT_NO_THROW(mgr = std::make_unique<VORN_QSPI_MGR>());
    expect_nothing_reached("QSPI load");
    for (const auto& entry : mgr->get_user_flash_template_map())
        EXPECT_EQ(entry.first.find(SECRET), std::string::npos);
    for (const MSG_RECORD& record : capture.records())
        EXPECT_EQ(record.text.find(SECRET), std::string::npos) << record.text;
    // Entities, document types and inclusions make a file unfit; hints and stylesheets are
    // merely ignored.
    for (size_t i = 0; i < files.size(); ++i) {
        const bool refused =
            files[i].label != "schema location hints" && files[i].label != "stylesheet";
        if (!refused) continue;
        const std::string prefix = "Skip pgm_flash_hostile" + std::to_string(i) + ".xml ";
        bool skipped = false;
        for (const std::string& trace : capture.traces())
            skipped = skipped || trace.compare(0, prefix.size(), prefix) == 0;
        EXPECT_TRUE(skipped) << files[i].label;
    }
}

TEST_F(XmlReachesNothingElse, WhenTheSdmmcManagerLoadsTheFiles) {
    cfg_set_switch("pgm_enable_custom_sdmmc", true);
    const std::vector<HOSTILE> files = sdmmc_files();
    for (size_t i = 0; i < files.size(); ++i)
        place(files[i], "pgm_flash_hostile" + std::to_string(i) + ".xml");
    bait.files_opened();

    vorn_test::MessageCapture capture;
    std::unique_ptr<VORN_SDMMC_MGR> mgr;
    ASSERT_NO_THROW(mgr = std::make_unique<VORN_SDMMC_MGR>());
    expect_nothing_reached("SD/MMC load");
    EXPECT_TRUE(mgr->get_custom_dir_map().empty());
    for (const auto& entry : mgr->get_flash_map())
        EXPECT_EQ(entry.first.find(SECRET), std::string::npos);
}

TEST_F(XmlReachesNothingElse, WhenTheToolChecksTheFiles) {
    if (tool_path().empty()) GTEST_SKIP() << "no vorn tool in this build";
    std::vector<HOSTILE> files = qspi_files();
    for (const HOSTILE& f : sdmmc_files()) files.push_back(f);
    vorn_test::TempDir inputs;
    for (size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].label);
        const std::string name = "pgm_flash_hostile" + std::to_string(i) + ".xml";
        inputs.write(name, fill(files[i].text, bait.dir.path(), bait.port()));
        bait.files_opened();
        for (bool json : {false, true}) {
            std::vector<std::string> args = {"--programmer-dir", programmer.path(), "--custom-dir",
                                             custom.path()};
            if (json) args.push_back("--json");
            args.push_back("check");
            args.push_back(inputs.file(name));
            RUN run =
                run_tool(args,
                         {"VORN_INI=" + scratch.path() + "vorn.ini",
                          "VORN_USER_INI=" + scratch.path() + "user.ini", "HOME=" + scratch.path()},
                         scratch.path());
            expect_nothing_reached("vorn check");
            EXPECT_EQ(run.out.find(SECRET), std::string::npos) << run.out;
            EXPECT_EQ(run.err.find(SECRET), std::string::npos) << run.err;
            EXPECT_LE(run.status, 1) << run.err;
        }
    }
}

}  // namespace
