// Splitting one command line into a program and its arguments, by the rules
// a Windows program splits its own command line with, so that one command
// line gives the encoder the same arguments on both builds.
#pragma once

#include <string>
#include <vector>

namespace encbridge {
namespace platform {

// The items of commandLine as CommandLineToArgvW gives them. The first item,
// the program, runs to the next double quote when it starts with one, and
// to the first space or tab otherwise, with no escapes. The others are
// separated by spaces and tabs outside double quotes; a double quote opens
// or closes quoting; 2n backslashes before a double quote give n backslashes
// and the quote acts, 2n+1 give n and a literal quote; other backslashes are
// literal; "" within quotes gives a literal quote and ends the quoting.
std::vector<std::string> SplitCommandLine(const char *commandLine);

// program: the path to run (the first item); arguments: the whole argument
// vector, the program first. False when there is no program to run.
bool SplitForSpawn(const char *commandLine, std::string &program, std::vector<std::string> &arguments);

}  // namespace platform
}  // namespace encbridge
