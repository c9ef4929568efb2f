// SPDX-License-Identifier: GPL-3.0-or-later
// qv550-sim: a simulated projector on a new pseudo-terminal (whose path it
// prints as the first line of its output) or on a given serial device.

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <iostream>

#include "app/quit_on_signals.h"
#include "simulator/simulated_projector.h"

namespace {

int intValue(
    const QCommandLineParser &parser, const QCommandLineOption &option, int fallback, int low, int high)
{
    if (!parser.isSet(option))
        return fallback;
    bool ok = false;
    const int value = parser.value(option).toInt(&ok);
    if (!ok || value < low || value > high) {
        std::cerr << "qv550-sim: --" << option.names().first().toStdString() << " must be a number from "
                  << low << " to " << high << "\n";
        std::exit(2);
    }
    return value;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qv550-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PANEL_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A simulated QV550 projector for the panel. Without --device it opens a new\n"
                       "pseudo-terminal and prints the path the panel should use (--com1 PATH)\n"
                       "as the first line of its output. With --device it ends (status 1) when\n"
                       "that line hangs up.\n\n"
                       "To reach it over a network line (the panel's tcp://HOST:PORT and\n"
                       "rfc2217://HOST:PORT devices), serve a socat pseudo-terminal pair with\n"
                       "ser2net and run qv550-sim --device on the pair's other end.\n\n"
                       "Signals play what happens behind a controller's back: SIGUSR1 switches\n"
                       "to the next input (1 to 4), as a remote control would; SIGUSR2 stops\n"
                       "answering, or answers again, as a projector that hangs a while. Each is\n"
                       "told on standard error.\n\n")
        + QString::fromUtf8(kReplyFormats));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption device({QStringLiteral("device")},
        QStringLiteral("Answer on this serial device instead of a new pseudo-terminal."),
        QStringLiteral("PATH"));
    const QCommandLineOption baud(
        {QStringLiteral("baud")}, QStringLiteral("Line speed of --device (19200)."), QStringLiteral("RATE"));
    const QCommandLineOption address({QStringLiteral("address")},
        QStringLiteral("This projector's address, 1 to 4 (1)."), QStringLiteral("N"));
    const QCommandLineOption log({QStringLiteral("log")},
        QStringLiteral("Append every line received, with a timestamp, to FILE."), QStringLiteral("FILE"));
    const QCommandLineOption delay(
        {QStringLiteral("delay")}, QStringLiteral("Answer MS milliseconds late."), QStringLiteral("MS"));
    const QCommandLineOption pieces({QStringLiteral("pieces")},
        QStringLiteral("Send replies in pieces of N bytes."), QStringLiteral("N"));
    const QCommandLineOption gap(
        {QStringLiteral("gap")}, QStringLiteral("Milliseconds between pieces (10)."), QStringLiteral("MS"));
    const QCommandLineOption silent({QStringLiteral("silent")}, QStringLiteral("Never answer."));
    const QCommandLineOption noise({QStringLiteral("noise")},
        QStringLiteral("Mix random bytes of every code into PERCENT of the replies."),
        QStringLiteral("PERCENT"));
    const QCommandLineOption randomState({QStringLiteral("random-state")},
        QStringLiteral("Start of the random sequence for --noise and --flood (1)."), QStringLiteral("N"));
    const QCommandLineOption floodOption({QStringLiteral("flood")},
        QStringLiteral("Send random bytes without pause at the speed of a RATE-baud line."),
        QStringLiteral("RATE"));
    const QCommandLineOption countdown({QStringLiteral("countdown")},
        QStringLiteral("Milliseconds from power on to lamps lit (3000)."), QStringLiteral("MS"));
    const QCommandLineOption cooldown({QStringLiteral("cooldown")},
        QStringLiteral("Milliseconds of cooling down before stand-by (5000)."), QStringLiteral("MS"));
    parser.addOptions({device, baud, address, log, delay, pieces, gap, silent, noise, randomState,
        floodOption, countdown, cooldown});
    parser.process(app);

    SimOptions options;
    options.address = intValue(parser, address, 1, 1, 4);
    options.baudRate = intValue(parser, baud, 19200, 50, 4000000);
    options.replyDelayMs = intValue(parser, delay, 0, 0, 600000);
    options.pieceSize = intValue(parser, pieces, 0, 0, 4096);
    options.pieceGapMs = intValue(parser, gap, 10, 0, 600000);
    options.silent = parser.isSet(silent);
    options.noisePercent = intValue(parser, noise, 0, 0, 100);
    options.randomState = static_cast<std::uint32_t>(intValue(parser, randomState, 1, 0, 2147483647));
    options.floodBaud = intValue(parser, floodOption, 0, 0, 4000000);
    options.timing.countDownMs = intValue(parser, countdown, 3000, 0, 600000);
    options.timing.coolDownMs = intValue(parser, cooldown, 5000, 0, 600000);
    options.logPath = parser.value(log).toStdString();

    std::string error;
    auto projector = parser.isSet(device)
        ? SimulatedProjector::onDevice(parser.value(device).toStdString(), options, error)
        : SimulatedProjector::onNewPseudoTerminal(options, error);
    if (!projector) {
        std::cerr << "qv550-sim: " << error << "\n";
        return 1;
    }
    // A rig that unplugs the device must see the simulator go with it, not
    // find it idling on a deleted device.
    projector->setOnLineLost([] { QCoreApplication::exit(1); });
    SimulatedProjector *simulated = projector.get();
    onSignals(app, {SIGUSR1, SIGUSR2}, [simulated](int number) {
        if (number == SIGUSR1) {
            int &input = simulated->model().state().inputMode;
            input = input % 4 + 1;
            std::cerr << "qv550-sim: input " << input << " chosen by the remote\n";
        } else {
            simulated->setSilent(!simulated->silent());
            std::cerr << "qv550-sim: " << (simulated->silent() ? "silent" : "answering again") << '\n';
        }
    });
    std::cout << projector->devicePath() << std::endl; // flushed: scripts wait for this line
    return QCoreApplication::exec();
}
