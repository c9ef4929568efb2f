// SPDX-License-Identifier: GPL-3.0-or-later
// The real programs: the panel under a private X server, its COM1 the
// simulator's pseudo-terminal, driven by real X input at the controls'
// places on the window. The simulator's log tells what reached the line.

#include <QElapsedTimer>
#include <QFile>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include "processes.h"
#include "pseudo_terminal.h"
#include "serial_rig.h"
#include "x_session.h"

namespace {

const QString kPanel = QStringLiteral(PANEL_BINARY_DIR "/bin/qv550-control");
const QString kSimulator = QStringLiteral(PANEL_BINARY_DIR "/bin/qv550-sim");
const QString kCli = QStringLiteral(PANEL_BINARY_DIR "/bin/qv550-cli");

// The centre of a control, in logical pixels of the client area, from its
// twips box and the offset of its container.
QPoint centre(int left, int top, int width, int height)
{
    return {(left + width / 2) / 15, (top + height / 2) / 15};
}

const QPoint kPowerOn = centre(120 + 120, 240 + 600, 615, 300);
const QPoint kZoomPlus = centre(4440, 2880, 375, 255);
const QPoint kLogo = centre(8160, 120, 1200, 390);
const QPoint kDataButton = centre(6615, 5040, 1200, 375);
const QPoint kAddress002 = centre(75 + 4080, 6225 + 180, 735, 225);
const QPoint kEntryBox = centre(120 + 600, 8055 + 165, 5055, 345);
const QPoint kSend = centre(120 + 5760, 8055 + 240, 735, 255);

class RealPrograms : public ::testing::Test {
protected:
    XSession x;
    QTemporaryDir scratch;
    QProcess simulator;
    QProcess panel;
    QString window;
    QString device;

    virtual void beforeThePanel() { }
    virtual QStringList simulatorArguments() const { return {}; }
    virtual QStringList panelArguments() const { return {}; }
    bool panelErrorsRead = false; // read by the test rather than passed on
    void SetUp() override
    {
        ASSERT_TRUE(x.problem().empty()) << x.problem();
        simulator.start(kSimulator, QStringList{QStringLiteral("--log"), logPath()} + simulatorArguments());
        ASSERT_TRUE(simulator.waitForReadyRead(5000))
            << "the simulator did not start: " << kSimulator.toStdString();
        device = QString::fromLocal8Bit(simulator.readLine().trimmed());
        beforeThePanel();
        panel.setProcessEnvironment(x.environment());
        panel.setProcessChannelMode(
            panelErrorsRead ? QProcess::SeparateChannels : QProcess::ForwardedErrorChannel);
        panel.start(kPanel, QStringList{QStringLiteral("--com1"), device} + panelArguments());
        ASSERT_TRUE(panel.waitForStarted(5000)) << "cannot start " << kPanel.toStdString();
        window = x.waitForWindow(QStringLiteral("QV550  CONTROL"));
        ASSERT_FALSE(window.isEmpty()) << "the panel's window did not appear";
        xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
    }
    void TearDown() override
    {
        stopProcess(panel);
        stopProcess(simulator);
    }
    QString logPath() const { return scratch.filePath(QStringLiteral("lines.log")); }
    QString xdotool(const QStringList &arguments) { return x.run(QStringLiteral("xdotool"), arguments); }
    void move(QPoint at)
    {
        xdotool(QStringList{QStringLiteral("mousemove"), QStringLiteral("--window"), window,
            QString::number(at.x()), QString::number(at.y())});
    }
    void click(QPoint at, int times = 1)
    {
        move(at);
        xdotool({QStringLiteral("click"), QStringLiteral("--repeat"), QString::number(times),
            QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("1")});
    }
    void key(const QString &keys)
    {
        xdotool({QStringLiteral("key"), QStringLiteral("--window"), window, keys});
    }
    // The lines the simulator has received so far, without their timestamps.
    QStringList lines(int atLeast = 0, int milliseconds = 3000)
    {
        QStringList found;
        for (int waited = 0; waited <= milliseconds; waited += 50) {
            found.clear();
            QFile file(logPath());
            if (file.open(QIODevice::ReadOnly)) {
                for (const QByteArray &line : file.readAll().split('\n')) {
                    if (!line.isEmpty())
                        found << QString::fromLatin1(line.mid(line.indexOf(' ') + 1));
                }
            }
            if (found.size() >= atLeast)
                break;
            QThread::msleep(50);
        }
        return found;
    }
    // The window's client height in pixels as the X server has it, once it
    // has become `expected` or after three seconds.
    int heightBecomes(int expected)
    {
        int height = -1;
        for (int waited = 0; waited < 3000 && height != expected; waited += 50) {
            QThread::msleep(50);
            const QString info = x.run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), window});
            for (const QString &line : info.split(QLatin1Char('\n'))) {
                if (line.trimmed().startsWith(QStringLiteral("Height:")))
                    height = line.section(QLatin1Char(':'), 1).trimmed().toInt();
            }
        }
        return height;
    }
};

TEST_F(RealPrograms, PowerOnSendsC00AloneAndWithTheAddressChosenInTheDataPanel)
{
    click(kPowerOn);
    EXPECT_EQ(lines(1), QStringList({QStringLiteral("C00")}));
    key(QStringLiteral("ctrl+q"));
    ASSERT_EQ(heightBecomes((7200 - 370) / 15), (7200 - 370) / 15);
    click(kAddress002);
    click(kPowerOn);
    EXPECT_EQ(lines(2), QStringList({QStringLiteral("C00"), QStringLiteral("A002C00")}));
}

// The panel serving its line runs scenes asked of it; a press at the
// panel stops the running one. The projector counts down for 2 s.
class PanelScenes : public RealPrograms {
protected:
    PanelScenes() { panelErrorsRead = true; }
    void beforeThePanel() override
    {
        QFile file(scenesPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(
            R"({"presentation": [{"command": "power-on"}, {"wait": {"status": "Power ON"}, "timeout_s": 20},
                                         {"command": "input-2"}, {"expect": {"mode": "Input mode 2"}}],
                       "slow": [{"command": "input-3"}, {"delay_s": 30}, {"command": "input-4"}]})");
    }
    QStringList simulatorArguments() const override
    {
        return {QStringLiteral("--countdown"), QStringLiteral("2000")};
    }
    QStringList panelArguments() const override { return {QStringLiteral("--scenes"), scenesPath()}; }
    QString scenesPath() const { return scratch.filePath(QStringLiteral("room.json")); }
    QStringList cliArguments(const QStringList &more) const
    {
        return QStringList{QStringLiteral("--port"), device} + more;
    }
};

TEST_F(PanelScenes, ASceneRunsThroughThePanelsLineAndAPressThereStopsIt)
{
    QProcess cli;
    cli.start(kCli, cliArguments({QStringLiteral("scene"), QStringLiteral("presentation")}));
    ASSERT_TRUE(cli.waitForFinished(30000));
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    EXPECT_EQ(cli.exitCode(), 0) << out.toStdString() << cli.readAllStandardError().toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("presentation: done"))) << out.toStdString();
    EXPECT_TRUE(lines().contains(QStringLiteral("C06")));

    QProcess slow;
    slow.start(kCli, cliArguments({QStringLiteral("scene"), QStringLiteral("slow")}));
    ASSERT_TRUE(slow.waitForStarted(5000));
    for (int waited = 0; waited < 10000 && !lines().contains(QStringLiteral("C07")); waited += 50)
        QThread::msleep(50);
    ASSERT_TRUE(lines().contains(QStringLiteral("C07"))) << "the slow scene's first step never went";
    click(kPowerOn);
    ASSERT_TRUE(slow.waitForFinished(10000)) << "a press at the panel did not stop the scene";
    EXPECT_EQ(slow.exitCode(), 1);
    EXPECT_TRUE(slow.readAllStandardOutput().contains("slow: stopped, a press at the panel"));
    EXPECT_EQ(lines().count(QStringLiteral("C00")), 2); // the press went, after the presentation's
    EXPECT_FALSE(lines().contains(QStringLiteral("C08")));
    // What the status line said, the panel says on its standard error too.
    std::string said;
    for (int waited = 0; waited < 5000 && said.find("Scene slow stopped") == std::string::npos;
         waited += 50) {
        panel.waitForReadyRead(50);
        said += panel.readAllStandardError().toStdString();
    }
    EXPECT_NE(said.find(" Scene presentation 2/4: wait status = Power ON"), std::string::npos) << said;
    EXPECT_NE(said.find(" Scene presentation done"), std::string::npos) << said;
    EXPECT_NE(said.find(" Scene slow stopped: a press at the panel"), std::string::npos) << said;
}

// A scene file with a fault: the panel says why and opens without scenes.
class PanelWithABadSceneFile : public PanelScenes {
protected:
    void beforeThePanel() override
    {
        QFile file(scenesPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(R"({"on": [{"command": "power-onn"}]})");
    }
};

TEST_F(PanelWithABadSceneFile, SaysWhyAndGoesOnWithoutScenes)
{
    std::string said;
    for (int waited = 0; waited < 5000 && said.find("power-onn") == std::string::npos; waited += 50) {
        panel.waitForReadyRead(50);
        said += panel.readAllStandardError().toStdString();
    }
    EXPECT_NE(said.find("qv550-control: no scenes: " + scenesPath().toStdString()
                  + ": scene \"on\", step 1: unknown command \"power-onn\""),
        std::string::npos)
        << said;
    click(kPowerOn); // the panel works on
    EXPECT_TRUE(lines(1).contains(QStringLiteral("C00")));
}

TEST_F(RealPrograms, AZoomHeld300msSendsThePressAndOneLinePer50ms)
{
    move(kZoomPlus);
    xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
    QThread::msleep(300);
    xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
    const QStringList sent = lines(7, 1000);
    // The press and six ticks. The hold as the panel sees it runs from the
    // X server's press to its release, which a loaded machine may stretch by
    // a tick or two; it can never be shorter than 250 ms.
    EXPECT_GE(sent.size(), 6);
    EXPECT_LE(sent.size(), 9);
    EXPECT_EQ(sent.count(QStringLiteral("C47")), sent.size());
    QThread::msleep(300);
    EXPECT_EQ(lines().size(), sent.size()) << "the repeat went on after the release";
}

TEST_F(RealPrograms, TheFreeCommandEntrySendsWhatWasTyped)
{
    key(QStringLiteral("ctrl+q"));
    click(kLogo, 2);
    ASSERT_EQ(heightBecomes(8730 / 15), 8730 / 15);
    click(kEntryBox);
    xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"),
        QStringLiteral("CR PROJH")});
    click(kSend);
    EXPECT_EQ(lines(1), QStringList({QStringLiteral("CR PROJH")}));
}

TEST_F(RealPrograms, TheWindowCaptionIsExactlyThePanelsOwn)
{
    EXPECT_EQ(
        xdotool({QStringLiteral("getwindowname"), window}), QStringLiteral("ZORP  QV550  CONTROL  Ver.140"));
}

TEST_F(RealPrograms, CtrlQTheLogoAndTheDataButtonSetTheWindowHeights)
{
    const auto pixels = [](int outerTwips) { return (outerTwips - 370) / 15; };
    EXPECT_EQ(heightBecomes(pixels(5350)), pixels(5350));
    click(kLogo, 2); // does nothing before Ctrl+Q
    QThread::msleep(300);
    EXPECT_EQ(heightBecomes(pixels(5350)), pixels(5350));
    key(QStringLiteral("ctrl+q"));
    EXPECT_EQ(heightBecomes(pixels(7200)), pixels(7200));
    click(kLogo, 2);
    EXPECT_EQ(heightBecomes(pixels(9100)), pixels(9100));
    click(kDataButton);
    EXPECT_EQ(heightBecomes(pixels(5350)), pixels(5350));
    key(QStringLiteral("space")); // the button keeps the focus below the visible area
    EXPECT_EQ(heightBecomes(pixels(6645)), pixels(6645));
    click(kDataButton);
    EXPECT_EQ(heightBecomes(pixels(5350)), pixels(5350));
    EXPECT_TRUE(lines().isEmpty());
}

// The window's place and size on the X server: x, y, width, height.
QRect placeOf(XSession &x, const QString &window)
{
    QRect place;
    const QString info = x.run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), window});
    for (const QString &line : info.split(QLatin1Char('\n'))) {
        const int value = line.section(QLatin1Char(':'), 1).trimmed().toInt();
        if (line.trimmed().startsWith(QStringLiteral("Absolute upper-left X:")))
            place.moveLeft(value);
        else if (line.trimmed().startsWith(QStringLiteral("Absolute upper-left Y:")))
            place.moveTop(value);
        else if (line.trimmed().startsWith(QStringLiteral("Width:")))
            place.setWidth(value);
        else if (line.trimmed().startsWith(QStringLiteral("Height:")))
            place.setHeight(value);
    }
    return place;
}

// The panel's warning boxes on the screen now (their title is the
// application's name; the window's own caption is longer).
QStringList boxesOn(XSession &x)
{
    return x
        .run(QStringLiteral("xdotool"),
            {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                QStringLiteral("^QV550 Control$")})
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Watches for boxes for `milliseconds`; each that appears is dismissed at
// once when `dismiss` is set. Returns how many times a box appeared.
int boxesAppearing(XSession &x, int milliseconds, bool dismiss)
{
    int appeared = 0;
    bool shown = false;
    QElapsedTimer watched;
    watched.start();
    while (watched.elapsed() < milliseconds) {
        const QStringList boxes = boxesOn(x);
        if (!boxes.isEmpty() && !shown)
            ++appeared;
        shown = !boxes.isEmpty();
        if (shown && dismiss) {
            // Escape on the real keyboard, as a person presses it: a key
            // sent "to a window" that the press closes has its release sent
            // to a window that no longer exists, and the key stays down in
            // the X server, repeating into whatever has the focus next.
            x.run(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), boxes.first()});
            x.run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")});
        }
        QThread::msleep(50);
    }
    return appeared;
}

TEST_F(RealPrograms, HeightChangesKeepTheWindowWhereTheUserMovedIt)
{
    xdotool({QStringLiteral("windowmove"), QStringLiteral("--sync"), window, QStringLiteral("210"),
        QStringLiteral("140")});
    const auto placeBecomes = [&](QPoint expected) {
        QRect place;
        for (int waited = 0; waited < 3000 && place.topLeft() != expected; waited += 50) {
            QThread::msleep(50);
            place = placeOf(x, window);
        }
        return place.topLeft();
    };
    ASSERT_EQ(placeBecomes(QPoint(210, 140)), QPoint(210, 140));
    const auto pixels = [](int outerTwips) { return (outerTwips - 370) / 15; };
    key(QStringLiteral("ctrl+q"));
    EXPECT_EQ(heightBecomes(pixels(7200)), pixels(7200));
    EXPECT_EQ(placeBecomes(QPoint(210, 140)), QPoint(210, 140));
    key(QStringLiteral("ctrl+q")); // again: the full height
    EXPECT_EQ(heightBecomes(pixels(9100)), pixels(9100));
    EXPECT_EQ(placeBecomes(QPoint(210, 140)), QPoint(210, 140));
    click(kDataButton);
    EXPECT_EQ(heightBecomes(pixels(5350)), pixels(5350));
    EXPECT_EQ(placeBecomes(QPoint(210, 140)), QPoint(210, 140));
}

// The panel on a line that can be unplugged and plugged in again, its
// warning boxes real and seen on the X server.
class OutageBoxes : public ::testing::Test {
protected:
    XSession x;
    SerialRig rig;
    QProcess panel;
    QString window;
    // The title is the panel's own again once the line is back: only what is
    // beside it says the line is down.
    bool titleBecomesPlain(int milliseconds)
    {
        QElapsedTimer waited;
        waited.start();
        do {
            if (x.run(QStringLiteral("xdotool"), {QStringLiteral("getwindowname"), window}).trimmed()
                == QStringLiteral("ZORP  QV550  CONTROL  Ver.140"))
                return true;
            QThread::msleep(50);
        } while (waited.elapsed() < milliseconds);
        return false;
    }
    // The title stays plain for `span` ms on end, within `limit` ms.
    bool titleStaysPlain(int span, int limit)
    {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < limit) {
            if (!titleBecomesPlain(limit))
                return false;
            QElapsedTimer plain;
            plain.start();
            while (plain.elapsed() < span && titleBecomesPlain(0))
                QThread::msleep(100);
            if (plain.elapsed() >= span)
                return true;
        }
        return false;
    }
    void SetUp() override
    {
        ASSERT_TRUE(x.problem().empty()) << x.problem();
        ASSERT_TRUE(rig.plug());
        panel.setProcessEnvironment(x.environment());
        panel.start(kPanel, {QStringLiteral("--com1"), QString::fromStdString(rig.panelEnd())});
        window = x.waitForWindow(QStringLiteral("QV550  CONTROL"));
        ASSERT_FALSE(window.isEmpty());
        QThread::msleep(300);
        ASSERT_TRUE(boxesOn(x).isEmpty());
    }
    void TearDown() override { stopProcess(panel); }
};

TEST_F(OutageBoxes, TheBoxOfALostLineClosesWhenTheLineIsBack)
{
    rig.unplug();
    QElapsedTimer waited;
    waited.start();
    while (boxesOn(x).isEmpty() && waited.elapsed() < 5000)
        QThread::msleep(50);
    ASSERT_FALSE(boxesOn(x).isEmpty()) << "no box for the lost line";
    ASSERT_TRUE(rig.plug());
    waited.restart();
    while (!boxesOn(x).isEmpty() && waited.elapsed() < 8000)
        QThread::msleep(50);
    EXPECT_TRUE(boxesOn(x).isEmpty()) << "the box still says the line went away";
    EXPECT_EQ(boxesAppearing(x, 4000, false), 0);
}

TEST_F(OutageBoxes, OneOutageGivesOneBoxHoweverFastItIsDismissed)
{
    rig.unplug();
    EXPECT_EQ(boxesAppearing(x, 7000, true), 1);
    ASSERT_TRUE(rig.plug());
    // The line is back, and stays up past the panel's 3 s of settling (the
    // title plain all along): the outage is over, and a new one is told again.
    ASSERT_TRUE(titleStaysPlain(3000 + 1000, 30000));
    rig.unplug();
    EXPECT_EQ(boxesAppearing(x, 7000, true), 1);
}

TEST(SmallScreens, AtTwiceTheScaleEveryPartTheUserOpensIsOnTheScreen)
{
    for (const QString &size : {QStringLiteral("1024x768x24"), QStringLiteral("1280x1024x24")}) {
        XSession x(size);
        ASSERT_TRUE(x.problem().empty()) << x.problem();
        const QSize screen(size.section(u'x', 0, 0).toInt(), size.section(u'x', 1, 1).toInt());
        QProcess simulator;
        simulator.start(kSimulator, {});
        ASSERT_TRUE(simulator.waitForReadyRead(5000));
        QProcess panel;
        QProcessEnvironment environment = x.environment();
        environment.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
        panel.setProcessEnvironment(environment);
        panel.start(
            kPanel, {QStringLiteral("--com1"), QString::fromLocal8Bit(simulator.readLine().trimmed())});
        const QString window = x.waitForWindow(QStringLiteral("QV550  CONTROL"));
        ASSERT_FALSE(window.isEmpty()) << size.toStdString();
        const QRect compact = placeOf(x, window);
        // The whole width, the logo at its right end included.
        EXPECT_GE(compact.left(), 0) << size.toStdString();
        EXPECT_LE(compact.right(), screen.width() - 1) << size.toStdString();
        // Ctrl+Q, then a double-click on the logo: the bottom rows are in reach.
        x.run(QStringLiteral("xdotool"),
            {QStringLiteral("key"), QStringLiteral("--window"), window, QStringLiteral("ctrl+q")});
        const double scale = compact.width() / (9495.0 / 15.0);
        x.run(QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QStringLiteral("--window"), window,
                QString::number(qRound(kLogo.x() * scale)), QString::number(qRound(kLogo.y() * scale))});
        x.run(QStringLiteral("xdotool"),
            {QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("2"),
                QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("1")});
        QRect full;
        for (int waited = 0; waited < 3000 && full.height() <= compact.height() * 1.5; waited += 50) {
            QThread::msleep(50);
            full = placeOf(x, window);
        }
        EXPECT_GT(full.height(), compact.height() * 1.5)
            << size.toStdString() << ": the full height did not open";
        EXPECT_LE(full.bottom(), screen.height() - 1) << size.toStdString();
        stopProcess(panel);
        stopProcess(simulator);
    }
}

// The panel started on a line that qv550d already owns: it attaches as the
// owner's client, and its presses go through the owner.
class BesideAnOwner : public RealPrograms {
protected:
    QProcess owner;
    void beforeThePanel() override
    {
        // Not polling: every line on the wire is then the panel's.
        owner.start(QStringLiteral(PANEL_BINARY_DIR "/bin/qv550d"),
            {QStringLiteral("--port"), device, QStringLiteral("--no-poll")});
        owner.setReadChannel(QProcess::StandardError);
        ASSERT_TRUE(owner.waitForReadyRead(5000)) << "qv550d did not start";
    }
    void TearDown() override
    {
        RealPrograms::TearDown();
        stopProcess(owner);
    }
};

TEST_F(BesideAnOwner, ThePanelAttachesAsAClientAndItsPressesAndHoldsGoThroughTheOwner)
{
    QThread::msleep(500); // connected to the owner
    click(kPowerOn);
    EXPECT_EQ(lines(1), QStringList({QStringLiteral("C00")}));
    move(kZoomPlus);
    xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
    QThread::msleep(300);
    xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
    const QStringList sent = lines(5);
    EXPECT_GE(sent.count(QStringLiteral("C47")), 4) << sent.join(u' ').toStdString();
    EXPECT_LE(sent.count(QStringLiteral("C47")), 9) << sent.join(u' ').toStdString();
    EXPECT_EQ(owner.state(), QProcess::Running); // it still owns the line
}

TEST_F(BesideAnOwner, WhenTheOwnerEndsThePanelTakesTheLineOverWithoutABox)
{
    QThread::msleep(500); // connected to the owner
    click(kPowerOn);
    ASSERT_EQ(lines(1), QStringList({QStringLiteral("C00")}));
    stopProcess(owner);
    EXPECT_EQ(boxesAppearing(x, 6000, false), 0);
    // The panel has the line itself now: its presses reach it.
    QStringList sent;
    for (int tries = 0; tries < 10 && sent.size() < 2; ++tries) {
        click(kPowerOn);
        sent = lines(2, 1000);
    }
    EXPECT_EQ(sent, QStringList({QStringLiteral("C00"), QStringLiteral("C00")}));
    EXPECT_TRUE(boxesOn(x).isEmpty());
}

// The panel on a bare pseudo-terminal of the test's own: exactly what
// reaches the far end.
class BareLine : public ::testing::Test {
protected:
    XSession x;
    PseudoTerminal com1;
    QProcess panel;
};

TEST_F(BareLine, ClickingPowerOnPutsExactlyC00AndACarriageReturnOnTheLine)
{
    ASSERT_TRUE(x.problem().empty()) << x.problem();
    panel.setProcessEnvironment(x.environment());
    panel.start(kPanel, {QStringLiteral("--com1"), QString::fromStdString(com1.devicePath())});
    ASSERT_TRUE(panel.waitForStarted(5000)) << "cannot start " << kPanel.toStdString();
    const QString window = x.waitForWindow(QStringLiteral("QV550  CONTROL"));
    ASSERT_FALSE(window.isEmpty()) << "the panel's window did not appear";
    x.run(QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), QStringLiteral("--window"), window, QString::number(kPowerOn.x()),
            QString::number(kPowerOn.y()), QStringLiteral("click"), QStringLiteral("1")});
    EXPECT_EQ(com1.read(3000, 4), "C00\r");
    EXPECT_EQ(com1.read(300), "") << "more than one line was sent";
    stopProcess(panel);
}

} // namespace
