// The monkey run: the real program under the scripted-input facility, pass after pass of random
// states of all twelve buttons, in a world of its own where nothing outside can come to harm.
//
//   zorvel_monkey [passes [seed]]     (default 200000 passes, seed 1)
//
// Each worker process makes a private mount namespace, builds a world on a small memory file
// system (the shell, df and du with their libraries, the font, the keyboard's images, a small
// /boot), changes its root to it and becomes nobody. There it runs sessions of the browser from
// the world's root, each on a fresh random tree of nobody's, until the passes are used up. A
// confirmed execute hands the worker to the world's shell (the tree's executable files are scripts
// that exit at once) and a fatal condition of the program ends it; the next worker carries on.
// Anything else that ends a worker (a crash, a sanitizer report, a session that no longer quits,
// two minutes without a pass) fails the run, as does a resident size that grows by more than a few
// MiB. Status 0 when all went well, 1 on a failure, 77 when it cannot confine itself.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ftw.h>
#include <grp.h>
#include <regex>
#include <sched.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include "app/browser.h"
#include "app/session.h"
#include "input/input.h"
#include "tests/random_tree.h"

static const uid_t kNobody = 65534;
// Passes between samples of the resident size; the first sample of a worker is the base.
static const long kSamplePasses = 10000;
#if defined(__SANITIZE_ADDRESS__)
// The allocator's caches of freed blocks make the size wander by some MiB either way.
static const long kGrowthLimitKiB = 32 * 1024;
static const char kSmallQuarantine[] = ":quarantine_size_mb=1";
#else
static const long kGrowthLimitKiB = 8 * 1024;
#endif
// Passes after the budget in which a session must have closed its popups and quit.
static const int kWindDownPasses = 3000;
// Seconds a worker may go without a pass before it counts as hung.
static const int kStallSeconds = 120;
static const int kSanitizerStatus = 23;
// Chances in a thousand per pass that a button goes down while up, and up while down. R runs df
// and du, so it is rarer; START is rare, or sessions would end at once.
static const int kPressPerMille[BTN_COUNT] = {60, 60, 40, 40, 25, 25, 20, 20, 8, 4, 3, 30};
static const int kReleasePerMille[BTN_COUNT] = {300, 300, 300, 300, 500, 500,
                                                500, 500, 500, 500, 400, 100};
// Of the asks to execute (SELECT with A), those let through: workers must live long enough for
// their memory to be watched.
static const int kExecutePerMille = 250;
// Once out of passes, every second pass: B answers and closes every popup, START ends the line
// input, START with SELECT quits.
static const int kCloseAll[] = {1 << BTN_B, 1 << BTN_START, 1 << BTN_START | 1 << BTN_SELECT};

// The world, built by the shell as root where the private mount namespace has it: only the owner of
// an entry of its root may remove it, so nobody's trees live beside what the world needs. A
// sanitizer report written in the world lands in the host's log folder, whose parents nobody cannot
// list.
static const char kWorld[] = "/mnt";
static const char kWorldScript[] = R"(set -e; umask 022
mount -t tmpfs -o size=40m,mode=1777,nosuid,nodev tmpfs "$w"; cd "$w"
for f in /bin/sh /usr/bin/df /usr/bin/du $(ldd /bin/sh /usr/bin/df /usr/bin/du | grep -o '/[^ :]*') \
  "$font"; do cp -L --parents "$f" .; done
cp -R "$graphics" graphics; mkdir -p proc boot outside/dir
echo outside >outside/file; echo inner >outside/dir/inner
mount -t tmpfs -o size=1m,mode=0755,nosuid,nodev tmpfs boot
mount -t proc -o hidepid=2,nosuid,nodev,noexec proc proc
l=${ZORVEL_SANITIZER_LOGS:-}
if [ -n "$l" ]; then (umask 066; mkdir -p ".$l"); chmod 1777 "$l"; mount --bind "$l" ".$l"; fi)";

// What the workers tell the parent, in memory shared with them.
struct Tally {
    long passes, sessions, largest_growth_kib;
};

// Moves this process into the world as nobody; the step that was refused, or null.
static const char *EnterWorld() {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
        return "make a private mount namespace";
    std::string script = std::string("w=") + kWorld + " graphics='" + ZORVEL_GRAPHICS_DIR +
                         "' font='" + kTestFont + "'; " + kWorldScript;
    if (system(script.c_str()) != 0)
        return "build the world";
    if (chdir(kWorld) != 0 || chroot(".") != 0 || chdir("/") != 0)
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
    for (const std::string &name : Names("/"))
        if (lstat(("/" + name).c_str(), &status) == 0 && status.st_uid == kNobody)
            nftw(("/" + name).c_str(),
                 [](const char *path, const struct stat *, int, FTW *) { return remove(path); }, 16,
                 FTW_DEPTH | FTW_PHYS);
    Targets outside = {{"/outside/file"}, {"/outside/dir"}}, inside;
    int serial = 0;
    Populate(random, "", 3, 7, inside, outside, serial, true);
}

// Sets the buttons of one pass: random states while the budget lasts, then the closing of all.
static void PressButtons(Random &random, bool down[], long pass, long budget) {
    long step = pass - budget - 1;
    for (int button = 0; button < BTN_COUNT; button++)
        if (pass > budget)
            down[button] = step % 2 == 0 && (kCloseAll[step / 2 % 3] >> button & 1);
        else if (static_cast<int>(random.Below(1000)) <
                 (down[button] ? kReleasePerMille : kPressPerMille)[button])
            down[button] = !down[button];
    // START with SELECT quits, and SELECT with A executes: both come rarely.
    if (pass <= budget && down[BTN_SELECT]) {
        down[BTN_START] = down[BTN_START] && random.OneIn(4);
        down[BTN_A] = down[BTN_A] && static_cast<int>(random.Below(1000)) < kExecutePerMille;
    }
}

// One worker: enters the world, then runs sessions until the passes are used up. A worker that
// takes no pass for kStallSeconds is ended by the alarm.
static int RunWorker(Tally *tally, long budget, uint32_t seed) {
    alarm(kStallSeconds);
    if (const char *refused = EnterWorld()) {
        printf("monkey: cannot confine itself: %s: %s\n", refused, strerror(errno));
        return 77;
    }
    Random random(seed), trees(seed ^ 0x5eed);
    bool down[BTN_COUNT] = {};
    long base_kib = -1;
    while (tally->passes < budget) {
        RenewPlay(trees);
        printf("monkey: session %ld\n", ++tally->sessions);
        fflush(stdout);
        // A session starts where the program starts: in the folder that holds its images.
        if (chdir("/") != 0 || !OpenTestDisplay())
            return 4;
        // SDL ignores the alarm once started; the watch on stalls needs it back.
        signal(SIGALRM, SIG_DFL);
        ScriptClear();
        ScriptLimit(static_cast<int>(budget - tally->passes) + kWindDownPasses);
        ScriptSource([&](int, Uint8 *keys) {
            long pass = ++tally->passes, resident_pages = 0;
            alarm(kStallSeconds);
            PressButtons(random, down, pass, budget);
            for (int button = 0; button < BTN_COUNT; button++)
                keys[button_key[button]] = down[button];
            // Nothing here reads what was drawn; the harness keeps it until taken.
            TakeDrawnText();
            TakeShadedText();
            if (pass % kSamplePasses != 0)
                return;
            sscanf(ReadFile("/proc/self/statm").c_str(), "%*d %ld", &resident_pages);
            long kib = resident_pages * (sysconf(_SC_PAGESIZE) / 1024);
            base_kib = base_kib < 0 ? kib : base_kib;
            tally->largest_growth_kib = std::max(tally->largest_growth_kib, kib - base_kib);
            if (kib - base_kib > kGrowthLimitKiB) {
                printf("monkey: resident size grew by %ld KiB\n", kib - base_kib);
                fflush(stdout);
                _exit(3);
            }
        });
        MainLoop();
        End();
    }
    return 0;
}

// Whether a worker's end is one the program means: a confirmed execute that it logged and closed
// before handing over to the shell, or the exit of a fatal condition.
static bool EndedByDesign(const std::string &output, int code) {
    size_t execute = output.rfind("\nexecute: "), closed = output.rfind("sync disc\n");
    std::string last = output.substr(output.rfind('\n', output.size() - 2) + 1);
    static const std::regex kFatal("^(error: )?(cannot open dir|too many|pathname too long)");
    return (code >= 0 && code != kSanitizerStatus && closed != std::string::npos &&
            closed > execute) ||
           (code == 1 && std::regex_search(last, kFatal));
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
    if (geteuid() != 0) {
        puts("monkey: skipped, it needs root to confine itself");
        return 77;
    }
    auto *tally = static_cast<Tally *>(
        mmap(nullptr, sizeof(Tally), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    int workers = 0, ends_by_design = 0, failures = 0, status = 0;
    while (tally->passes < budget && failures == 0) {
        FILE *out = tmpfile();
        pid_t worker = fork();
        if (worker == 0) {
            dup2(fileno(out), STDOUT_FILENO);
            dup2(fileno(out), STDERR_FILENO);
            exit(RunWorker(tally, budget, seed + workers));
        }
        workers++;
        waitpid(worker, &status, 0);
        std::string output = ReadFile("/proc/self/fd/" + std::to_string(fileno(out)));
        fclose(out);
        int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (code == 77 && workers == 1) {
            printf("%s", output.c_str());
            return 77;
        }
        if (EndedByDesign(output, code)) {
            ends_by_design++;
        } else if (code != 0 || tally->passes < budget) {
            failures++;
            printf("monkey: worker %d ended with status %d (%s) after pass %ld (seed %u); its "
                   "output ends:\n%s\n",
                   workers, code, code >= 0 ? "exit" : strsignal(WTERMSIG(status)), tally->passes,
                   seed, output.substr(output.size() > 4000 ? output.size() - 4000 : 0).c_str());
        }
    }
    // Every showing of every worker must have pushed all that was drawn.
    printf("monkey: %ld passes, %ld sessions, %d workers, %d executes or fatal ends; largest "
           "growth %ld KiB; %d failures; %ld showings that differed from the screen\n",
           tally->passes, tally->sessions, workers, ends_by_design, tally->largest_growth_kib,
           failures, ModelMismatches());
    return failures == 0 && ModelMismatches() == 0 ? 0 : 1;
}
