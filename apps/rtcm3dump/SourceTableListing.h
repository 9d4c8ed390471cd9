#pragma once
// A caster's source table as rtcm3dump lists it: one line per STR, CAS and NET record with
// every field by name, as text for a person or as a JSON object for a program. The caster's
// text is escaped, so that it cannot break a line or reach the terminal as a control sequence.

#include <QtCore/QByteArray>
#include <QtCore/QStringList>

// `record` holds the record's type, then its fields as the caster sent them. Text:
//   STR mountpoint="MNT" identifier="Town" ... carrier=2 ... misc=""
// JSON: {"type":"STR","mountpoint":"MNT",...,"carrier":2,...,"misc":""}
// Both end with a line feed.
QByteArray sourceTableLine(const QStringList &record, bool json);
