#pragma once

#include <QtCore/qglobal.h>

// Only the classes marked with this macro leave the host library: RTTI and
// exceptions (NuvrixEvent) must cross into the format libraries that it loads.
#if defined(NUVRIXHOST_LIBRARY)
#  define NUVRIXHOST_EXPORT Q_DECL_EXPORT
#else
#  define NUVRIXHOST_EXPORT Q_DECL_IMPORT
#endif
