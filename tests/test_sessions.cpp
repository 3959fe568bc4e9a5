// Long sessions: what a leak costs shows only after many files or frames.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <malloc.h>
#include <unistd.h>

#include "app/fs/copytree.h"
#include "tests/harness.h"

// Open descriptors of this process.
static long OpenDescriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

// Memory this process has allocated and not freed, in KiB. Not its resident size: a huge page
// the kernel or an emulator maps in at once would count 2 MiB for one new allocation.
static long AllocatedKiB() {
    struct mallinfo2 heap = mallinfo2();
    return static_cast<long>((heap.uordblks + heap.hblkhd) / 1024);
}

// Without a close per copied file the copy would run out of descriptors near a thousand files.
TEST(LongSession, CopyingElevenHundredFilesLeavesNoDescriptorOpen) {
    TempDir source, dest;
    // A directory holds at most 249 files: five of 220.
    for (int i = 0; i < 1100; i++) {
        std::filesystem::create_directories(source / ("many/g" + std::to_string(i / 220)));
        WriteFile(source / ("many/g" + std::to_string(i / 220) + "/f" + std::to_string(i)), "x");
    }
    TestRun run = RunFileOperation([&] {
        long before = OpenDescriptors();
        return CopyDirEntry(dest.path.c_str(), source.path.c_str(), "many/") == 1 &&
               OpenDescriptors() == before;
    });
    // Copied, and as many descriptors open as before.
    EXPECT_EQ(run.result, 1) << run.out;
    EXPECT_EQ(run.popups, 0);
    EXPECT_EQ(ReadFile(dest / "many/g4/f1099"), "x");
}

// A surface or buffer lost per frame adds up to megabytes over a few thousand frames; the console
// has 32 MiB for everything.
TEST(LongSession, ScrollingThreeThousandFramesStaysWithinAMemoryBudget) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "freed memory waits in the address sanitizer's quarantine; its leak check "
                    "covers this build";
#endif
    TempDir dir;
    for (int i = 0; i < 40; i++)
        MakeDir(dir / ("d" + std::to_string(100 + i)));
    // Down and up held in turn: the press and then every other frame move the cursor and redraw
    // both panes.
    std::string turns;
    for (int turn = 0; turn < 20; turn++)
        turns += "D80U80";
    Plan(turns + "Q");
    // The harness keeps every drawn text: dropped now and then, it costs the budget nothing.
    for (int flip = 100; flip <= 3200; flip += 100)
        ScriptOnFlip(flip, [] {
            TakeDrawnText();
            TakeShadedText();
        });
    long memory = 0, descriptors = 0;
    // Memory last: the first count of descriptors may itself take some.
    ScriptOnFlip(300, [&] {
        descriptors = OpenDescriptors();
        memory = AllocatedKiB();
    });
    // Over the 2,900 frames after: less than a MiB, and no descriptor.
    ScriptOnFlip(3200, [&] {
        long grown = AllocatedKiB() - memory, opened = OpenDescriptors() - descriptors;
        printf("grown %ld KiB, %ld descriptors opened: %s\n", grown, opened,
               grown < 1024 && opened == 0 ? "within budget" : "over budget");
    });
    TestRun run = RunLoop(dir.path);
    EXPECT_NE(run.out.find(": within budget\n"), std::string::npos) << run.out;
}
