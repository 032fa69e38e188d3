// The names a movie's ActionScript uses, read from its bytecode: every string
// (pushed, or from a constant pool) that an action takes as a variable,
// member, function or class name, the linkage names given to attachMovie and
// Object.registerClass, and the places where a name is built at run time
// (a concatenation taken as a name), which no list of names can vouch for.
//
// The walk follows the operand stack through each action block in file
// order. Where it cannot know what lies on the stack (after an action whose
// effect depends on run-time values) it treats what it pops as unknown: a
// name that came from there is reported as built, so the check errs on the
// side of failing.
#pragma once

#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace enginetest {

struct MovieNames {
    std::set<std::string> used;     // names the code looks up, calls or sets
    std::set<std::string> defined;  // names the movie itself defines: variables, functions, parameters,
                                    // members of objects it makes, instance names, exports
    std::set<std::string> linkages;  // attachMovie / registerClass symbol names
    std::set<std::string> exports;
    std::vector<std::string> built;  // where a name is made at run time (action and block)
    std::vector<std::string> errors;  // what could not be read
};

// Reads a SWF file (FWS or CWS).
MovieNames movieNames(std::span<const uint8_t> swf);
// Adds what one action block uses to `out` (for tests of the walk itself).
void actionNames(std::span<const uint8_t> actions, MovieNames& out, const std::string& where);

}  // namespace enginetest
