// The command line the mirror tool understands: robocopy SOURCE DESTINATION [options].
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace mirror {

struct Options {
  std::string source;
  std::string destination;
  bool subfolders = false;                   // /E (and /MIR): walk subfolders, empty ones included
  bool purge = false;                        // /PURGE (and /MIR): delete destination extras
  bool keepExtras = false;                   // /XX: leave extras alone, which cancels the purge
  bool fatTimes = false;                     // /FFT: on FAT, times within 2 seconds are equal
  bool restartable = false;                  // /Z: resume an interrupted copy from its temporary file
  bool skipHidden = false;                   // /XA:H
  int retries = 0;                           // /R:n
  int waitSeconds = 0;                       // /W:n
  std::vector<std::string> excludedFolders;  // /XD
  std::vector<std::string> excludedFiles;    // /XF

  bool Purging() const { return purge && !keepExtras; }
};

// A command line that cannot be run; the message is the one robocopy prints.
class InvalidCommandLine : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// args are the arguments after the program name.
Options ParseOptions(const std::vector<std::string>& args);

// '*' and '?' wildcards, ASCII letters compared without case; '?' is one
// UTF-8 character.
bool WildcardMatch(const std::string& pattern, const std::string& name);
bool MatchesAny(const std::vector<std::string>& patterns, const std::string& name);

}  // namespace mirror
