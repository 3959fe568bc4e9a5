// SplitBySpace on any text into tables of any size: it stores at most `most` words, each the
// first 49 bytes of a word, writes no row beyond its count, and its count agrees with a plain
// reading of the text.
#include <string>
#include <vector>

#include "app/infopopups.h"
#include "fuzz/fuzz_input.h"

static bool IsSeparator(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

// The words as the report's reader must see them: separators before the first word make an
// empty first word, runs of separators between words make none.
static std::vector<std::string> Words(const char *text, int most) {
    std::vector<std::string> words;
    const char *at = text;
    while (*at != '\0' && static_cast<int>(words.size()) < most) {
        std::string word;
        for (; *at != '\0' && !IsSeparator(*at); at++)
            word += *at;
        words.push_back(word.substr(0, kWordSize - 1));
        while (IsSeparator(*at))
            at++;
    }
    return words;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    int most = static_cast<int>(input.Take(1) % (kDiskWords + 3));
    auto text = input.TakeString(input.Left());

    // Exactly `most` rows, and one that stands for any row beyond, all filled with a mark.
    auto words = std::unique_ptr<ReportWord[]>(new ReportWord[most + 1]);
    memset(words.get(), '#', sizeof(ReportWord) * (most + 1));
    int count = SplitBySpace(text.get(), words.get(), most);

    std::vector<std::string> expected = Words(text.get(), most);
    if (count != static_cast<int>(expected.size()))
        FuzzFailure("the count differs from the words of the text");
    for (int i = 0; i < count; i++)
        if (strnlen(words[i], kWordSize) == kWordSize || expected[i] != words[i])
            FuzzFailure("a stored word differs from the word of the text");
    for (int i = count; i <= most; i++)
        for (size_t byte = 0; byte < kWordSize; byte++)
            if (words[i][byte] != '#')
                FuzzFailure("a row beyond the count was written");
    return 0;
}
