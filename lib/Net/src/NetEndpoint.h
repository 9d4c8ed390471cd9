#pragma once
// Where a network stream comes from, as a person writes it on a command line.

#include "nuvrixntrip_global.h"

#include <QtCore/QString>

// ntrip://[user[:password]@]host[:port]/MOUNT, or ntrips:// for TLS. User and password are
// percent-decoded ("p%40ss" is "p@ss"); an IPv6 address stands in brackets. An empty
// mountpoint asks for the caster's source table.
struct NUVRIXNTRIP_EXPORT NtripEndpoint
{
    static constexpr quint16 kDefaultPort = 2101;
    static constexpr quint16 kDefaultTlsPort = 443;

    QString host;
    quint16 port = kDefaultPort;
    QString mountpoint;
    QString user;
    QString password;
    bool tls = false;

    // Whether the text is meant as an NTRIP address (its scheme), valid or not.
    static bool isNtripUrl(const QString &text);
    // The endpoint; *error says what is wrong and is empty when the text is valid.
    static NtripEndpoint parse(const QString &text, QString *error);
    // The address without the password, for messages.
    QString display() const;
};

// host:port or [IPv6]:port.
struct NUVRIXNTRIP_EXPORT TcpEndpoint
{
    QString host;
    quint16 port = 0;

    static TcpEndpoint parse(const QString &text, QString *error);
    QString display() const;
};
