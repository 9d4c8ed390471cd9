// rtcm3relay: carries RTCM 3 streams from inputs to outputs and serves them as an NTRIP caster.

#include "Caster.h"
#include "Production.h"
#include "RelayInput.h"
#include "RelayOutput.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtCore/QSocketNotifier>
#include <QtCore/QTimer>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

const char kUsage[] =
    "usage: rtcm3relay [INPUT ...] [--to OUTPUT ...] [--caster [HOST:]PORT] [--users FILE]\n"
    "                  [--every S] [--json]\n"
    "Carries RTCM 3 frames unchanged from every INPUT to every OUTPUT and, with --caster, serves\n"
    "them as an NTRIP caster.\n"
    "INPUT and OUTPUT:\n"
    "  PATH                  a file (an output's name may hold %Y %y %m %d %n %h %M %S: a new\n"
    "                        file begins as the name changes)\n"
    "                        a RINEX observation file as an input is produced as a stream\n"
    "  -                     standard input or output\n"
    "  tcp://HOST:PORT       connect;  tcp://:PORT  listen (many clients on an output)\n"
    "  ntrip://[USER:PW@]HOST[:PORT]/MNT   input: NTRIP client; output: push as NTRIP server\n"
    "  ntrips://...          the same over TLS\n"
    "  serial:///dev/ttyUSB0?baud=115200[&data=8&parity=none|even|odd&stop=1|2]\n"
    "  udp://HOST:PORT       input: receive on it (udp://:PORT: every address); output: send to it\n"
    "input parameters:  ?mount=MNT  feed the caster's mountpoint MNT;  ?pace=F  replay a file at F\n"
    "                   times its own epoch rate;  ?gga=pass  pass clients' GGA up to this source;\n"
    "                   ?v=1|2  NTRIP version of a client input;  ?msgs=...  as on an output\n"
    "RINEX input:       ?msm=1..7|legacy (default 7);  ?station=ID;  ?position=S  1005/1033 every\n"
    "                   S seconds (default 10);  ?systems=GRE  only these constellations\n"
    "                   ?nav=NAV.rnx  its orbits every ?orbits=S seconds (default 60)\n"
    "output parameters: ?msgs=1074,1087,1005(10)  only these messages, 1005 at most every 10 s;\n"
    "                   ?v=1|2  NTRIP version of a push (1: SOURCE, 2: chunked POST);\n"
    "                   ?period=S  begin a new file every S seconds\n"
    "                   ?convert=msm1..7|legacy  observation messages produced again as that kind;\n"
    "                   ?systems=GRE  only these constellations\n"
    "options:\n"
    "  --caster [HOST:]PORT  serve mountpoints as an NTRIP caster (1.0 and 2.0)\n"
    "  --users FILE          lines MNT:SOURCE_PASSWORD:USER1:PW1,USER2:PW2 (no users: open)\n"
    "  --every S             print a status line per input, output and mountpoint every S seconds\n"
    "  --json                status lines and the summary as JSON\n"
    "  --help, --version\n"
    "SIGINT or SIGTERM ends the run with a summary; SIGHUP reopens output files.\n"
    "RTCM3RELAY_NO_RING=1 in the environment: one send() per caster client, not batched sends.\n";

int gSignalPipe[2] = {-1, -1};

void onSignal(int number)
{
    const char byte = char(number);
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &byte, 1);
}

struct Options
{
    QStringList inputs;
    QStringList outputs;
    QString caster;
    QString users;
    double everyS = 0;
    bool json = false;
};

[[noreturn]] void usageError(const QString &message)
{
    std::fprintf(stderr, "rtcm3relay: %s\n%s", qPrintable(message), kUsage);
    std::exit(2);
}

Options parseOptions(const QStringList &args)
{
    Options o;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString &a = args[i];
        const auto value = [&]() -> QString {
            if (i + 1 >= args.size())
                usageError(a + QStringLiteral(" needs a value"));
            return args[++i];
        };
        if (a == QLatin1String("--help")) {
            const bool ok = std::fputs(kUsage, stdout) >= 0 && std::fflush(stdout) == 0;
            std::exit(ok ? 0 : 1);
        } else if (a == QLatin1String("--version")) {
            const bool ok = std::printf("rtcm3relay %s\n", NUVRIX_VERSION) > 0 && std::fflush(stdout) == 0;
            std::exit(ok ? 0 : 1);
        } else if (a == QLatin1String("--to")) {
            o.outputs << value();
        } else if (a == QLatin1String("--caster")) {
            o.caster = value();
        } else if (a == QLatin1String("--users")) {
            o.users = value();
        } else if (a == QLatin1String("--every")) {
            bool ok = false;
            o.everyS = value().toDouble(&ok);
            if (!ok || o.everyS < 0.1 || o.everyS > 86400)
                usageError(QStringLiteral("--every takes seconds from 0.1 to 86400"));
        } else if (a == QLatin1String("--json")) {
            o.json = true;
        } else if (a.startsWith(QLatin1String("--")) && a.size() > 2) {
            usageError(QStringLiteral("unknown option ") + a);
        } else {
            o.inputs << a;
        }
    }
    if (o.outputs.isEmpty() && o.caster.isEmpty())
        usageError(QStringLiteral("nothing to carry the stream to: give at least one --to OUTPUT or --caster [HOST:]PORT"));
    if (o.inputs.isEmpty() && o.caster.isEmpty())
        usageError(QStringLiteral("no input: give a file, -, or a tcp://, ntrip://, serial:// or udp:// address"));
    return o;
}

class Relay : public QObject
{
public:
    explicit Relay(const Options &options) : mOptions(options) {}

    int setUp();
    void stop();
    void reopen()
    {
        for (auto &o : mOutputs)
            o->reopen();
    }

private:
    void report(bool summary);
    void note(const QString &message) { std::fprintf(stderr, "rtcm3relay: %s\n", qPrintable(message)); }
    void inputFinished();

    Options mOptions;
    std::vector<std::unique_ptr<RelayInput>> mInputs;
    std::vector<std::unique_ptr<RelayOutput>> mOutputs;
    std::unique_ptr<Caster> mCaster;
    QTimer mEvery;
    int mUndrained = 0;
    bool mStopping = false;
};

int Relay::setUp()
{
    QString error;
    CasterUsers users;
    if (!mOptions.users.isEmpty()) {
        QFile file(mOptions.users);
        if (!file.open(QIODevice::ReadOnly)) {
            note(QStringLiteral("cannot read %1: %2").arg(mOptions.users, file.errorString()));
            return 1;
        }
        users = CasterUsers::parse(file.read(1 << 20), &error);
        if (!error.isEmpty())
            usageError(mOptions.users + QStringLiteral(": ") + error);
    }
    for (const QString &text : mOptions.outputs) {
        auto output = RelayOutput::create(RelayAddress::parse(text, &error), RelayClock::system(), &error, makeConversion);
        if (!output)
            usageError(error);
        connect(output.get(), &RelayOutput::note, this, [this](const QString &m) { note(m); });
        mOutputs.push_back(std::move(output));
    }
    for (const QString &text : mOptions.inputs) {
        const RelayAddress address = RelayAddress::parse(text, &error);
        std::unique_ptr<FrameSource> rinex = error.isEmpty() ? makeRinexSource(address, &error) : nullptr;
        auto input = error.isEmpty() ? RelayInput::create(address, &error, std::move(rinex)) : nullptr;
        if (!input)
            usageError(error);
        if (!input->mount().isEmpty() && mOptions.caster.isEmpty())
            usageError(QStringLiteral("%1: ?mount= needs --caster").arg(address.text));
        connect(input.get(), &RelayInput::note, this, [this](const QString &m) { note(m); });
        connect(input.get(), &RelayInput::finished, this, [this] { inputFinished(); });
        for (auto &output : mOutputs)
            connect(input.get(), &RelayInput::frameReady, output.get(), &RelayOutput::offer);
        input->setBusyCheck([this] {
            return std::any_of(mOutputs.begin(), mOutputs.end(), [](const auto &o) { return o->busy(); });
        });
        mInputs.push_back(std::move(input));
    }
    if (!mOptions.caster.isEmpty()) {
        const qsizetype colon = mOptions.caster.lastIndexOf(QLatin1Char(':'));
        QString host = colon < 0 ? QString() : mOptions.caster.left(colon);
        if (host.startsWith(QLatin1Char('[')))
            host = host.mid(1, host.size() - 2);
        bool ok = false;
        const uint port = mOptions.caster.mid(colon + 1).toUInt(&ok);
        if (!ok || port > 65535)
            usageError(QStringLiteral("--caster takes [HOST:]PORT"));
        mCaster = std::make_unique<Caster>(std::move(users));
        connect(mCaster.get(), &Caster::note, this, [this](const QString &m) { note(m); });
        const QHostAddress address = host.isEmpty() ? QHostAddress::Any : QHostAddress(host);
        if (!mCaster->listen(address, quint16(port), &error)) {
            note(QStringLiteral("cannot serve on %1: %2").arg(mOptions.caster, error));
            return 1;
        }
        for (auto &input : mInputs)
            if (!input->mount().isEmpty())
                mCaster->attach(input.get());
    }
    for (auto &o : mOutputs)
        o->start();
    for (auto &i : mInputs)
        i->start();
    if (mOptions.everyS > 0) {
        connect(&mEvery, &QTimer::timeout, this, [this] { report(false); });
        mEvery.start(int(mOptions.everyS * 1000));
    }
    return 0;
}

void Relay::inputFinished()
{
    if (!mCaster && std::all_of(mInputs.begin(), mInputs.end(), [](const auto &i) { return i->isFinished(); }))
        stop();
}

void Relay::stop()
{
    if (mStopping)
        return;
    mStopping = true;
    mEvery.stop();
    if (mCaster)
        mCaster->close();
    mUndrained = int(mOutputs.size());
    const auto done = [this] {
        if (--mUndrained == 0) {
            report(true);
            QCoreApplication::exit(0);
        }
    };
    // Bytes still queued get a few seconds to leave; a peer that takes none cannot hold the end.
    QTimer::singleShot(5000, this, [this] {
        report(true);
        QCoreApplication::exit(0);
    });
    if (mOutputs.empty()) {
        report(true);
        return QCoreApplication::exit(0);
    }
    for (auto &o : mOutputs) {
        connect(o.get(), &RelayOutput::drained, this, done, Qt::SingleShotConnection);
        o->flush();
        o->finish();
    }
}

void Relay::report(bool summary)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<EndpointStats> all;
    for (const auto &i : mInputs)
        all << i->stats();
    for (const auto &o : mOutputs)
        all << o->stats();
    if (mCaster)
        all << mCaster->stats();
    for (EndpointStats &s : all) {
        if (summary)
            s.role += QStringLiteral(" total");
        const QByteArray line = mOptions.json ? s.json(now) : s.text(now).toUtf8();
        std::fprintf(stderr, "%s\n", line.constData());
    }
    std::fflush(stderr);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const Options options = parseOptions(app.arguments());
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, gSignalPipe) != 0)
        return 1;
    std::signal(SIGPIPE, SIG_IGN);
    for (const int s : {SIGINT, SIGTERM, SIGHUP})
        std::signal(s, onSignal);
    Relay relay(options);
    QSocketNotifier signalNotifier(gSignalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &relay, [&relay] {
        char number = 0;
        if (::read(gSignalPipe[0], &number, 1) == 1 && number == SIGHUP)
            relay.reopen();
        else
            relay.stop();
    });
    if (const int failed = relay.setUp())
        return failed;
    return app.exec();
}
