// Finding programs: the search for an executable by name, the running
// executable and programs installed beside it, the interpreter an ELF file
// names, and the set-user-id-root test.
//
// Any thread may call these; the running executable's path is found once
// and kept for the life of the process.
#pragma once

#include "plat/String.h"

namespace os {

// A name with '/' is taken when it is an executable regular file; a bare
// name is looked up in PATH when searchPath is set, stopping at the first
// entry where something of that name exists (found only if that is an
// executable regular file). The result is absolute, normalised and has its
// links resolved; null when not found. A PATH entry beginning with '~'
// throws plat::Exception "PATH contains invalid '~' character".
plat::String findExecutable(const char* name, bool searchPath);

// The resolved path of the running executable; null when "/proc" cannot
// tell.
const char* getOwnExecutable();

// How getProgramFile looks: kMustExist throws where null would be returned,
// kSearchPath lets findExecutable search PATH.
enum ProgramLookup : unsigned { kProgramOnly = 0, kMustExist = 1 << 0, kSearchPath = 1 << 1 };

// No name: the running executable. A relative name: that file beside the
// running executable when it is an executable regular file, else
// findExecutable. An absolute name: findExecutable. Null when not found;
// with kMustExist that throws plat::SystemException (ENOENT) "%s does not
// exist or is not executable".
plat::String getProgramFile(const char* name = nullptr, unsigned lookup = kProgramOnly);
// The directory of getProgramFile's result; null when it has none.
plat::String getProgramDir(const char* name = nullptr, unsigned lookup = kProgramOnly);
// The running executable's directory joined with the application's path
// component.
plat::String getProgramPathCompDir();

// The program interpreter (PT_INTERP) an ELF file names; null for a file
// without one (a static program). Throws plat::Exception "Not an ELF file",
// "Unknown ELF class" or "Bad ELF program header", and the file functions'
// errors.
plat::String readElfInterpreter(const char* path);

// The path itself (not a link's target) is owned by root, set-user-id and
// executable by its owner.
bool isSetuidRootExecutable(const char* path);

} // namespace os
