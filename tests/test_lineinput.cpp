// The line-input dialog: what the field shows and what is handed back, typed on the keyboard.
#include <gtest/gtest.h>

#include <SDL_image.h>
#include <algorithm>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "common/globals.h"
#include "dialogs/lineinput.h"
#include "tests/harness.h"

// The cursor cell is red; the field is black.
static const SDL_Color kRed = {255, 0, 0, 0}, kBlack = {0, 0, 0, 0};

// Types the character of the cell that the directions select with the face key. On page 0: X
// backspace, Y 'm', A 'n', UP+LEFT with Y 'a' and with B 'b'; L switches to page 2, where B types
// clear (12) with LEFT held and enter (13) with RIGHT held.
static void Type(KeyPlan &plan, std::vector<SDLKey> directions, SDLKey face) {
    for (SDLKey direction : directions)
        ScriptTap(direction, plan.pass);
    plan.Tap(face);
}

struct Session {
    int status = -1, returned = -1, guard_intact = 0;
    std::string out, result, title;
    std::vector<std::string> fields; // "shown|cursor", each state once, in the order shown
};

static const char kUntouched[] = "untouched";

// Opens the dialog (capacity 256, 35 bytes shown) in a child over a green screen, with the keys
// that plan_keys scripts and then START, and reports what it showed and handed back. With
// captures set, the screen of the first and of the finishing pass are saved there.
static Session RunDialog(const std::function<void(KeyPlan &)> &plan_keys,
                         const std::string &initial = "", int width = 210, int height = 70,
                         std::string start_dir = "", const std::string &captures = "") {
    const int capacity = 256;
    std::string graphics = ZORVEL_GRAPHICS_DIR;
    if (start_dir.empty())
        start_dir = graphics.substr(0, graphics.rfind('/'));
    ChildResult run = RunChild([&] {
        if (!OpenTestDisplay())
            return 97;
        CopyString(option.start_dir, sizeof option.start_dir, start_dir.c_str());
        SDL_FillRect(gScreenSurface, nullptr, SDL_MapRGB(gScreenSurface->format, 0, 255, 0));
        memset(SDL_GetKeyState(nullptr), 0, SDLK_LAST);
        ScriptClear();
        KeyPlan plan;
        plan.Wait(2);
        if (plan_keys)
            plan_keys(plan);
        plan.Tap(kStart);
        ScriptLimit(plan.pass + 20);
        if (!captures.empty()) {
            ScriptCapture(1, captures + "/open.bmp");
            ScriptCapture(plan.pass - 2, captures + "/closed.bmp");
        }
        TakeShadedText();
        // Bytes past capacity + 1 must keep their '#'.
        std::vector<char> result(capacity + 1 + 64, '#');
        memcpy(result.data(), kUntouched, sizeof kUntouched);
        int returned =
            LineInput(width, height, capacity, 35, "title", initial.c_str(), result.data());
        bool intact = std::all_of(result.begin() + capacity + 1, result.end(),
                                  [](char byte) { return byte == '#'; });
        printf("returned %d guard %d\n%.*s\n%s", returned, intact, capacity + 1, result.data(),
               TakeShadedText().c_str());
        return 0;
    });
    Session session{run.status, -1, 0, run.out, "", "", {}};
    size_t at = run.out.find("returned ");
    if (at == std::string::npos)
        return session;
    std::istringstream lines(run.out.substr(at));
    lines.ignore(9) >> session.returned;
    lines.ignore(7) >> session.guard_intact;
    lines.ignore(1);
    std::getline(lines, session.result);
    std::getline(lines, session.title);
    for (std::string shown, cursor; std::getline(lines, shown) && std::getline(lines, cursor);)
        if (session.fields.empty() || session.fields.back() != shown + "|" + cursor)
            session.fields.push_back(shown + "|" + cursor);
    return session;
}

using Fields = std::vector<std::string>;

TEST(LineInput, AFullLineTakesOnePendingCharacterThatBackspaceRemovesFirst) {
    const std::string full = std::string(254, 'm') + "n", shown = full.substr(220);
    for (bool erase : {false, true}) {
        Session session = RunDialog([&](KeyPlan &plan) {
            plan.Tap(kY, 254);
            plan.Tap(kA);                 // the 255th byte
            Type(plan, {kUp, kLeft}, kY); // pending
            if (erase)
                plan.Tap(kX, 2);
            else
                Type(plan, {kUp, kLeft}, kB); // in its place
        });
        ASSERT_EQ(session.status, 0) << session.out;
        EXPECT_TRUE(session.guard_intact);
        EXPECT_EQ(session.result, erase ? full.substr(0, 254) : full + "b");
        // The field grows to 35 bytes and then scrolls; the pending character stays in the cursor.
        Fields fields;
        for (int length = 0; length <= 35; length++)
            fields.push_back(std::string(length, 'm') + "| ");
        Fields tail = erase ? Fields{shown + "| ", shown + "|a", shown + "| ", fields.back()}
                            : Fields{shown + "| ", shown + "|a", shown + "|b"};
        fields.insert(fields.end(), tail.begin(), tail.end());
        EXPECT_EQ(session.fields, fields);
    }
}

TEST(LineInput, ClearBackspaceOnNothingAndTheEnterCodeFinishes) {
    Session session = RunDialog(
        [](KeyPlan &plan) {
            plan.Tap(kL);
            Type(plan, {kLeft}, kB); // clear
            plan.Tap(kL);
            plan.Tap(kX);
            plan.Tap(kY);
            plan.Tap(kL);
            Type(plan, {kRight}, kB); // enter
            plan.Tap(kL);
            plan.Tap(kY);
        },
        "abc");
    ASSERT_EQ(session.status, 0) << session.out;
    EXPECT_EQ(session.returned, 1);
    EXPECT_EQ(session.result, "m");
    EXPECT_EQ(session.fields, (Fields{"abc| ", "| ", "m| "}));
}
