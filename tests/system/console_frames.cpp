// The desktop side of scripts/console-system-test.sh: draws the frames that the desktop program
// shows for a session of button presses, and compares a screendump of the emulated console's
// framebuffer with them.
//
//   zorvel_console_frames record SESSION TREE OUT   runs the session in TREE, frames into OUT
//   zorvel_console_frames compare DUMP FRAME...      DUMP against the best of the FRAMEs
//
// A session is one step a line: "tap B1+B2+..." (the buttons before the last are held around
// the press of the last), "capture NAME" (the screen once nothing changes, as NAME.bmp), and
// "copying NAME" (every frame drawn while the copy started by the tap before it runs, as
// NAME-001.bmp and on). Buttons: up down left right a b x y l r start select. "old-kernel" makes
// the session's file operations meet the console's kernel.
#include <SDL_image.h>
#include <climits>
#include <fstream>
#include <map>
#include <sstream>
#include <unistd.h>

#include "tests/harness.h"

namespace {

const std::map<std::string, SDLKey> kButtonKeys = {
    {"up", kUp}, {"down", kDown}, {"left", kLeft},   {"right", kRight},
    {"a", kA},   {"b", kB},       {"x", kX},         {"y", kY},
    {"l", kL},   {"r", kR},       {"start", kStart}, {"select", kSelect}};
constexpr int kMostFlips = 20000;

// The flips saved while the sampled passes lie in [first, last]; the next tap closes an open last.
// A copy's flips are numbered, as PATH-001.bmp and on.
struct Capture {
    int first, last;
    std::string path;
    bool numbered;
};

std::string FramePath(const std::string &prefix, int number) {
    char suffix[32]; // room for any int, as the optimised build checks
    snprintf(suffix, sizeof suffix, "-%03d.bmp", number);
    return prefix + suffix;
}

int Failed(const char *what, const std::string &name) {
    fprintf(stderr, "%s %s\n", what, name.c_str());
    return 2;
}

int Record(const char *session_path, const std::string &tree, const std::string &out) {
    std::ifstream session(session_path);
    if (!session)
        return Failed("cannot read", session_path);
    // A few passes first, so that the start screen has frames of its own.
    KeyPlan plan = Plan();
    plan.Wait(3);
    int last_press = -1;
    std::vector<Capture> captures;
    for (std::string line; std::getline(session, line);) {
        std::istringstream words(line);
        std::string verb, argument;
        words >> verb >> argument;
        std::vector<SDLKey> keys;
        std::istringstream names(argument);
        for (std::string name; verb == "tap" && std::getline(names, name, '+');) {
            if (kButtonKeys.count(name) == 0)
                return Failed("unknown button", name);
            keys.push_back(kButtonKeys.at(name));
        }
        if (!keys.empty()) {
            // A capture before this tap ends before its first key goes down.
            for (Capture &capture : captures)
                capture.last = std::min(capture.last, plan.pass);
            int held = static_cast<int>(keys.size()) - 1;
            for (int i = 0; i < held; i++)
                ScriptHold(keys[i], plan.pass, plan.pass + 3);
            last_press = plan.pass + (held > 0 ? 1 : 0);
            ScriptTap(keys.back(), last_press);
            plan.pass += held > 0 ? 4 : 2;
        } else if (verb == "capture") {
            // The last flip after the press before it was sampled and before the next one is.
            captures.push_back({last_press + 1, INT_MAX, out + "/" + argument + ".bmp", false});
            // The user looks before the next press, as the emulated session waits for the
            // screen to settle: popups that open after a wait for release get their frames.
            plan.Wait(5);
        } else if (verb == "old-kernel") {
            SetKernel(Kernel::kOld);
        } else if (verb == "copying") {
            // The copy runs inside the pass of its press: every flip until the next sample.
            captures.push_back({last_press + 1, last_press + 1, out + "/" + argument, true});
        } else if (!verb.empty() && verb[0] != '#') {
            return Failed("unknown step", verb);
        }
    }
    int copy_frames = 0;
    for (int flip = 1; flip <= kMostFlips; flip++) {
        ScriptOnFlip(flip, [&] {
            for (const Capture &capture : captures) {
                if (ScriptPass() >= capture.first && ScriptPass() <= capture.last)
                    SDL_SaveBMP(SDL_GetVideoSurface(),
                                capture.numbered ? FramePath(capture.path, ++copy_frames).c_str()
                                                 : capture.path.c_str());
            }
        });
    }
    ScriptLimit(plan.pass + 50);
    TestRun result = RunLoop(tree);
    fputs(result.out.c_str(), stdout);
    // The last flip of the copy's pass is the browser's, drawn over the closed dialog. The
    // frames were saved in the browser's child: count them on disk. Without frames, the name
    // removed is one that no frame has.
    for (const Capture &capture : captures) {
        int frames = 0;
        while (capture.numbered && access(FramePath(capture.path, frames + 1).c_str(), F_OK) == 0)
            frames++;
        remove(FramePath(capture.path, frames).c_str());
    }
    return result.status;
}

int Compare(int count, char **paths) {
    SDL_Init(0);
    SDL_Surface *dump = IMG_Load(paths[0]);
    if (dump == nullptr)
        return Failed("cannot read", paths[0]);
    double best = 1.0;
    const char *best_frame = "";
    for (int i = 1; i < count; i++) {
        SDL_Surface *frame = SDL_LoadBMP(paths[i]);
        if (frame == nullptr)
            return Failed("cannot read", paths[i]);
        // The screen's picture inside a framebuffer that may be larger: at its top left, or
        // centred.
        for (int centred : {0, 1}) {
            int left = centred * (dump->w - frame->w) / 2, top = centred * (dump->h - frame->h) / 2;
            if (left + frame->w > dump->w || top + frame->h > dump->h)
                continue;
            int differing = 0;
            for (int y = 0; y < frame->h; y++) {
                for (int x = 0; x < frame->w; x++) {
                    SDL_Color want = ColorAt(frame, x, y), got = ColorAt(dump, left + x, top + y);
                    // A 16-bit framebuffer keeps 5 or 6 bits of each channel.
                    differing += abs(want.r - got.r) > 8 || abs(want.g - got.g) > 4 ||
                                 abs(want.b - got.b) > 8;
                }
            }
            double share = static_cast<double>(differing) / (frame->w * frame->h);
            best_frame = share < best ? paths[i] : best_frame;
            best = std::min(best, share);
        }
        SDL_FreeSurface(frame);
    }
    SDL_FreeSurface(dump);
    const char *base = strrchr(best_frame, '/');
    printf("%.2f%% of the pixels differ from %s\n", best * 100, base ? base + 1 : best_frame);
    // Room for a few glyph pixels that FreeType builds round differently.
    return best <= 0.005 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 5 && strcmp(argv[1], "record") == 0)
        return Record(argv[2], argv[3], argv[4]);
    if (argc >= 4 && strcmp(argv[1], "compare") == 0)
        return Compare(argc - 2, argv + 2);
    fputs("usage: zorvel_console_frames record SESSION TREE OUT\n"
          "       zorvel_console_frames compare DUMP FRAME...\n",
          stderr);
    return 2;
}
