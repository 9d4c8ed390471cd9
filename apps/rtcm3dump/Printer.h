#pragma once
// Prints every frame: messages from their records (indented text or JSON lines) or through
// their descriptions (raw lines), and the frames that gave no message with their number, what
// went wrong and their payload in hexadecimal. Text from the stream is escaped, so that it
// cannot break a line or reach the terminal as a control sequence.

#include "Frame.h"

#include <QtCore/QTextStream>

#include <memory>

class FormatInfo;
class OutputDevice;

class Printer : public FrameSink
{
public:
    enum class Style { Text, Json, Raw };

    // The one place that picks the printer of a style.
    static std::unique_ptr<Printer> create(Style style, OutputDevice &device);
    ~Printer() override;

    void flush() override;
    QString writeError() const override;

    // Every message description of the format, or those of one message number; returns how
    // many message descriptions it printed.
    static int describe(QTextStream &out, const FormatInfo *format, int messageNumber);

    // Bytes from the stream as printable UTF-8: well-formed UTF-8 stays, control characters
    // become \u00NN (C1) or \xNN, bytes that are not UTF-8 become \xNN, a backslash is
    // doubled, and `delimiter` (the quote or separator around the text) becomes \xNN.
    static QString escaped(const QByteArray &bytes, char delimiter);

protected:
    explicit Printer(OutputDevice &device);

    OutputDevice &mDevice;
    QTextStream mOut;
};
