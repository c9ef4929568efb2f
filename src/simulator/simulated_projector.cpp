// SPDX-License-Identifier: GPL-3.0-or-later
// Pseudo-terminal and device handling for the simulator. Everything runs on
// the event loop of the thread that made it, through a socket notifier and
// single-shot timers, so the in-process demo shares the window's thread.

#include "simulator/simulated_projector.h"

#include <QDateTime>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

const char *const kReplyFormats = R"(Reply formats of the simulated projector (our model of the device):
  actions and settings ("C" + two hex digits, "CF <keyword> <value>")  ACK (06)
  CR0  power state, two hex digits + CR: 80 stand by, 40 count down,
       00 on, 20 cooling down, 21 on with every lamp failed
  CR1  input mode, one digit + CR
  CR3  lamp hours, "hhhh hhhh hhhh hhhh" (lamps 1 to 4) + CR
  CR4  orientation, two digits + CR: 11 normal, 10 top/bottom, 01 left/right
  CR6  temperatures, "+tt.t,+tt.t" + CR
  CR7  lamp mode digit (0 four lamps, 1 lamps 1+4, 2 lamps 2+3) and a hex
       mask of the lamps lit + CR
  CR9  PC type text + CR
  CRA  mutes, two hex digits + CR: bit 0 picture, bit 1 sound; 80 no
       signal, FF stand by
  CR PRESSURE  the raw sensor reading in decimal + CR (512 by default)
  CR PROJH, CR INPUT, CR SOURCE, CR MUTE, CR VMUTE, CR FREEZE, CR SCREEN,
  CR VOLUME, CR LAMPMODE, CR FANSPEED, CR INFPFAIL, CR SRCINP1..4
       a figure or a word + CR
  anything else  "ERR" + CR
Addresses: a line with no prefix or with this projector's "A00n" is
answered; "AFFF" (all projectors) is obeyed but never answered, so that
several projectors on one line cannot answer at once.
Power: C00 starts a count down that ends in power on, C01 a cool-down that
ends in stand by; C00 while cooling down answers ERR.)";

namespace {

bool makeRaw(int fd, int baud, std::string &error)
{
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        error = std::strerror(errno);
        return false;
    }
    cfmakeraw(&settings);
    speed_t speed = B19200;
    switch (baud) {
    case 9600:
        speed = B9600;
        break;
    case 38400:
        speed = B38400;
        break;
    case 57600:
        speed = B57600;
        break;
    case 115200:
        speed = B115200;
        break;
    default:
        break;
    }
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    if (tcsetattr(fd, TCSANOW, &settings) != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

std::string printable(std::string_view line)
{
    std::string out;
    for (const char c : line) {
        const auto code = static_cast<unsigned char>(c);
        if (code >= 32 && code < 127 && c != '\\') {
            out += c;
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", code);
            out += escaped;
        }
    }
    return out;
}

} // namespace

std::unique_ptr<SimulatedProjector> SimulatedProjector::onNewPseudoTerminal(
    const SimOptions &options, std::string &error)
{
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        return nullptr;
    }
    if (!makeRaw(slave, options.baudRate, error)) {
        close(master);
        close(slave);
        return nullptr;
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    return std::unique_ptr<SimulatedProjector>(new SimulatedProjector(master, slave, name, options));
}

std::unique_ptr<SimulatedProjector> SimulatedProjector::onDevice(
    const std::string &path, const SimOptions &options, std::string &error)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (!makeRaw(fd, options.baudRate, error)) {
        error = path + ": " + error;
        close(fd);
        return nullptr;
    }
    return std::unique_ptr<SimulatedProjector>(new SimulatedProjector(fd, -1, path, options));
}

SimulatedProjector::SimulatedProjector(int fd, int heldFd, std::string devicePath, const SimOptions &options)
    : fd_(fd), heldFd_(heldFd), devicePath_(std::move(devicePath)), options_(options),
      model_(options.address, options.timing), random_(options.randomState)
{
    clock_.start();
    if (!options_.logPath.empty())
        log_.open(options_.logPath, std::ios::app);
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { onReadable(); });
    if (options_.floodBaud > 0) {
        floodTimer_ = new QTimer(this);
        floodTimer_->setTimerType(Qt::PreciseTimer);
        connect(floodTimer_, &QTimer::timeout, this, [this] { flood(); });
        floodTimer_->start(5);
    }
}

SimulatedProjector::~SimulatedProjector()
{
    vanish();
}

void SimulatedProjector::vanish()
{
    if (notifier_)
        notifier_->setEnabled(false);
    if (floodTimer_)
        floodTimer_->stop();
    if (fd_ >= 0)
        close(fd_);
    if (heldFd_ >= 0)
        close(heldFd_);
    fd_ = -1;
    heldFd_ = -1;
}

void SimulatedProjector::onReadable()
{
    char buffer[4096];
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n <= 0) {
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        notifier_->setEnabled(false); // the line is gone; do not spin on it
        std::fprintf(stderr, "qv550-sim: the line on %s was lost; no more answers\n", devicePath_.c_str());
        if (onLineLost_)
            onLineLost_();
        return;
    }
    const std::string_view bytes(buffer, static_cast<std::size_t>(n));
    model_.receive(
        bytes, clock_.elapsed(),
        [this](std::string reply) {
            if (!options_.silent)
                send(std::move(reply));
        },
        [this](std::string_view line) { log(line); });
}

void SimulatedProjector::send(std::string reply)
{
    if (options_.noisePercent > 0
        && std::uniform_int_distribution<int>(1, 100)(random_) <= options_.noisePercent) {
        const int count = std::uniform_int_distribution<int>(1, 4)(random_);
        for (int i = 0; i < count; ++i) {
            const auto at = std::uniform_int_distribution<std::size_t>(0, reply.size())(random_);
            reply.insert(reply.begin() + static_cast<long>(at),
                static_cast<char>(std::uniform_int_distribution<int>(0, 255)(random_)));
        }
    }
    const std::size_t piece
        = options_.pieceSize > 0 ? static_cast<std::size_t>(options_.pieceSize) : reply.size();
    int at = options_.replyDelayMs;
    for (std::size_t from = 0; from < reply.size(); from += piece) {
        std::string part = reply.substr(from, piece);
        if (at == 0)
            writeNow(part);
        else
            QTimer::singleShot(at, Qt::PreciseTimer, this, [this, part] { writeNow(part); });
        at += options_.pieceGapMs;
    }
}

void SimulatedProjector::writeNow(const std::string &bytes)
{
    if (fd_ < 0)
        return;
    // What the terminal does not take is lost, as on a wire with no one listening.
    [[maybe_unused]] const ssize_t written = write(fd_, bytes.data(), bytes.size());
}

void SimulatedProjector::flood()
{
    // Ten bits a byte on the line (start, eight data, stop).
    const std::int64_t owed = clock_.elapsed() * options_.floodBaud / 10000 - floodSent_;
    if (owed <= 0)
        return;
    std::string bytes(static_cast<std::size_t>(owed), '\0');
    for (char &c : bytes)
        c = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(random_));
    floodSent_ += owed; // what the kernel cannot take now is lost, as on a real line
    writeNow(bytes);
}

void SimulatedProjector::log(std::string_view line)
{
    if (!log_.is_open())
        return;
    log_ << QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toStdString() << ' ' << printable(line)
         << '\n';
    log_.flush();
}
