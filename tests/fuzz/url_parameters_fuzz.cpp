// Navigation URLs from the web interface: GetUrlParameter and Split on any text.
#include "launcher/string_utils.h"
#include "tests/fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    // "name\nurl"; without a newline the whole input is the URL and the name is "token".
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = input.find('\n');
    const std::string name = newline == std::string::npos ? "token" : input.substr(0, newline);
    const std::string url = newline == std::string::npos ? input : input.substr(newline + 1);

    std::string value = "stale";
    const bool found = GetUrlParameter(name, url, value);
    const std::size_t at = url.find(name + "=");
    KR_FUZZ_CHECK(found == (at != std::string::npos));
    if (found)
    {
        // The value runs from behind the first "name=" to the next "&" or the end.
        const std::size_t begin = at + name.size() + 1;
        KR_FUZZ_CHECK(url.compare(begin, value.size(), value) == 0);
        KR_FUZZ_CHECK(value.find('&') == std::string::npos);
        KR_FUZZ_CHECK(begin + value.size() == url.size() || url[begin + value.size()] == '&');
    }
    else
    {
        KR_FUZZ_CHECK(value.empty());
    }

    // Split: non-empty pieces free of delimiters that, in order, make up the text without them.
    const std::string delimiters = name.empty() ? std::string("?&=") : name;
    std::string joined;
    const std::vector<std::string> pieces = Split(url, delimiters);
    for (const std::string& piece : pieces)
    {
        KR_FUZZ_CHECK(!piece.empty());
        KR_FUZZ_CHECK(piece.find_first_of(delimiters) == std::string::npos);
        joined += piece;
    }
    std::string stripped;
    std::size_t runs = 0;
    bool inRun = false;
    for (char c : url)
    {
        const bool kept = delimiters.find(c) == std::string::npos;
        if (kept)
            stripped.push_back(c);
        runs += kept && !inRun ? 1 : 0;
        inRun = kept;
    }
    KR_FUZZ_CHECK(joined == stripped);
    KR_FUZZ_CHECK(pieces.size() == runs);
    return 0;
}
