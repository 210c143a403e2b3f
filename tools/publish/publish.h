// talvoreen-publish: writes what the launcher reads from the content CDN and from a game
// server's HTTP port (see README.md, "Publishing"). Commands:
//   keygen KEYFILE
//   game SOURCE_FOLDER --out CDN_ROOT --key KEY --build ID [--min-launcher-version V] [--optional] [--keep PATTERN]...
//        [--jobs N] [--chunk-min-file BYTES] [--no-chunks]
//   launcher EXE --out CDN_ROOT --key KEY --version V
//   client-files RESOURCES_FOLDER --out FILE [--download-url URL] [--threads N] [--dos-threshold N]
//   verify CDN_ROOT|URL --public-key KEY [--sample N] [--jobs N] [--chunk-min-file BYTES]
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace publish {

// Runs one command line (arguments after the program name, UTF-8). Results go to out,
// progress and errors to err. Returns the exit code: 0 done, 1 failed, 2 bad command line.
int RunPublisher(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Glob match used by --keep: "*" and "?" stay within one path segment, "**" crosses
// segments ("**/" may match nothing); ASCII letters match in either case.
bool MatchKeepPattern(const std::string& pattern, const std::string& path);

}  // namespace publish
