// The installer's string stack, shared with the installer that loads this library.
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ORVEX_PLUGIN_EXPORT __attribute__((visibility("default")))

// One block of string size + 8 bytes: the link, then the text (string size bytes).
typedef struct OrvexStackEntry {
    struct OrvexStackEntry* next;
    char text[8];
} OrvexStackEntry;

#define ORVEX_STACK_TEXT_OFFSET 8

// The one allocator for entries: zero-filled block of string size + 8 bytes, or null.
ORVEX_PLUGIN_EXPORT OrvexStackEntry* OrvexStackAlloc(int stringSize);
ORVEX_PLUGIN_EXPORT void OrvexStackFree(OrvexStackEntry* entry);

// The four arguments every export receives from the installer.
typedef void (*OrvexPluginExport)(void* window, int stringSize, char* variables,
                                  OrvexStackEntry** stackTop);

ORVEX_PLUGIN_EXPORT void InstallService(void* window, int stringSize, char* variables,
                                        OrvexStackEntry** stackTop);
ORVEX_PLUGIN_EXPORT void RemoveService(void* window, int stringSize, char* variables,
                                       OrvexStackEntry** stackTop);
ORVEX_PLUGIN_EXPORT void UpdateSiteConf(void* window, int stringSize, char* variables,
                                        OrvexStackEntry** stackTop);
ORVEX_PLUGIN_EXPORT void UpdateSitePasswd(void* window, int stringSize, char* variables,
                                          OrvexStackEntry** stackTop);

#ifdef __cplusplus
}

namespace orvex::plugin {

// Size of the buffer each popped parameter lands in; longer texts are cut.
constexpr size_t kParamSize = 268;

// Copies the installer's arguments into the process-wide slots used by Pop and Push.
void BeginCall(void* window, int stringSize, char* variables, OrvexStackEntry** stackTop);

// 1 when there is nothing to pop (the buffer is left as it was), else 0.
int PopString(char* buffer, size_t size);
void PushString(const char* text);
void PushNumber(int value);

}  // namespace orvex::plugin
#endif
