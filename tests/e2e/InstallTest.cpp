// The installed tree and the Debian package. The tree is installed into a folder of
// the test's and moved before anything runs from it, so that nothing it finds can
// come from where it was built or installed; then the installed client asks the
// installed program for a page, which the installed DSM gets from the installed test
// chart.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/E2eFixture.h"

namespace velomark::e2e {
namespace {

namespace fs = std::filesystem;

constexpr int kInstallTimeoutMs = 300000;

using InstallTest = E2eFixture;

TEST_F(InstallTest, TheMovedTreeRunsAndFindsItsLibrariesDsmAndSources) {
    const std::string installed = Folder() + "/installed";
    const std::string moved = Folder() + "/moved";
    const testing::ProgramOutput install = testing::RunProgram(
        {"cmake", "--install", VELOMARK_BUILD_DIR, "--prefix", installed}, kInstallTimeoutMs);
    ASSERT_EQ(install.exitCode, 0) << install.out << install.err;
    fs::rename(installed, moved);
    UseProgramsIn(moved + "/bin");

    const testing::ProgramOutput help = RunClient({"--help"});
    EXPECT_EQ(help.exitCode, 0) << help.err;
    EXPECT_EQ(help.out.rfind("Usage: velomark-client", 0), 0u) << help.out;
    const testing::ProgramOutput python = testing::RunProgram(
        {"python3", moved + "/lib/python3/dist-packages/velomark_client.py", "--help"});
    EXPECT_EQ(python.exitCode, 0) << python.err;

    SetProgramVariable("VELOMARK_UNATTENDED", "1");
    UseTestChart("rgb", 40, 30, 1);
    ASSERT_NO_FATAL_FAILURE(StartVelomark());
    const std::string out = Folder() + "/out";
    const testing::ProgramOutput acquired = RunClient({"acquire", "-n", "1", "-o", out, "-t", "60"});
    EXPECT_EQ(acquired.exitCode, 0) << acquired.err << "\nevents:\n" << Velomark().EventText();
    EXPECT_TRUE(fs::exists(out + "/image-001.bmp"));
    ExitAndExpectCleanEnd();
}

TEST_F(InstallTest, CpackMakesADebianPackageWithEveryPieceAndItsDependencies) {
    const std::string packages = Folder() + "/packages";
    const testing::ProgramOutput cpack = testing::RunProgram(
        {"cpack", "-G", "DEB", "-B", packages, "--config", VELOMARK_BUILD_DIR "/CPackConfig.cmake"},
        kInstallTimeoutMs);
    ASSERT_EQ(cpack.exitCode, 0) << cpack.out << cpack.err;
    std::string package;
    for (const fs::directory_entry& entry : fs::directory_iterator(packages))
        if (entry.path().extension() == ".deb") package = entry.path().string();
    ASSERT_FALSE(package.empty()) << cpack.out;

    const testing::ProgramOutput contents = testing::RunProgram({"dpkg-deb", "-c", package});
    ASSERT_EQ(contents.exitCode, 0) << contents.err;
    for (const char* file :
         {"./usr/bin/velomark", "./usr/bin/velomark-client", "./usr/lib/libvelomark-platform.so",
          "./usr/lib/libvelomark-dib.so", "./usr/lib/libvelomark-bridge.so",
          "./usr/lib/libvelomark-client.so", "./usr/lib/libvelomark-dsm.so",
          "./usr/lib/velomark/sources/testchart.ds", "./usr/lib/velomark/sources/sane.ds",
          "./usr/lib/velomark/sources/velomark-sane-worker",
          "./usr/include/velomark_client.h",
          "./usr/lib/python3/dist-packages/velomark_client.py",
          "./usr/share/applications/velomark.desktop",
          "./usr/share/metainfo/io.github.velomark.Velomark.metainfo.xml",
          "./usr/share/icons/hicolor/scalable/apps/velomark.svg",
          "./usr/share/man/man1/velomark-client.1.gz", "./usr/lib/systemd/user/velomark.service",
          "./usr/share/velomark/web/index.html", "./usr/share/velomark/web/velomark.js"}) {
        EXPECT_NE(contents.out.find(std::string(file) + "\n"), std::string::npos) << file;
    }
    // Found by dpkg-shlibdeps from what the programs and libraries link.
    const testing::ProgramOutput depends = testing::RunProgram({"dpkg-deb", "-f", package, "Depends"});
    EXPECT_NE(depends.out.find("libc6"), std::string::npos) << depends.out;
    EXPECT_NE(depends.out.find("libwxgtk3.2"), std::string::npos) << depends.out;
}

}  // namespace
}  // namespace velomark::e2e
