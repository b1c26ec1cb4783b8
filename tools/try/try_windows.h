// What encbridge-try.exe needs of Windows: the module beside the program,
// loaded as a ripping program loads it; texts between the ANSI code page
// and the console; and a command line split as its program splits it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "encbridge/plugin.h"
#include "encbridge/tools.h"

namespace encbridge_try {

// encbridge.dll, with its four host functions and the tools' table.
struct Module {
    HMODULE handle = nullptr;
    decltype(&GetDllViersion) version = nullptr;
    decltype(&Create) create = nullptr;
    decltype(&SetData) setData = nullptr;
    decltype(&Kill) kill = nullptr;
    const EncbridgeToolTable *tools = nullptr;
};

// Loads the encbridge.dll in this program's own folder, never one of the
// current folder or the PATH. False with a message in error when it is
// missing, does not load, or lacks a function or the tools' table.
bool LoadModuleBesideProgram(Module &module, std::string &error);

// text (in the ANSI code page) on standard output, or standard error: a
// console shows it through its wide functions, whatever its own code page;
// a file or a pipe gets the ANSI bytes as they are.
void Say(const std::string &text, bool toErrors = false);

// wide in the ANSI code page, letter by letter: a letter that the code page
// lacks, or would give back as another, is left out.
std::string AnsiLetters(const std::wstring &wide);

// The arguments that a program started with line (in the ANSI code page)
// receives, the program first: the line as the system widens it, split by
// CommandLineToArgvW, each given back in the ANSI code page.
std::vector<std::string> ArgumentsOf(const std::string &line);

// path made whole (GetFullPathName), however long; empty when it cannot be.
std::string FullPath(const std::string &path);

// Where the first byte beyond ASCII of bytes lies, when bytes are UTF-8
// throughout; npos when they hold no such byte or are no UTF-8.
std::size_t FirstUtf8Letter(const std::string &bytes);

// utf8 in the ANSI code page (a letter it lacks as the system replaces it).
std::string Utf8InAnsi(const std::string &utf8);

// The system's words for error code, with the code.
std::string SystemWords(DWORD code);

}  // namespace encbridge_try
