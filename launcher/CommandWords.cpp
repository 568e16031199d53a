#include "launcher/CommandWords.h"

namespace orvex::launcher {

std::vector<std::string> SplitCommandWords(std::string_view text) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
            ++i;
            continue;
        }
        inWord = true;
        if (c == '\\') {
            size_t run = 0;
            while (i < text.size() && text[i] == '\\') {
                ++run;
                ++i;
            }
            if (i < text.size() && text[i] == '"') {
                word.append(run / 2, '\\');
                if (run % 2 == 1) {
                    word += '"';
                    ++i;
                }
            } else {
                word.append(run, '\\');
            }
            continue;
        }
        if (c == '"') {
            quoted = !quoted;
        } else {
            word += c;
        }
        ++i;
    }
    if (inWord) words.push_back(word);
    return words;
}

}  // namespace orvex::launcher
