#pragma once
// The producer's conversions and RINEX replay, handed to the relay library as an output's
// transform and an input's frame source.

#include "RelayAddress.h"
#include "RelayFrame.h"

#include <memory>

// The transform of an output's ?convert= and ?systems=; null with *error set.
std::unique_ptr<FrameTransform> makeConversion(const RelayAddress &address, QString *error);
// For a file that is a RINEX observation file (by its first line), the source that produces
// it as a stream; null otherwise, with *error set when it is one that cannot be replayed.
std::unique_ptr<FrameSource> makeRinexSource(const RelayAddress &address, QString *error);
