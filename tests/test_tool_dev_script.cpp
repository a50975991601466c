// scripts/dev.sh as a script reading `run`'s stdout meets it: the build's chatter must not mix
// with what the tool prints. The build tools are stand-ins that talk on stdout as the real ones
// do; the tool is a stand-in that prints its arguments.
#include <sys/stat.h>

#include "test_tool_runner.h"

namespace {

TEST(DevScript, RunPrintsTheToolsOutputAloneOnStdout) {
    vorn_test::TempDir root;
    root.write("repo/scripts/dev.sh", vorn_test::read_text(VORN_TEST_SOURCE_DIR "scripts/dev.sh"));
    root.write("bin/cmake", "#!/bin/sh\necho 'ninja: no work to do.'\n");
    root.write("bin/dpkg-query", "#!/bin/sh\nprintf 'install ok installed'\n");
    root.write("repo/build/release/tools/vorn/vorn", "#!/bin/sh\necho \"tool: $*\"\n");
    for (const char* file : {"bin/cmake", "bin/dpkg-query", "repo/build/release/tools/vorn/vorn"})
        ASSERT_EQ(chmod(root.file(file).c_str(), 0755), 0);

    const std::string env = "PATH=\"" + root.path() + "bin:$PATH\" ";
    const std::string script = "bash \"" + root.path() + "repo/scripts/dev.sh\"";
    auto run = tool_test::shell(env + script + " run --json info 2>/dev/null");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "tool: --json info\n");
    // What the build said is not lost: it went to stderr.
    run = tool_test::shell(env + script + " run 2>&1 >/dev/null");
    EXPECT_NE(run.out.find("no work to do"), std::string::npos) << run.out;
    EXPECT_EQ(tool_test::shell(env + script + " run 2>/dev/null").out, "tool: list\n");
}

}  // namespace
