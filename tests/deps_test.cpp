// tools/deps.sh (make deps) against stand-ins for dpkg-query, id and apt-get placed first on PATH:
// MISSING names the packages the stand-in dpkg-query does not know, FAKE_UID is the user id, and every
// apt-get call is logged.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "ini_fixture.h"
#include "process_support.h"

namespace tubefit {
namespace {

class DepsTest : public IniDirTest {
 protected:
  void SetUp() override {
    if (testsupport::kWindows) GTEST_SKIP() << "tools/deps.sh is the shell script of the Linux build";
    IniDirTest::SetUp();
    WriteFile("dpkg-query", "#!/bin/sh\nfor a; do p=$a; done\n"
                            "case \" $MISSING \" in *\" $p \"*) exit 1;; esac\necho installed\n");
    WriteFile("id", "#!/bin/sh\necho $FAKE_UID\n");
    WriteFile("apt-get", "#!/bin/sh\necho \"apt-get $*\" >> apt.log\n");
    ASSERT_EQ(std::system("chmod +x dpkg-query id apt-get"), 0);
  }

  // Runs the script; returns its exit status, its output in out_ and the apt-get log in apt_.
  int Deps(const std::string& missing, int uid) {
    const std::string cmd = "PATH=\"$PWD:$PATH\" MISSING='" + missing + "' FAKE_UID=" + std::to_string(uid) +
                            " sh " TUBEFIT_SOURCE_DIR "/tools/deps.sh > out.txt 2>&1";
    const int status = std::system(cmd.c_str());
    out_ = Read("out.txt");
    apt_ = Read("apt.log");
    return (status >> 8) & 0xff;  // the exit status in the wait status of std::system
  }

  static std::string Read(const std::string& name) {
    std::ifstream in(name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string out_, apt_;
};

TEST_F(DepsTest, NothingMissingNeverCallsAptGet) {
  EXPECT_EQ(Deps("", 1000), 0);
  EXPECT_EQ(out_, "");
  EXPECT_EQ(Deps("", 0), 0);
  EXPECT_EQ(apt_, "");
}

TEST_F(DepsTest, MissingWithoutRootPrintsTheCommand) {
  EXPECT_EQ(Deps("ngspice libceres-dev", 1000), 1);
  EXPECT_EQ(out_, "Missing Debian packages: libceres-dev ngspice\n"
                  "Install them as root, then run make again:\n"
                  "  apt-get update && apt-get install -y --no-install-recommends libceres-dev ngspice\n");
  EXPECT_EQ(apt_, "");
}

TEST_F(DepsTest, MissingAsRootUpdatesOnceAndInstallsOnlyThose) {
  EXPECT_EQ(Deps("gnuplot-nox libgtest-dev", 0), 0);
  EXPECT_EQ(apt_, "apt-get update\napt-get install -y --no-install-recommends libgtest-dev gnuplot-nox\n");
}

}  // namespace
}  // namespace tubefit
