// Call-stack text: "file:line" of every frame that has a source file, joined
// by "\n". Frames are unwound with libunwind; addresses are resolved to source
// lines through the DWARF line tables (elfutils libdw), read from local files
// only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <ucontext.h>

namespace ts {

// The symbol handler: module and line information of the process, loaded
// lazily and refreshed when an address lies in a module loaded later.
void SymbolHandlerInitialize();
void SymbolHandlerCleanup();

// Walks the calling thread's stack, leaving out `skipFrames` innermost frames.
std::string CallStackText(int skipFrames = 0);

// Walks the stack of the thread interrupted by a signal, from its context, and
// writes the text into `out` (always NUL-terminated). Returns the length.
std::size_t CallStackTextFromContext(ucontext_t* context, char* out, std::size_t capacity);

// Resolves one code address to "file:line" ("" when it has no source line).
std::string SourceLineOf(std::uintptr_t address);

}  // namespace ts
