// Entry point of talvoreen-publish; the dispatch is in publish.cpp, each command in a file of its own.
#include <iostream>
#include <string>
#include <vector>

#include "tools/publish/publish.h"

#ifdef _WIN32
#include "base/text.h"

// Wide arguments, so that folder names outside the ANSI code page survive.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8FromWide(argv[i]));
  return publish::RunPublisher(args, std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return publish::RunPublisher(args, std::cout, std::cerr);
}
#endif
