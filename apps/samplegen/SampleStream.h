#pragma once
// The project's bundled sample: what a reference station near Zürich sends during ten seconds,
// made by our own encoder. The same call always gives the same bytes.

#include <QByteArray>

namespace Kvt::Nuvrix::SampleGen {

// Frames back to back, in sending order. Throws SampleError when a value does not fit its field
// or the encoder refuses a record.
QByteArray buildSampleStream();

} // namespace Kvt::Nuvrix::SampleGen
