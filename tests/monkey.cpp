// The monkey run: the real program under the scripted-input facility, pass after pass of random
// states of all twelve buttons, in a world of its own where nothing outside can come to harm.
//
//   zorvel_monkey [passes [seed]]     (default 200000 passes, seed 1)
//
// Each worker process makes a private mount namespace, builds a world on a small memory file
// system (the shell, df and du with their libraries, the font, the keyboard's images, a small
// /boot, all the world's and read-only to others), changes its root to it and becomes nobody.
// There it runs sessions of the browser (Init, MainLoop, End) from the world's root until the
// passes are used up; each session starts with a fresh random tree of nobody's in the root. START
// with SELECT ends a session and the next begins. A confirmed execute replaces the worker with the
// world's shell running an entry of the tree (its executable files are scripts that exit at once),
// and a fatal condition of the program (a directory that vanished, one with too many entries) ends
// it; the next worker carries on with the passes left. Anything else that ends a worker (a crash, a
// sanitizer report, a pass that no longer quits) fails the run, as does a resident size that grows
// by more than a few MiB. Ends with status 0 when all went well, 1 on a failure, 77 when it cannot
// confine itself (not root, or namespaces refused).
#include <SDL.h>
#include <SDL_image.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <map>
#include <sched.h>
#include <string>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "app/browser.h"
#include "app/session.h"
#include "common/globals.h"
#include "input/input.h"
#include "keyboard/dingux_vexpad.h"
#include "tests/harness.h"
#include "tests/random_tree.h"

static const long kDefaultPasses = 200000;
static const uid_t kNobody = 65534;
static const gid_t kNoGroup = 65534;
// The world's file system, where copies that outgrow it meet a full disk. Its root is open to
// everyone, but only the owner of an entry may remove or rename it: what the world needs stays,
// and nobody's random tree lives beside it.
static const char kWorldOptions[] = "size=40m,mode=1777";
static const char kBootOptions[] = "size=1m,mode=0755";
// Passes between samples of the resident size; the first samples of a worker, taken once its
// allocations have settled, are the base of the later ones.
static const long kSamplePasses = 10000;
static const int kWarmUpSamples = 1;
#if defined(__SANITIZE_ADDRESS__)
// The allocator's caches of freed blocks make the size wander by some MiB either way.
static const long kGrowthLimitKiB = 32 * 1024;
#else
static const long kGrowthLimitKiB = 8 * 1024;
#endif
// Passes after the budget in which a session must have closed its popups and quit.
static const int kWindDownPasses = 3000;
// Seconds a worker may go without a pass before it counts as hung.
static const int kStallSeconds = 120;
// Entries of a level of the play tree, and its depth.
static const int kPlayEntries = 7;
static const int kPlayDepth = 3;

// Chances in a thousand per pass that a button goes down while up, and up while down. The
// direction pad moves a lot; A, B, X and Y are pressed often enough to reach every command and
// popup; R runs df and du, so it is rarer; START is rare, or sessions would end at once.
static const int kPressPerMille[BTN_COUNT] = {60, 60, 40, 40, 25, 25, 20, 20, 8, 4, 3, 30};
static const int kReleasePerMille[BTN_COUNT] = {300, 300, 300, 300, 500, 500,
                                                500, 500, 500, 500, 400, 100};
// With SELECT held, a press of A asks to execute: only this many in a thousand are let through,
// so that workers live long enough for their memory to be watched.
static const int kExecutePerMille = 250;

// The titles of the popups and dialogs, and the beginnings of the commands' log lines.
static const char *const kTitles[] = {"Error\n",     "Confirm\n",    "File Info\n",
                                      "Disk Info\n", "create dir\n", "rename\n"};
static const int kTitleCount = sizeof kTitles / sizeof kTitles[0];
static const char *const kLogLines[] = {
    "chdir: ", "execute: ", "delete: ", "copy: ", "move: ", "mkdir: ", "rename: "};
static const int kLogLineCount = sizeof kLogLines / sizeof kLogLines[0];
// The status with which the sanitizers end a process that they report on.
static const int kSanitizerStatus = 23;

// What the workers report to the parent, in memory shared with them.
struct Tally {
    long passes;
    long sessions;
    long quits;
    long samples;
    long largest_growth_kib;
    int in_session;
    int done;
    long shown[kTitleCount];    // popups and dialogs opened, by title
    long logged[kLogLineCount]; // command log lines, by beginning
};

static long CountOf(const std::string &text, const std::string &piece) {
    long count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        count++;
    return count;
}

// The host's files that the world needs, each at the same path in the world.
struct WorldFiles {
    std::vector<std::string> programs; // copied executable, under /bin
    std::vector<std::string> libraries;
    std::string graphics;
    std::vector<std::string> report_dirs; // the sanitizers' log folders, shared with the world
};

// The folders that the sanitizers' options name for their reports.
static std::vector<std::string> ReportDirs() {
    std::vector<std::string> dirs;
    for (const char *variable : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        const char *options = getenv(variable);
        const char *path = options != nullptr ? strstr(options, "log_path=/") : nullptr;
        if (path == nullptr)
            continue;
        std::string file(path + strlen("log_path="), strcspn(path + strlen("log_path="), ":"));
        std::string dir = file.substr(0, file.rfind('/'));
        if (!dir.empty() && std::find(dirs.begin(), dirs.end(), dir) == dirs.end())
            dirs.push_back(dir);
    }
    return dirs;
}

static bool CopyFileTo(const std::string &from, const std::string &to, mode_t mode) {
    std::string content = ReadFile(from);
    if (content.empty())
        return false;
    FILE *stream = fopen(to.c_str(), "wb");
    if (stream == nullptr)
        return false;
    bool written = fwrite(content.data(), 1, content.size(), stream) == content.size();
    return fclose(stream) == 0 && written && chmod(to.c_str(), mode) == 0;
}

// Makes every directory of path below root with the mode.
static void MakeParents(const std::string &root, const std::string &path, mode_t mode = 0755) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        mkdir((root + path.substr(0, slash)).c_str(), mode);
}

// The libraries that ldd names for the programs.
static std::vector<std::string> LibrariesOf(const std::vector<std::string> &programs) {
    std::vector<std::string> libraries;
    std::string command = "ldd";
    for (const std::string &program : programs)
        command += " " + program;
    FILE *report = popen(command.c_str(), "r");
    if (report == nullptr)
        return libraries;
    char line[1024];
    while (fgets(line, sizeof line, report) != nullptr) {
        const char *path = strstr(line, "=> /");
        path = path != nullptr ? path + 3 : strchr(line, '/');
        // Lines that name the program itself end in a colon.
        if (path == nullptr || line[strcspn(line, "\n") - 1] == ':')
            continue;
        std::string library(path, strcspn(path, " \n("));
        if (std::find(libraries.begin(), libraries.end(), library) == libraries.end())
            libraries.push_back(library);
    }
    pclose(report);
    return libraries;
}

static int RemoveEntry(const char *path, const struct stat *, int, struct FTW *) {
    return remove(path);
}

// Builds the world at root, mounted there on a memory file system; the step that was refused,
// or null.
static const char *BuildWorld(const std::string &root, const WorldFiles &files) {
    if (mount("tmpfs", root.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, kWorldOptions) != 0)
        return "mount the world";
    for (const char *dir : {"/bin", "/proc", "/boot", "/graphics", "/outside", "/outside/dir"})
        mkdir((root + dir).c_str(), 0755);
    const char *names[] = {"sh", "df", "du"};
    for (size_t i = 0; i < files.programs.size(); i++)
        if (!CopyFileTo(files.programs[i], root + "/bin/" + names[i], 0755))
            return "copy the programs";
    for (const std::string &library : files.libraries) {
        MakeParents(root, library);
        if (!CopyFileTo(library, root + library, 0755))
            return "copy the libraries";
    }
    MakeParents(root, kTestFont);
    if (!CopyFileTo(kTestFont, root + kTestFont, 0644))
        return "copy the font";
    for (const char *image : guiStrings)
        if (!CopyFileTo(files.graphics + image, root + "/graphics" + image, 0644))
            return "copy the keyboard's images";
    WriteFile(root + "/outside/file", "outside");
    WriteFile(root + "/outside/dir/inner", "inner");
    // df reports a /boot, as on the console.
    if (mount("tmpfs", (root + "/boot").c_str(), "tmpfs", MS_NOSUID | MS_NODEV, kBootOptions))
        return "mount /boot";
    // A report written in the world lands in the host's log folder, at its own path; the folders
    // on the way there cannot be listed, so the browser never shows it.
    for (const std::string &dir : files.report_dirs) {
        MakeParents(root, dir + "/", 0711);
        if (chmod(dir.c_str(), 01777) != 0 ||
            mount(dir.c_str(), (root + dir).c_str(), nullptr, MS_BIND, nullptr) != 0)
            return "share the sanitizers' log folder";
    }
    // Only the processes of nobody show in /proc, which the leak check reads.
    if (mount("proc", (root + "/proc").c_str(), "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC,
              "hidepid=2") != 0)
        return "mount /proc";
    return nullptr;
}

// Moves this process into the world as nobody; the step that was refused, or null.
static const char *EnterWorld(const std::string &root, const WorldFiles &files) {
    if (unshare(CLONE_NEWNS) != 0)
        return "make a mount namespace";
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return "keep the mounts private";
    if (const char *refused = BuildWorld(root, files))
        return refused;
    // Images load through libraries loaded now, outside; warm the loader up before leaving.
    SurfacePtr image(IMG_Load((files.graphics + guiStrings[0]).c_str()));
    if (!image)
        return "load an image";
    if (chdir(root.c_str()) != 0 || chroot(".") != 0 || chdir("/") != 0)
        return "change the root";
    setenv("PATH", "/bin", 1);
    if (setgroups(0, nullptr) != 0 || setgid(kNoGroup) != 0 || setuid(kNobody) != 0 ||
        prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || geteuid() != kNobody)
        return "become nobody";
    // A change of user hides the process's own /proc files from it, where the sanitizers read
    // their options and the leak check the memory map.
    if (prctl(PR_SET_DUMPABLE, 1, 0, 0, 0) != 0)
        return "read its own /proc";
    return nullptr;
}

// Replaces what nobody has in the world's root with a fresh random tree.
static void RenewPlay(Random &random) {
    DIR *root = opendir("/");
    std::vector<std::string> owned;
    while (const dirent *entry = root != nullptr ? readdir(root) : nullptr) {
        struct stat status;
        std::string path = std::string("/") + entry->d_name;
        if (lstat(path.c_str(), &status) == 0 && status.st_uid == kNobody)
            owned.push_back(path);
    }
    if (root != nullptr)
        closedir(root);
    for (const std::string &path : owned)
        nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    Targets outside = {{"/outside/file"}, {"/outside/dir"}};
    Targets inside;
    int serial = 0;
    Populate(random, "", kPlayDepth, kPlayEntries, inside, outside, serial, true);
}

static long ResidentKiB(int statm) {
    char text[128] = "";
    ssize_t length = pread(statm, text, sizeof text - 1, 0);
    if (length <= 0)
        return 0;
    text[length] = '\0';
    long size = 0, resident = 0;
    sscanf(text, "%ld %ld", &size, &resident);
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The random button states, one pass at a time, and the watch on the resident size.
struct Monkey {
    Tally *tally;
    long budget;
    int statm;
    Random random;
    bool down[BTN_COUNT] = {};
    long first_kib = 0;
    long wind_down = 0;

    void Pass(Uint8 *keys) {
        long pass = ++tally->passes;
        if (pass <= budget) {
            for (int button = 0; button < BTN_COUNT; button++) {
                bool was_down = down[button];
                int chance = was_down ? kReleasePerMille[button] : kPressPerMille[button];
                if (static_cast<int>(random.Below(1000)) < chance)
                    down[button] = !was_down;
            }
            // START with SELECT quits; both must come rarely together.
            if (down[BTN_START] && down[BTN_SELECT] && !random.OneIn(4))
                down[BTN_START] = false;
            if (down[BTN_A] && down[BTN_SELECT] &&
                static_cast<int>(random.Below(1000)) >= kExecutePerMille)
                down[BTN_A] = false;
        } else {
            // Out of passes: B answers and closes every popup, START finishes the line input,
            // START with SELECT quits; every second pass lets all go.
            static const int kCloseAll[] = {1 << BTN_B, 1 << BTN_START,
                                            1 << BTN_START | 1 << BTN_SELECT};
            int step = static_cast<int>(wind_down++);
            int pressed = step % 2 == 0 ? kCloseAll[step / 2 % 3] : 0;
            for (int button = 0; button < BTN_COUNT; button++)
                down[button] = (pressed >> button) & 1;
        }
        for (int button = 0; button < BTN_COUNT; button++)
            keys[button_key[button]] = down[button] ? 1 : 0;
        // Titles are drawn once, when their box opens; nothing keeps what was drawn.
        TakeDrawnText();
        std::string shaded = TakeShadedText();
        for (int title = 0; title < kTitleCount; title++)
            tally->shown[title] += CountOf(shaded, kTitles[title]);
        if (pass % kSamplePasses == 0)
            Sample();
    }

    void Sample() {
        long kib = ResidentKiB(statm);
        if (++samples_taken == kWarmUpSamples)
            first_kib = kib;
        if (samples_taken <= kWarmUpSamples)
            return;
        tally->samples++;
        long growth = kib - first_kib;
        if (growth > tally->largest_growth_kib)
            tally->largest_growth_kib = growth;
        if (growth > kGrowthLimitKiB) {
            printf("monkey: resident size grew by %ld KiB\n", growth);
            fflush(stdout);
            _exit(3);
        }
    }
    int samples_taken = 0;
};

// One worker: enters the world, then runs sessions until the passes are used up.
static int RunWorker(Tally *tally, long budget, uint32_t seed, const std::string &root,
                     const WorldFiles &files) {
    int statm = open("/proc/self/statm", O_RDONLY);
    const char *refused = statm < 0 ? "read the resident size" : EnterWorld(root, files);
    if (refused != nullptr) {
        printf("monkey: cannot confine itself: %s: %s\n", refused, strerror(errno));
        return 77;
    }
    Monkey monkey{tally, budget, statm, Random(seed)};
    Random trees(seed ^ 0x5eed);
    while (tally->passes < budget) {
        RenewPlay(trees);
        // A session starts where the program starts: in the folder that holds its images.
        if (chdir("/") != 0)
            return 5;
        printf("monkey: session %ld\n", tally->sessions + 1);
        fflush(stdout);
        if (!OpenTestDisplay()) {
            puts("monkey: cannot open the display");
            return 4;
        }
        ScriptClear();
        ScriptLimit(static_cast<int>(budget - tally->passes) + kWindDownPasses);
        ScriptSource([&](int, Uint8 *keys) { monkey.Pass(keys); });
        tally->sessions++;
        tally->in_session = 1;
        MainLoop();
        End();
        tally->in_session = 0;
        tally->quits++;
    }
    tally->done = 1;
    fflush(stdout);
    return 0;
}

// The last lines of a worker's output, from its last session on.
static std::string LastSession(const std::string &out) {
    size_t start = out.rfind("monkey: session ");
    return start == std::string::npos ? out : out.substr(start);
}

// Whether a worker's last session ended with a condition the program ends on by design.
static const char *FatalCondition(const std::string &session) {
    static const char *const kFatal[] = {"cannot open dir", "error: cannot open dir",
                                         "error: too many subdirs", "error: too many files",
                                         "error: pathname too long"};
    size_t last_line = session.rfind('\n', session.size() - 2);
    std::string line = session.substr(last_line == std::string::npos ? 0 : last_line + 1);
    for (const char *fatal : kFatal)
        if (line.compare(0, strlen(fatal), fatal) == 0)
            return fatal;
    return nullptr;
}

int main(int argc, char *argv[]) {
#if defined(__SANITIZE_ADDRESS__)
    // Freed memory held back by the address sanitizer would hide the resident size's trend:
    // the run starts again with a small quarantine.
    if (getenv("ZORVEL_MONKEY_QUARANTINE") == nullptr) {
        const char *options = getenv("ASAN_OPTIONS");
        std::string small =
            std::string(options != nullptr ? options : "") + ":quarantine_size_mb=1";
        setenv("ASAN_OPTIONS", small.c_str(), 1);
        setenv("ZORVEL_MONKEY_QUARANTINE", "1", 1);
        execv("/proc/self/exe", argv);
    }
#endif
    long budget = argc > 1 ? atol(argv[1]) : kDefaultPasses;
    uint32_t seed = argc > 2 ? static_cast<uint32_t>(atol(argv[2])) : 1;
    if (geteuid() != 0) {
        puts("monkey: skipped, it needs root to confine itself");
        return 77;
    }
    char base_pattern[] = "/tmp/zorvel-monkey-XXXXXX";
    if (mkdtemp(base_pattern) == nullptr)
        return 1;
    std::string base = base_pattern, root = base + "/world", out_path = base + "/out";
    mkdir(root.c_str(), 0700);
    WorldFiles files;
    files.programs = {"/bin/sh", "/usr/bin/df", "/usr/bin/du"};
    files.libraries = LibrariesOf(files.programs);
    files.graphics = ZORVEL_GRAPHICS_DIR;
    files.report_dirs = ReportDirs();

    auto *tally = static_cast<Tally *>(
        mmap(nullptr, sizeof(Tally), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    memset(tally, 0, sizeof *tally);
    int workers = 0, execs = 0, failures = 0, status = 0;
    std::map<std::string, int> fatal_ends;
    while (tally->passes < budget && failures == 0) {
        workers++;
        long passes_before = tally->passes;
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        fflush(stdout);
        pid_t worker = fork();
        if (worker == 0) {
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
            int result = RunWorker(tally, budget, seed + workers, root, files);
            fflush(stdout);
            exit(result);
        }
        close(out);
        // A worker that stops taking passes is hung.
        long last_passes = -1;
        int still = 0, wait_status = 0;
        while (waitpid(worker, &wait_status, WNOHANG) == 0) {
            sleep(1);
            still = tally->passes == last_passes ? still + 1 : 0;
            last_passes = tally->passes;
            if (still >= kStallSeconds) {
                kill(worker, SIGKILL);
                waitpid(worker, &wait_status, 0);
                printf("monkey: worker %d took no pass for %d s\n", workers, kStallSeconds);
                wait_status = -1;
                break;
            }
        }
        std::string output = ReadFile(out_path);
        for (int line = 0; line < kLogLineCount; line++)
            tally->logged[line] += CountOf(output, std::string("\n") + kLogLines[line]);
        std::string session = LastSession(output);
        bool exited = wait_status != -1 && WIFEXITED(wait_status);
        int code = exited ? WEXITSTATUS(wait_status) : -1;
        const char *fatal = FatalCondition(session);
        if (exited && code == 77 && tally->passes == passes_before) {
            printf("%s", session.c_str());
            status = 77;
            break;
        }
        if (exited && code == 0 && tally->done)
            break;
        // A confirmed execute logs, closes with End and hands the process to the shell, whose
        // status is the worker's.
        size_t execute = session.rfind("\nexecute: ");
        size_t closed = session.rfind("sync disc\n");
        if (tally->in_session && exited && code != kSanitizerStatus &&
            execute != std::string::npos && closed != std::string::npos && closed > execute) {
            execs++;
        } else if (exited && code == 1 && fatal != nullptr) {
            fatal_ends[fatal]++;
        } else {
            failures++;
            printf("monkey: worker %d ended with %s %d after pass %ld (seed %u); its last "
                   "session:\n%s\n",
                   workers, exited ? "status" : "signal",
                   exited ? code : (WIFSIGNALED(wait_status) ? WTERMSIG(wait_status) : 0),
                   tally->passes, seed,
                   session.substr(session.size() > 4000 ? session.size() - 4000 : 0).c_str());
        }
        tally->in_session = 0;
    }
    nftw(base.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    if (status == 77)
        return 77;
    printf("monkey: %ld passes, %ld sessions, %ld quits, %d workers, %d executes, fatal ends:",
           tally->passes, tally->sessions, tally->quits, workers, execs);
    for (const auto &fatal : fatal_ends)
        printf(" %d \"%s\"", fatal.second, fatal.first.c_str());
    printf("; %ld size samples, largest growth %ld KiB; %d failures\nmonkey: shown", tally->samples,
           tally->largest_growth_kib, failures);
    for (int title = 0; title < kTitleCount; title++)
        printf(" %.*s %ld,", static_cast<int>(strlen(kTitles[title]) - 1), kTitles[title],
               tally->shown[title]);
    printf(" logged");
    for (int line = 0; line < kLogLineCount; line++)
        printf(" %s%ld", kLogLines[line], tally->logged[line]);
    printf("\n");
    // Every showing of every worker must have pushed all that was drawn.
    printf("monkey: %ld showings after which the display differed from the screen\n",
           ModelMismatches());
    return failures == 0 && ModelMismatches() == 0 ? 0 : 1;
}
