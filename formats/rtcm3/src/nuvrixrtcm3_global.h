#pragma once

#include <QtCore/qglobal.h>

// What leaves the library. The generated sources are built with hidden visibility, so that
// only the entry points a host uses (the descriptions' getInstance, the message
// constructors, the bases) reach the dynamic symbol table, not thousands of internals.
#if defined(NUVRIXRTCM3_LIBRARY)
#  define NUVRIXRTCM3_EXPORT Q_DECL_EXPORT
#else
#  define NUVRIXRTCM3_EXPORT Q_DECL_IMPORT
#endif

// Builds the one object of each generated description class, which befriend it. Asking for
// any description first makes sure that the format description exists: its set-up builds
// every description in the fixed registration order, this one included. So the order never
// depends on which description a host touches first, and no description is asked for again
// while its own construction is still running. Defined for the generated sources only.
class RTCM3Instances
{
public:
    template <class Description>
    static Description *of();
};
