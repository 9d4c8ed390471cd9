#pragma once

#include <QtCore/qglobal.h>

#if defined(NUVRIXNTRIP_LIBRARY)
#  define NUVRIXNTRIP_EXPORT Q_DECL_EXPORT
#else
#  define NUVRIXNTRIP_EXPORT Q_DECL_IMPORT
#endif
