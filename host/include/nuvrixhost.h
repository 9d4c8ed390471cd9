#pragma once

// Everything a format library needs from the host, in one include.
#include "AbstractDecoder.h"
#include "AbstractSync.h"
#include "FieldInfo.h"
#include "FieldType.h"
#include "FieldValue.h"
#include "FloatRepresentation.h"
#include "FormatInfo.h"
#include "HostCallbackFunctions.h"
#include "HostObserver.h"
#include "MemLeakTracer.h"
#include "Message.h"
#include "MessageInfo.h"
#include "MessageSource.h"
#include "NuvrixEvent.h"
#include "RecordingObserver.h"
#include "ReferenceCountedObject.h"
