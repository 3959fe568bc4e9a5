// Long sessions: what a leak costs shows only after many files or frames.
#include <gtest/gtest.h>

#include <cstdio>
#include <dirent.h>
#include <string>
#include <unistd.h>

#include "app/fs/copytree.h"
#include "tests/harness.h"

// Open descriptors of this process.
static int OpenDescriptors() {
    int count = 0;
    DIR *listing = opendir("/proc/self/fd");
    if (listing == nullptr)
        return -1;
    while (readdir(listing) != nullptr)
        count++;
    closedir(listing);
    return count;
}

// Resident memory of this process, in KiB.
static long ResidentKiB() {
    long pages_total = 0, pages_resident = -1;
    FILE *statm = fopen("/proc/self/statm", "r");
    if (statm == nullptr)
        return -1;
    if (fscanf(statm, "%ld %ld", &pages_total, &pages_resident) != 2)
        pages_resident = -1;
    fclose(statm);
    return pages_resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Without a close per copied file the copy would run out of descriptors near a thousand files.
TEST(LongSession, CopyingElevenHundredFilesLeavesNoDescriptorOpen) {
    TempDir source;
    TempDir dest;
    // A directory holds at most 249 files: five of 220.
    MakeDir(source / "many");
    for (int i = 0; i < 1100; i++) {
        std::string group = "many/g" + std::to_string(i / 220);
        if (i % 220 == 0)
            MakeDir(source / group);
        WriteFile(source / (group + "/f" + std::to_string(i)), "x");
    }
    OperationRun run = RunFileOperation([&] {
        int before = OpenDescriptors();
        int result = CopyDirEntry(dest.path.c_str(), source.path.c_str(), "many/");
        if (before > 0)
            printf("descriptors left open: %d\n", OpenDescriptors() - before);
        return result;
    });
    EXPECT_EQ(run.result, 1) << run.out;
    EXPECT_EQ(run.popups, 0);
    EXPECT_NE(run.out.find("descriptors left open: 0\n"), std::string::npos) << run.out;
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
    ScriptClear();
    ScriptLimit(5000);
    // Down and up held in turn: the press and then every other frame move the cursor and redraw
    // both panes.
    KeyPlan plan;
    for (int turn = 0; turn < 40; turn++)
        plan.Hold(turn % 2 == 0 ? kDown : kUp, 80);
    plan.Quit();
    // The harness keeps every drawn text: dropped now and then, it costs the budget nothing.
    for (int flip = 100; flip <= 3200; flip += 100)
        ScriptOnFlip(flip, [] {
            TakeDrawnText();
            TakeShadedText();
        });
    long early = -1;
    int early_descriptors = -1;
    ScriptOnFlip(300, [&] {
        early = ResidentKiB();
        early_descriptors = OpenDescriptors();
    });
    ScriptOnFlip(3200, [&] {
        if (early > 0)
            printf("grown %ld KiB, descriptors %d\n", ResidentKiB() - early,
                   OpenDescriptors() - early_descriptors);
    });
    ChildResult run = RunBrowser(dir.path);
    ASSERT_EQ(run.status, 0) << run.out;
    long grown = -1;
    int descriptors = -1;
    size_t at = run.out.find("grown ");
    ASSERT_NE(at, std::string::npos) << run.out;
    ASSERT_EQ(sscanf(&run.out[at], "grown %ld KiB, descriptors %d", &grown, &descriptors), 2);
    EXPECT_LT(grown, 1024) << "KiB grown over 2,900 frames";
    EXPECT_EQ(descriptors, 0);
}
