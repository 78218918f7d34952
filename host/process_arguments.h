// The process's command-line arguments as UTF-8 text, however the platform hands them over. Main thread.
#pragma once

#include <string>
#include <vector>

// Every argument, the program name first, in UTF-8. Where the system keeps the command line as UTF-16
// (Windows) it is read from there, since argv holds it converted to the ANSI code page, which loses
// characters; elsewhere argv is taken as it is.
std::vector<std::string> ProcessArguments(int argc, char* argv[]);
