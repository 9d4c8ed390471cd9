#pragma once
// Renders host messages through their descriptions: indented text, JSON lines or raw lines.

#include <QtCore/QJsonObject>
#include <QtCore/QString>
#include <QtCore/QTextStream>

class Message;
class FormatInfo;

class Printer
{
public:
    enum class Style { Text, Json, Raw };
    Printer(QTextStream &out, Style style) : mOut(out), mStyle(style) {}
    void print(const Message *message);

    // Every message description of the format, or those of one message number.
    static void describe(QTextStream &out, const FormatInfo *format, int messageNumber);

private:
    void printText(const Message *message, int indent);
    QJsonObject toJson(const Message *message) const;

    QTextStream &mOut;
    Style mStyle;
};
