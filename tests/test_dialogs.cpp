// The popups, the folded text, the button input, the line-input dialog with its on-screen keyboard,
// and the file and disk information popups (with stand-in df and du).
#include <gtest/gtest.h>

#include <SDL_ttf.h>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <tuple>

#include "app/browser.h"
#include "app/infopopups.h"
#include "dialogs/dialogbox.h"
#include "dialogs/lineinput.h"
#include "input/input.h"
#include "tests/harness.h"

// The tests that do not end the process draw in it.
static void OpenDisplayOnce() {
    static bool open = OpenTestDisplay();
    ASSERT_TRUE(open);
}

TEST(FoldString, BreaksAtLineFeedsAndBeforeTheFirstCharacterThatNoLongerFits) {
    OpenDisplayOnce();
    int abc = 0;
    TTF_SizeUTF8(font, "abc", &abc, nullptr);
    const struct {
        int width, lines;
        const char *text;
        std::vector<std::string> rows;
    } cases[] = {
        {100, 3, "a\n\nb", {"a", "", "b"}},
        {abc, 3, "abcd", {"abc", "d"}}, // a row exactly as wide as the limit still fits
        // A character wider than the limit never fits: empty rows until the height runs out.
        {1, 3, "ab", {"", "", ""}},
        // Two- and four-byte characters are whole; one cut short by the terminator is dropped.
        {100, 5, "\xC3\xA9\xF0\x9F\x98\x80\xE3\x81", {"\xC3\xA9\xF0\x9F\x98\x80"}},
    };
    for (const auto &c : cases) {
        FoldRow table[kFoldRows];
        int last = FoldString(c.width, c.lines * option.font_height, c.text, table, kFoldRows);
        EXPECT_EQ(std::vector<std::string>(table, table + last + 1), c.rows) << c.text;
    }
}

TEST(Popups, CloseOnTheirKeysAnswerByTheSelectedButtonAndRestoreTheScreen) {
    const struct {
        bool question;
        const char *keys;
        int result, passes; // the passes sampled until the popup closed
    } cases[] = {
        {false, ",B", 1, 2}, {true, ",A", 0, 2}, // a question starts on Cancel
        {true, ",RA", 1, 4}, {true, ",RLA", 0, 6}, {true, ",RB", 0, 4},
    };
    OpenDisplayOnce();
    for (const auto &c : cases) {
        FillScreen(color_green);
        SurfacePtr before = BackupScreenSurface();
        memset(SDL_GetKeyState(nullptr), 0, SDLK_LAST); // the last popup's closing key let go
        Plan(c.keys);
        TakeShadedText();
        EXPECT_EQ(c.question ? PopupConfirm(150, 100, "Sure?")
                             : PopupMessage(120, 80, "Error", "hello"),
                  c.result);
        EXPECT_EQ(ScriptPass(), c.passes);
        EXPECT_EQ(memcmp(before->pixels, gScreenSurface->pixels, gScreenSurface->pitch * 240), 0);
        std::string shown = TakeShadedText() + "|" + TakeDrawnText();
        EXPECT_TRUE(c.question || shown == "Error\n  Ok  \n|hello") << shown;
    }
}

TEST(LineInput, TypesErasesAndClearsAsTheKeyboardSays) {
    // In the centre cell of the letter page Y types 'm', A 'n' ('N' as capital, '5' on the number
    // page), X deletes; with LEFT held, Y types 'j' and B 'k', and on the number page B clears;
    // with RIGHT held B finishes there. A button after "+" is pressed with the next one. A
    // character typed on a full line waits in the cursor, where the next one replaces it and
    // backspace removes it first; the field shows the last 35 bytes.
    const std::string fill = std::string(254, 'Y') + "A+LY", full = std::string(254, 'm') + "n";
    const struct {
        std::string buttons, initial, result, field;
    } cases[] = {
        {fill + "+LB", "", full + "k", full.substr(220) + "\nk"},
        {fill + "XX", "", full.substr(0, 254), std::string(35, 'm') + "\n "},
        // Clear, backspace on nothing, 'm', and finish before the last 'm'.
        {"l+LBlXYl+RBlY", "abc", "m", "m\n "},
        // A held face button types once, and a held L switches once; R switches the shift on and
        // off; a face button pressed with L types and switches nothing; L and R at once count as L.
        {"Y4rArA+lYAl4A+lrA", "", "mNnmn5n", "mNnmn5n\n "},
    };
    const int capacity = 256;
    for (const auto &c : cases) {
        // The bytes past the capacity stay untouched; the last two texts shown are the field's
        // text and its cursor.
        TestRun run = RunChild([&] {
            if (!OpenKeyboardTestDisplay())
                return 97;
            Plan("." + c.buttons + "S");
            std::vector<char> result(capacity + 1 + 64, '#');
            LineInput(210, 70, capacity, 35, "title", c.initial.c_str(), result.data());
            printf("guard %d\n%.*s\n%s", CountOf(std::string(&result[capacity + 1], 64), "#"),
                   capacity + 1, result.data(), TakeShadedText().c_str());
            return 0;
        });
        EXPECT_NE(run.out.find("guard 64\n" + c.result + "\n"), std::string::npos) << run.out;
        EXPECT_EQ(run.out.rfind("\n" + c.field + "\n"), run.out.size() - c.field.size() - 2);
    }
}

// The file popup gives a file's time in UTC whatever the zone; the disk popup shows
// "Reading..." first (du may take long), then the figures of df's /boot line and du's total, from
// stand-in df and du first on the path.
TEST(InfoPopup, FileTimeInUtcAndDiskFiguresFromTheBootLineAfterReading) {
    TempDir dir, bin;
    OpenDisplayOnce();
    // Closes the next popup with A a few passes after it opens; the text drawn before is dropped.
    auto close_soon = [] {
        ScriptLimit(ScriptPass() + 1000);
        GetInput();
        ScriptTap(kA, ScriptPass() + 3);
        TakeDrawnText();
    };
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    // 2024-03-05 09:07:30 UTC, and a time past what 32 bits hold; each file holds its name.
    for (auto [name, when, shown] :
         {std::tuple{"notes.txt", 1709629650LL, " 9 bytes 2024-03-05 09:07"},
          std::tuple{"future", 2208988800LL, " 6 bytes 2040-01-01 00:00"}}) {
        WriteFile(dir / name, name);
        struct timespec times[2] = {{when, 0}, {when, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, (dir / name).c_str(), times, 0), 0);
        close_soon();
        EXPECT_EQ(PopupFileInfo(200, 130, (dir / name).c_str()), 1);
        EXPECT_EQ(TakeDrawnText(), dir / name + shown);
    }
    unsetenv("TZ");
    tzset();

    MakeTree(bin.path, {"df=#!/bin/sh\ncat <<end\nFilesystem Size Used Avail Use% Mounted on\n"
                        "/dev/root 7.0G 3.0G 4.0G 43% /\n/dev/sda1 1.9G 1.2G 700M 45% /boot\n"
                        "tmpfs 10M 0 10M 0% /run\nend\n",
                        "du=#!/bin/sh\nprintf '4.0K\\t%s/sub\\n12M\\t%s\\n' \"$2\" \"$2\"\n"});
    chmod((bin / "df").c_str(), 0755);
    chmod((bin / "du").c_str(), 0755);
    std::string old_path = getenv("PATH");
    setenv("PATH", (bin.path + ":/bin:/usr/bin").c_str(), 1);
    close_soon();
    std::string first_shown;
    ScriptOnFlip(FlipCount() + 1, [&] { first_shown = TakeDrawnText(); });
    EXPECT_EQ(PopupDiskInfo(230, 120, dir.path.c_str()), 1);
    EXPECT_EQ(first_shown, "Reading...");
    EXPECT_EQ(TakeDrawnText(),
              "Size: 1.9G  Used: 1.2G  Avail: 700M  45% used" + dir.path + "  total 12M");
    setenv("PATH", old_path.c_str(), 1);
}
