// The line-input dialog: what the field shows and what is handed back, typed on the keyboard.
#include <gtest/gtest.h>

#include <SDL_image.h>
#include <algorithm>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "app/globals.h"
#include "dialogs/lineinput.h"
#include "tests/harness.h"

constexpr SDLKey kUp = SDLK_UP, kLeft = SDLK_LEFT, kRight = SDLK_RIGHT;
constexpr SDLKey kA = SDLK_LCTRL, kB = SDLK_LALT, kX = SDLK_SPACE, kY = SDLK_LSHIFT;
constexpr SDLKey kL = SDLK_TAB, kStart = SDLK_RETURN, kSelect = SDLK_ESCAPE;

// The build folder holds the keyboard's images in graphics/, as a start directory does.
static std::string BuildDir() {
    std::string graphics = ZORVEL_GRAPHICS_DIR;
    return graphics.substr(0, graphics.rfind('/'));
}

// Types the character of the cell that the directions select with the face key: all down for
// one pass, then one pass with everything up.
static void Type(KeyPlan &plan, std::initializer_list<SDLKey> directions, SDLKey face) {
    for (SDLKey direction : directions)
        ScriptTap(direction, plan.pass);
    plan.Tap(face);
}

// On page 0: X backspace, Y 'm', A 'n'. L switches to page 2, where B types clear (12) with
// left held and enter (13) with right held.
static void TypeClear(KeyPlan &plan) {
    plan.Tap(kL);
    Type(plan, {kLeft}, kB);
    plan.Tap(kL);
}

struct DialogCall {
    int width = 210;
    int height = 70;
    int capacity = 256;
    int visible = 35;
    std::string initial;
    std::string start_dir = BuildDir();
    std::string backdrop_capture; // saved at the first pass, when set
    std::string closed_capture;   // saved at the finishing pass, after the screen came back
};

// One state of the field: the shown text and the cursor cell.
struct Field {
    std::string shown;
    std::string cursor;
    bool operator==(const Field &other) const {
        return shown == other.shown && cursor == other.cursor;
    }
};

static std::ostream &operator<<(std::ostream &out, const Field &field) {
    return out << "[" << field.shown << "|" << field.cursor << "]";
}

struct Session {
    int status = -1;
    std::string out;
    int returned = -1;
    bool guard_intact = false;
    std::string result;
    std::string title;
    std::vector<Field> fields; // each state once, in the order shown
};

static const char kUntouched[] = "untouched";
static const size_t kGuardBytes = 64;

// Opens the dialog in a child with the keys that plan_keys scripts and reports what it showed
// and handed back.
static Session RunDialog(const DialogCall &call, const std::function<void(KeyPlan &)> &plan_keys) {
    ChildResult run = RunChild([&] {
        if (!OpenTestDisplay())
            return 97;
        CopyString(option.start_dir, sizeof option.start_dir, call.start_dir.c_str());
        SDL_FillRect(gScreenSurface, nullptr, SDL_MapRGB(gScreenSurface->format, 0, 255, 0));
        memset(SDL_GetKeyState(nullptr), 0, SDLK_LAST);
        ScriptClear();
        KeyPlan plan;
        // The first read after a finished dialog acts on no key.
        plan.Wait(2);
        plan_keys(plan);
        ScriptLimit(plan.pass + 20);
        if (!call.backdrop_capture.empty())
            ScriptCapture(1, call.backdrop_capture);
        if (!call.closed_capture.empty())
            ScriptCapture(plan.pass - 2, call.closed_capture);
        TakeShadedText();

        std::vector<char> result(call.capacity + 1 + kGuardBytes, '#');
        memcpy(result.data(), kUntouched, sizeof kUntouched);
        const std::vector<char> before = result;
        int returned = LineInput(call.width, call.height, call.capacity, call.visible, "title",
                                 call.initial.c_str(), result.data());
        bool guard_intact = std::equal(result.begin() + call.capacity + 1, result.end(),
                                       before.begin() + call.capacity + 1);
        size_t length = strnlen(result.data(), call.capacity + 1);
        printf("returned %d guard %d\n", returned, guard_intact ? 1 : 0);
        printf("result %zu:", length);
        fwrite(result.data(), 1, length, stdout);
        printf("\nfields\n%s", TakeShadedText().c_str());
        return 0;
    });

    Session session;
    session.status = run.status;
    session.out = run.out;
    size_t at = run.out.find("returned ");
    if (at == std::string::npos)
        return session;
    int guard = 0;
    size_t length = 0;
    sscanf(run.out.c_str() + at, "returned %d guard %d\nresult %zu:", &session.returned, &guard,
           &length);
    session.guard_intact = guard == 1;
    at = run.out.find(':', at) + 1;
    session.result = run.out.substr(at, length);
    at = run.out.find("\nfields\n", at + length) + 8;
    std::vector<std::string> texts;
    for (size_t end; (end = run.out.find('\n', at)) != std::string::npos; at = end + 1)
        texts.push_back(run.out.substr(at, end - at));
    if (!texts.empty())
        session.title = texts[0];
    for (size_t i = 1; i + 1 < texts.size(); i += 2) {
        Field field = {texts[i], texts[i + 1]};
        if (session.fields.empty() || !(session.fields.back() == field))
            session.fields.push_back(field);
    }
    return session;
}

// The last count states of the field.
static std::vector<Field> LastFields(const Session &session, size_t count) {
    size_t from = session.fields.size() > count ? session.fields.size() - count : 0;
    return std::vector<Field>(session.fields.begin() + from, session.fields.end());
}

TEST(LineInput, AFullTextTakesOnePendingCharacterThatFurtherCharactersReplace) {
    Session session = RunDialog({}, [](KeyPlan &plan) {
        plan.Tap(kY, 255);
        Type(plan, {kUp, kLeft}, kY); // 'a'
        Type(plan, {kUp, kLeft}, kB); // 'b'
        plan.Tap(kStart);
    });
    ASSERT_EQ(session.status, 0) << session.out;
    EXPECT_EQ(session.returned, 1);
    EXPECT_EQ(session.result, std::string(255, 'm') + "b");
    EXPECT_TRUE(session.guard_intact);
    EXPECT_EQ(session.title, "title");
    // The field grows to 35 bytes and then scrolls; the pending character stays in the cursor.
    std::vector<Field> expected;
    for (int length = 0; length <= 35; length++)
        expected.push_back({std::string(length, 'm'), " "});
    expected.push_back({std::string(35, 'm'), "a"});
    expected.push_back({std::string(35, 'm'), "b"});
    EXPECT_EQ(session.fields, expected);
}

TEST(LineInput, APendingCharacterIsNeverPartOfTheShownText) {
    DialogCall call;
    call.capacity = 4;
    Session session = RunDialog(call, [](KeyPlan &plan) {
        plan.Tap(kY, 3);
        plan.Tap(kA, 2); // 'n', then 'n' again in its place
        plan.Tap(kStart);
    });
    ASSERT_EQ(session.status, 0) << session.out;
    EXPECT_EQ(session.result, "mmmn");
    EXPECT_TRUE(session.guard_intact);
    EXPECT_EQ(LastFields(session, 2), (std::vector<Field>{{"mmm", " "}, {"mmm", "n"}}));
}

TEST(LineInput, BackspaceRemovesThePendingCharacterFirstThenTheLastByte) {
    Session session = RunDialog({}, [](KeyPlan &plan) {
        plan.Tap(kY, 254);
        plan.Tap(kA);                 // 'n', the 255th byte
        Type(plan, {kUp, kLeft}, kY); // pending 'a'
        plan.Tap(kX, 2);
        plan.Tap(kStart);
    });
    ASSERT_EQ(session.status, 0) << session.out;
    EXPECT_EQ(session.result, std::string(254, 'm'));
    std::string full = std::string(34, 'm') + "n";
    std::vector<Field> expected = {
        {full, " "}, {full, "a"}, {full, " "}, {std::string(35, 'm'), " "}};
    EXPECT_EQ(LastFields(session, 4), expected);
}

TEST(LineInput, AnInitialTextOverTheCapacityIsCutAndOpensFull) {
    DialogCall call;
    for (int i = 0; i < 300; i++)
        call.initial += static_cast<char>('0' + i % 10);
    Session session = RunDialog(call, [](KeyPlan &plan) {
        plan.Tap(kY);
        plan.Tap(kStart);
    });
    ASSERT_EQ(session.status, 0) << session.out;
    std::string kept = call.initial.substr(0, 255);
    EXPECT_EQ(session.result, kept + "m");
    std::vector<Field> expected = {{kept.substr(220), " "}, {kept.substr(220), "m"}};
    EXPECT_EQ(session.fields, expected);
}

TEST(LineInput, TheFieldShowsTheLastVisibleBytesAndSelectDoesNothing) {
    DialogCall call;
    call.initial = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcd";
    Session session = RunDialog(call, [](KeyPlan &plan) {
        plan.Tap(kSelect);
        plan.Tap(kX);
        plan.Tap(kStart);
    });
    ASSERT_EQ(session.status, 0) << session.out;
    // Bytes 6 to 40, then after the backspace bytes 5 to 39.
    std::vector<Field> expected = {{"56789ABCDEFGHIJKLMNOPQRSTUVWXYZabcd", " "},
                                   {"456789ABCDEFGHIJKLMNOPQRSTUVWXYZabc", " "}};
    EXPECT_EQ(session.fields, expected);
    EXPECT_EQ(session.result, call.initial.substr(0, 39));
}

TEST(LineInput, ClearThenStartHandsBackAnEmptyText) {
    DialogCall call;
    call.initial = "abc";
    Session session = RunDialog(call, [](KeyPlan &plan) {
        TypeClear(plan);
        plan.Tap(kStart);
    });
    ASSERT_EQ(session.status, 0) << session.out;
    EXPECT_EQ(session.returned, 1);
    EXPECT_EQ(session.result, "");
    std::vector<Field> expected = {{"abc", " "}, {"", " "}};
    EXPECT_EQ(session.fields, expected);
}

TEST(LineInput, BackspaceOnAnEmptyTextThenTypingAndTheEnterCodeFinishes) {
    Session session = RunDialog({}, [](KeyPlan &plan) {
        plan.Tap(kX);
        plan.Tap(kY);
        plan.Tap(kL);
        Type(plan, {kRight}, kB); // 13
    });
    ASSERT_EQ(session.status, 0) << session.out;
    EXPECT_EQ(session.returned, 1);
    EXPECT_EQ(session.result, "m");
    std::vector<Field> expected = {{"", " "}, {"m", " "}};
    EXPECT_EQ(session.fields, expected);
}

TEST(LineInput, TheLargestBoxOpensAndAnUnchangedTextIsHandedBack) {
    DialogCall call;
    call.width = 320;
    call.height = 240;
    call.initial = "sub";
    Session session = RunDialog(call, [](KeyPlan &plan) { plan.Tap(kStart); });
    ASSERT_EQ(session.status, 0) << session.out;
    EXPECT_EQ(session.returned, 1);
    EXPECT_EQ(session.result, "sub");
    EXPECT_TRUE(session.guard_intact);
}

TEST(LineInput, ATooLargeBoxIsRefusedWithoutTouchingAnything) {
    // Loading the keyboard from here would end the child with status 1.
    TempDir no_images;
    for (std::pair<int, int> size : {std::make_pair(321, 70), std::make_pair(210, 241)}) {
        DialogCall call;
        call.width = size.first;
        call.height = size.second;
        call.initial = "abc";
        call.start_dir = no_images.path;
        Session session = RunDialog(call, [](KeyPlan &plan) { plan.Tap(kStart); });
        EXPECT_EQ(session.status, 0) << session.out;
        EXPECT_NE(session.out.find("error: too large popup\nreturned 0"), std::string::npos);
        EXPECT_EQ(session.result, kUntouched);
        EXPECT_TRUE(session.fields.empty());
        EXPECT_EQ(session.title, "");
    }
}

TEST(LineInput, ImagesAreLoadedFromTheStartDirectorysGraphicsFolder) {
    TempDir no_images;
    DialogCall call;
    call.start_dir = no_images.path;
    Session session = RunDialog(call, [](KeyPlan &plan) { plan.Tap(kStart); });
    EXPECT_EQ(session.status, 1);
    EXPECT_NE(session.out.find("can't load image " + no_images.path + "/graphics//keys.png\n"),
              std::string::npos)
        << session.out;
}

TEST(LineInput, DrawsBoxFieldCursorAndKeyboardInPlaceAndRestoresTheScreen) {
    TempDir captures;
    DialogCall call;
    call.backdrop_capture = captures / "open.bmp";
    call.closed_capture = captures / "closed.bmp";
    Session session = RunDialog(call, [](KeyPlan &plan) { plan.Tap(kStart); });
    ASSERT_EQ(session.status, 0) << session.out;
    SurfacePtr open(LoadCapture(call.backdrop_capture));
    SurfacePtr closed(LoadCapture(call.closed_capture));
    ASSERT_TRUE(open && closed);
    const SDL_Color green = {0, 255, 0, 0};
    const SDL_Color frame = {100, 100, 255, 0};
    const SDL_Color panel = {230, 230, 230, 0};
    // Box at (5, 5), 210 x 70; the field at (20, 11 + 20), 180 pixels wide.
    EXPECT_TRUE(ColorIs(open.get(), 5, 5, frame));
    EXPECT_TRUE(ColorIs(open.get(), 4, 5, green));
    EXPECT_TRUE(ColorIs(open.get(), 214, 74, frame));
    EXPECT_TRUE(ColorIs(open.get(), 215, 74, green));
    EXPECT_TRUE(ColorIs(open.get(), 20, 31, color_red));
    EXPECT_TRUE(ColorIs(open.get(), 19, 31, panel));
    EXPECT_TRUE(ColorIs(open.get(), 199, 41, color_black));
    EXPECT_TRUE(ColorIs(open.get(), 200, 41, panel));
    EXPECT_TRUE(ColorIs(open.get(), 199, 42, panel));
    // The quiet keyboard image 10 pixels in from the bottom-right corner.
    SurfacePtr keys(IMG_Load((std::string(ZORVEL_GRAPHICS_DIR) + "/keys_t.png").c_str()));
    ASSERT_TRUE(keys);
    for (int offset : {0, 37, 75, 149}) {
        SDL_Color expected = ColorAt(keys.get(), offset, 149 - offset);
        EXPECT_TRUE(ColorIs(open.get(), 160 + offset, 80 + 149 - offset, expected)) << offset;
    }
    EXPECT_TRUE(ColorIs(open.get(), 310, 230, green));
    for (int x : {5, 20, 100, 200, 309})
        EXPECT_TRUE(ColorIs(closed.get(), x, x * 229 / 309, green)) << x;
}
