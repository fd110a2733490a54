// quillnet run: a program started the way the accelerate dialog starts one,
// activated in the application list and with the bind module inside it.
#pragma once
#include <string>
#include <vector>

// The program's absolute path with links resolved, as the bind module will
// see its own image (a bare name is looked up in PATH); empty when there is
// no such executable file.
std::string ResolveProgram(const std::string& name, const std::string& searchPath);

// Activates the program in the list at `listPath`, then replaces this
// process with it under the bind module `bindLibrary`. Returns only when it
// could not (the exit code, after saying why on standard error).
int RunActivatedProgram(const std::vector<std::string>& program, const std::wstring& listPath,
                        const std::string& bindLibrary);
