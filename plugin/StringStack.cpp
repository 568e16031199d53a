#include "plugin/StringStack.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

static_assert(offsetof(OrvexStackEntry, text) == ORVEX_STACK_TEXT_OFFSET,
              "the text must follow the link at the fixed offset");

namespace {

// The installer calls one export at a time on one thread, so plain globals suffice. The
// window and the variables area are kept only because every call hands them over.
void* g_window = nullptr;
int g_stringSize = 0;
char* g_variables = nullptr;
OrvexStackEntry** g_stackTop = nullptr;

char* TextOf(OrvexStackEntry* entry) {
    return reinterpret_cast<char*>(entry) + ORVEX_STACK_TEXT_OFFSET;
}

}  // namespace

extern "C" OrvexStackEntry* OrvexStackAlloc(int stringSize) {
    if (stringSize < 1) return nullptr;
    return static_cast<OrvexStackEntry*>(
        std::calloc(1, static_cast<size_t>(stringSize) + ORVEX_STACK_TEXT_OFFSET));
}

extern "C" void OrvexStackFree(OrvexStackEntry* entry) {
    std::free(entry);
}

namespace orvex::plugin {

void BeginCall(void* window, int stringSize, char* variables, OrvexStackEntry** stackTop) {
    g_window = window;
    g_stringSize = stringSize;
    g_variables = variables;
    g_stackTop = stackTop;
}

int PopString(char* buffer, size_t size) {
    if (g_stackTop == nullptr || *g_stackTop == nullptr) return 1;
    OrvexStackEntry* top = *g_stackTop;
    if (buffer != nullptr && size > 0) {
        // An entry never holds more than string size - 1 characters; do not trust a missing NUL.
        size_t limit = g_stringSize > 0 ? static_cast<size_t>(g_stringSize) - 1 : 0;
        if (limit > size - 1) limit = size - 1;
        size_t n = strnlen(TextOf(top), limit);
        std::memcpy(buffer, TextOf(top), n);
        buffer[n] = '\0';
    }
    *g_stackTop = top->next;
    OrvexStackFree(top);
    return 0;
}

void PushString(const char* text) {
    if (g_stackTop == nullptr) return;
    OrvexStackEntry* entry = OrvexStackAlloc(g_stringSize);
    if (entry == nullptr) return;
    size_t n = strnlen(text, static_cast<size_t>(g_stringSize) - 1);
    std::memcpy(TextOf(entry), text, n);
    entry->next = *g_stackTop;
    *g_stackTop = entry;
}

void PushNumber(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    PushString(text);
}

}  // namespace orvex::plugin
