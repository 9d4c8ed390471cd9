#pragma once

#include <QtCore/qglobal.h>

#if defined(NUVRIXRELAY_LIBRARY)
#define NUVRIXRELAY_EXPORT Q_DECL_EXPORT
#else
#define NUVRIXRELAY_EXPORT Q_DECL_IMPORT
#endif
