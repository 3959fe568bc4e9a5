// The file and disk information popups, with stand-in df and du where the disk is read.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/globals.h"
#include "app/browser.h"
#include "app/infopopups.h"
#include "input/input.h"
#include "tests/harness.h"

// The Ok button is white on red.
static const SDL_Color kRed = {255, 0, 0, 0};

class InfoPopup : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(OpenTestDisplay());
        ScriptClear();
        ScriptLimit(1000);
        GetInput();
        TakeDrawnText();
    }
    void TearDown() override {
        ScriptClear();
        CloseTestDisplay();
    }
    // Closes the popup with A a few passes after it opens.
    void CloseSoon() { ScriptTap(SDLK_LCTRL, ScriptPass() + 3); }
};

TEST_F(InfoPopup, FileTimeIsUtcWhateverTheZone) {
    TempDir dir;
    std::string path = dir / "notes.txt";
    WriteFile(path, "hello");
    // 2024-03-05 09:07:30 UTC.
    struct timespec times[2] = {{1709629650, 0}, {1709629650, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    CloseSoon();
    EXPECT_EQ(PopupFileInfo(200, 130, path.c_str()), 1);
    EXPECT_EQ(TakeDrawnText(), path + " 5 bytes 2024-03-05 09:07");
    unsetenv("TZ");
    tzset();

    // 2040-01-01 00:00 UTC: past what a 32-bit time holds.
    std::string future = dir / "future";
    WriteFile(future, "");
    struct timespec later[2] = {{2208988800, 0}, {2208988800, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, future.c_str(), later, 0), 0);
    CloseSoon();
    PopupFileInfo(200, 130, future.c_str());
    EXPECT_EQ(TakeDrawnText(), future + " 0 bytes 2040-01-01 00:00");

    std::string empty = dir / "empty";
    WriteFile(empty, "");
    CloseSoon();
    PopupFileInfo(200, 130, empty.c_str());
    EXPECT_NE(TakeDrawnText().find(" 0 bytes "), std::string::npos);
}

// Stand-in df and du first on the path: df prints $DF_REPORT, du records its arguments.
struct StandIns {
    TempDir dir;
    std::string old_path = getenv("PATH");
    StandIns(bool with_du) {
        WriteFile(dir / "df", "#!/bin/sh\ncat \"$DF_REPORT\"\n");
        chmod((dir / "df").c_str(), 0755);
        if (with_du) {
            WriteFile(dir / "du", "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$DU_ARGS\"\n"
                                  "printf '4.0K\\t%s/sub\\n12M\\t%s\\n' \"$2\" \"$2\"\n");
            chmod((dir / "du").c_str(), 0755);
        }
        setenv("PATH", (dir.path + ":/bin:/usr/bin").c_str(), 1);
        if (!with_du)
            setenv("PATH", dir.path.c_str(), 1);
        setenv("DU_ARGS", (dir / "du-args").c_str(), 1);
        setenv("DF_REPORT", (dir / "report").c_str(), 1);
    }
    ~StandIns() { setenv("PATH", old_path.c_str(), 1); }
    void Report(const std::string &text) { WriteFile(dir / "report", text); }
};

static const char kDfHeader[] = "Filesystem      Size  Used Avail Use% Mounted on\n";

TEST_F(InfoPopup, DiskFiguresFromTheLastBootLine) {
    StandIns stand_ins(true);
    TempDir target;
    stand_ins.Report(std::string(kDfHeader) + "/dev/root 7.0G 3.0G 4.0G 43% /\n" +
                     "/dev/sda1 1.9G 1.2G 700M 45% /boot\n" + "tmpfs 10M 0 10M 0% /run\n");
    CloseSoon();
    // du may take long: "Reading..." shows before it starts.
    std::string first_shown;
    ScriptOnFlip(FlipCount() + 1, [&] { first_shown = TakeDrawnText(); });
    EXPECT_EQ(PopupDiskInfo(230, 120, target.path.c_str()), 1);
    EXPECT_EQ(first_shown, "Reading...");
    EXPECT_EQ(TakeDrawnText(),
              "Size: 1.9G  Used: 1.2G  Avail: 700M  45% used" + target.path + "  total 12M");

    stand_ins.Report(std::string(kDfHeader) + "/dev/sda1 1.9G 1.2G 700M 45% /boot\n" +
                     "/dev/sda2 511M 6.1M 505M 2% /boot/efi\n");
    CloseSoon();
    PopupDiskInfo(230, 120, target.path.c_str());
    EXPECT_NE(TakeDrawnText().find("Size: 511M  Used: 6.1M  Avail: 505M  2% used"),
              std::string::npos);
}
