// Everything that differs between POSIX and Windows: console set-up and
// encoding, waiting for a key, the report file's name, replacing a file, and
// the interrupt signals; and writing files safely on either.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace plume {

// Prepares the console for the program's Windows-1251 texts.
void initConsole();

// Writes Windows-1251 text to standard output and flushes it, so a log shows
// each line as soon as it is written.
void consoleWrite(std::string_view cp1251);

// Waits for a key press before the program ends (a console window would
// otherwise close). Does not wait when there is no one to press a key.
void waitForKey();

// Name of the report file in the platform's file-name encoding.
std::string reportFileName();

// Pushes a written file to the disk before it replaces the old one.
void syncFile(std::FILE* f);

// Replaces `target` by `temp` in one step; false when that failed.
bool replaceFile(const std::string& temp, const std::string& target);

// Text files take the platform's line ends (CR LF on Windows); binary files
// are written byte for byte.
enum class FileKind { Text, Binary };

// Writes `bytes` to `path` through "<path>.tmp" in the same folder, pushed to
// the disk, which replaces the old file only when complete. On failure the
// temporary file is removed and `reason` (when given) holds the system's
// reason; the old file is untouched.
bool writeFileAtomically(const std::string& path, std::string_view bytes, FileKind kind,
                         std::string* reason = nullptr);

// Creates `folder` and its parents where missing (as mkdir -p) and makes sure
// a file can be created in it. The system's reason when it cannot.
std::optional<std::string> prepareFolder(const std::string& folder);

// Installs the SIGINT / SIGTERM handlers. The first signal only sets a flag
// the outer loop polls; a second one ends the process at once. A console
// pipe without reader no longer ends the process (SIGPIPE is ignored).
void installInterruptHandlers();

// The signal number received, or 0 while none has arrived.
int interruptSignal();

}  // namespace plume
