// BaseName on any path, with output buffers just large enough for the component or larger: it
// writes only inside the buffer and gives the component that a plain reading of the path finds.
#include <string>

#include "app/fs/fileops.h"
#include "fuzz/fuzz_input.h"

// The last component: trailing slashes left out, then everything after the slash before it.
static std::string Component(const std::string &path) {
    size_t end = path.find_last_not_of('/');
    if (end == std::string::npos)
        return "";
    size_t slash = path.rfind('/', end);
    size_t start = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(start, end + 1 - start);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    size_t spare = input.Take(1) % 8;
    auto path = input.TakeString(input.Left());
    std::string expected = Component(path.get());

    // A component that does not fit ends the process, by design: sizes here always fit.
    size_t output_size = expected.size() + 1 + spare;
    auto output = std::unique_ptr<char[]>(new char[output_size]);
    memset(output.get(), '#', output_size);
    char *result = BaseName(output.get(), path.get(), output_size);
    if (result != output.get())
        FuzzFailure("the result is not the output buffer");
    if (strnlen(output.get(), output_size) == output_size || expected != output.get())
        FuzzFailure("the output is not the last component");
    return 0;
}
