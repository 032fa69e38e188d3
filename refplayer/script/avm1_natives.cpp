// The function that fills the global object: each family of built-in classes
// lives in a file of its own and adds itself here, in the order the globals
// are created.
#include "avm1_natives.h"
#include "avm1_standard.h"

namespace refplayer::avm1 {

void installBuiltins(State& s) {
    installObject(s);           // Object, Function (avm1_object.cpp)
    installArray(s);            // avm1_array.cpp
    installString(s);           // avm1_string.cpp
    installNumber(s);           // Number, Boolean, Math (avm1_math.cpp)
    installGlobalFunctions(s);  // parseInt, escape, ... (avm1_math.cpp)
    installPropFlags(s);        // ASSetPropFlags (avm1_object.cpp)
    installTimers(s);           // setInterval, setTimeout, getTimer (avm1_timers.cpp)
    installDate(s);             // avm1_date.cpp
    constant(s.global, "NaN", Value::number(kNaN));
    constant(s.global, "Infinity", Value::number(std::numeric_limits<double>::infinity()));
    installMovieClip(s);        // avm1_movieclip.cpp
    installExternalInterface(s);
    // The standard objects (avm1_standard.h names each family's file).
    installBroadcaster(s);
    installSystem(s);
    installStage(s);
    installInput(s);
    installXml(s);
    installLoadVars(s);
    installColorSound(s);
    installShared(s);
    installLoader(s);
    installTextField(s);        // TextField, MovieClip.createTextField (avm1_textfield.cpp)
    installTextFormat(s);       // TextFormat, TextField's format methods (avm1_textformat.cpp)
    installSelection(s);        // avm1_selection.cpp
    installVideo(s);
}

}  // namespace refplayer::avm1
