// The monkey run: the real program under the scripted-input facility, pass after pass of random
// states of all twelve buttons, in a world of its own where nothing outside can come to harm.
//
//   zorvel_monkey [passes [seed]]     (default 200000 passes, seed 1)
//
// It makes a private mount namespace, has scripts/monkey-world.sh build the world, changes its
// root to it and becomes nobody. There it runs sessions of the browser from the world's root, each
// in a child on a fresh random tree of nobody's, until the passes are used up. A session may end
// in a confirmed execute, which closes the program and hands over to the world's shell (the
// tree's executable files are scripts that exit at once), or in a fatal condition of the program;
// any other end (a crash, a sanitizer report, no quit once the passes are up, two minutes without
// a pass, a resident size grown by more than a few MiB) fails the run. Status 0 when all went
// well, 1 on a failure, 77 when it cannot confine itself.
#include <csignal>
#include <filesystem>
#include <grp.h>
#include <regex>
#include <sched.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>

#include "input/input.h"
#include "tests/random_tree.h"

static const uid_t kNobody = 65534;
// Passes of a session between samples of its resident size; the first sample is the base.
static const int kSamplePasses = 2000;
// The allocator's caches of freed blocks make the size wander by a few MiB either way.
static const long kGrowthLimitKiB = 16 * 1024;
#if defined(__SANITIZE_ADDRESS__)
static const char kSmallQuarantine[] = ":quarantine_size_mb=1";
#endif
// Passes after the budget in which a session must have closed its popups and quit.
static const int kWindDownPasses = 3000;
// Seconds a session may go without a pass before it counts as hung.
static const int kStallSeconds = 120;
// Chances in a thousand per pass that a button goes down while up, and up while down. START is
// rare, or sessions would end at once.
static const int kPressPerMille[BTN_COUNT] = {60, 60, 40, 40, 25, 25, 20, 20, 8, 20, 3, 30};
static const int kReleasePerMille[BTN_COUNT] = {300, 300, 300, 300, 500, 500,
                                                500, 500, 500, 500, 400, 100};
// Once out of passes, every second pass: B answers and closes every popup, START ends the line
// input, START with SELECT quits.
static const int kCloseAll[] = {1 << BTN_B, 1 << BTN_START, 1 << BTN_START | 1 << BTN_SELECT};

// Moves this process into the world as nobody; the step that was refused, or null.
static const char *EnterWorld() {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
        return "make a private mount namespace";
    std::string source = __FILE__, world = "/mnt";
    if (system(("sh '" + source.substr(0, source.rfind("/tests/")) + "/scripts/monkey-world.sh' " +
                world + " '" + ZORVEL_GRAPHICS_DIR + "' '" + kTestFont + "'")
                   .c_str()) != 0)
        return "build the world";
    if (chdir(world.c_str()) != 0 || chroot(".") != 0 || chdir("/") != 0)
        return "change the root";
    setenv("PATH", "/bin:/usr/bin", 1);
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0 ||
        prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || geteuid() != kNobody)
        return "become nobody";
    // A change of user hides the process's own /proc files, where the sanitizers read.
    return prctl(PR_SET_DUMPABLE, 1, 0, 0, 0) != 0 ? "read its own /proc" : nullptr;
}

// Replaces what nobody has in the world's root with a fresh random tree.
static void RenewPlay(Random &random) {
    struct stat status;
    std::error_code error;
    for (const std::string &name : Names("/"))
        if (lstat(("/" + name).c_str(), &status) == 0 && status.st_uid == kNobody)
            std::filesystem::remove_all("/" + name, error);
    Targets outside = {{"/outside/file"}, {"/outside/dir"}}, inside;
    int serial = 0;
    Populate(random, "", 3, 7, inside, outside, serial, true);
}

// In a session's child, on every pass: watches for stalls and for growth of the resident size
// since the first sample, and sets the buttons: random states while the budget lasts, then the
// closing of all.
static void Pass(Random &random, bool down[], long pass, long budget, int session_pass,
                 Uint8 *keys) {
    static long base_kib = -1;
    long step = pass - budget - 1, pages = 0;
    // SDL ignores the alarm once started; the watch on stalls needs it back.
    signal(SIGALRM, SIG_DFL);
    alarm(kStallSeconds);
    for (int button = 0; button < BTN_COUNT; button++)
        if (pass > budget)
            down[button] = step % 2 == 0 && (kCloseAll[step / 2 % 3] >> button & 1);
        else if (static_cast<int>(random.Below(1000)) <
                 (down[button] ? kReleasePerMille : kPressPerMille)[button])
            down[button] = !down[button];
    // START with SELECT quits, and SELECT with A executes: both come rarely, or sessions would
    // be too short for their memory to be watched.
    if (pass <= budget && down[BTN_SELECT]) {
        down[BTN_START] = down[BTN_START] && random.OneIn(4);
        down[BTN_A] = down[BTN_A] && random.OneIn(4);
    }
    for (int button = 0; button < BTN_COUNT; button++)
        keys[button_key[button]] = down[button];
    // Nothing here reads what was drawn; the harness keeps it until taken.
    TakeDrawnText();
    TakeShadedText();
    if ((session_pass + 1) % kSamplePasses != 0 ||
        sscanf(ReadFile("/proc/self/statm").c_str(), "%*d %ld", &pages) != 1)
        return;
    long kib = pages * (sysconf(_SC_PAGESIZE) / 1024);
    base_kib = base_kib < 0 ? kib : base_kib;
    if (kib - base_kib > kGrowthLimitKiB)
        fprintf(stderr, "monkey: resident size grew by %ld KiB\n", kib - base_kib), abort();
}

int main(int argc, char *argv[]) {
#if defined(__SANITIZE_ADDRESS__)
    // Freed memory held back by the address sanitizer would hide the resident size's trend.
    const char *asan = getenv("ASAN_OPTIONS");
    if (asan == nullptr || strstr(asan, kSmallQuarantine) == nullptr) {
        setenv("ASAN_OPTIONS",
               (std::string(asan != nullptr ? asan : "") + kSmallQuarantine).c_str(), 1);
        execv("/proc/self/exe", argv);
    }
#endif
    long budget = argc > 1 ? atol(argv[1]) : 200000;
    uint32_t seed = argc > 2 ? static_cast<uint32_t>(atol(argv[2])) : 1;
    if (const char *refused = geteuid() != 0 ? "it needs root" : EnterWorld()) {
        printf("monkey: cannot confine itself: %s: %s\n", refused, strerror(errno));
        return 77;
    }
    // The passes of all sessions, counted by their children.
    auto *passes = static_cast<long *>(
        mmap(nullptr, sizeof(long), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    Random trees(seed ^ 0x5eed);
    static const std::regex kFatal("^(error: )?(cannot open dir|too many|pathname too long)");
    int sessions = 0;
    while (*passes < budget) {
        RenewPlay(trees);
        Random random(seed + sessions++);
        bool down[BTN_COUNT] = {};
        ScriptClear();
        ScriptLimit(static_cast<int>(budget - *passes) + kWindDownPasses);
        ScriptSource(
            [&](int pass, Uint8 *keys) { Pass(random, down, ++*passes, budget, pass, keys); });
        TestRun run = RunLoop("/");
        // A session ends by design when the program closed after its last execute, if any, or
        // when it ended at a fatal condition.
        size_t closed = run.out.rfind("sync disc\n") + 1,
               execute = run.out.rfind("\nexecute: ") + 1;
        std::string last = run.out.substr(run.out.rfind('\n', run.out.size() - 2) + 1);
        if ((run.status < 128 && run.status != 23 && closed > execute) ||
            (run.status == 1 && std::regex_search(last, kFatal)))
            continue;
        printf(
            "monkey: session %d ended with status %d after pass %ld (seed %u); its output:\n%s\n",
            sessions, run.status, *passes, seed, run.out.c_str());
        return 1;
    }
    // Every showing of every session must have pushed all that was drawn.
    printf("monkey: %ld passes, %d sessions; %ld showings that differed from the screen\n", *passes,
           sessions, ModelMismatches());
    return ModelMismatches() == 0 ? 0 : 1;
}
