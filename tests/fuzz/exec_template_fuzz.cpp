// The arguments template of an EXEC command, split into words and expanded: nothing is lost or
// invented but quotes and blanks between words.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/StringUtil.h"
#include "server/site/core/ExternalCommand.h"

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string tmpl(reinterpret_cast<const char*>(data), size);
    std::string kept;
    for (char c : tmpl)
        if (c != '"' && c != '\'' && c != ' ' && c != '\t') kept.push_back(c);
    std::string words;
    for (const std::string& word : SplitTemplateWords(tmpl)) {
        for (char c : word)
            if (c != '"' && c != '\'' && c != ' ' && c != '\t') words.push_back(c);
        StringUtil::ExpandTemplate(word, "uyRdYZ", {"u", "g", "/r", "/d", "lr", "1"});
    }
    if (words != kept) abort();
    return 0;
}
