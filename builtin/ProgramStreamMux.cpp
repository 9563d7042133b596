#include "builtin/ProgramStreamMux.h"

#include "builtin/BuiltinClasses.h"
#include "builtin/MuxMediaTypes.h"

CProgramStreamMux::CProgramStreamMux()
    : CFilterObject(CLSID_HalvernProgramStreamMux, false, MuxSubtypeMpeg2Program), multiplexer_(*this)
{
}
